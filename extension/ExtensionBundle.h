#pragma once
// The extension's bundle declaration, read by the program's main.

#include "platform/broadcast/NSExtension.h"

const NSExtensionBundle& NSExtensionMainBundle();
