#include "NSExtension.h"

// The process entry belongs to the platform: it hosts the extension.
int main(int argc, char** argv) { return NSExtensionMain(argc, argv); }
