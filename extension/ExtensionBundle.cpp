// The extension's bundle declaration: its name, its principal class and the
// application group it shares with its containing app.

#include "SampleHandler.h"
#include "platform/broadcast/NSExtension.h"

namespace {

std::unique_ptr<RPBroadcastSampleHandler> makeSampleHandler() { return std::make_unique<SampleHandler>(); }

}  // namespace

const NSExtensionBundle& NSExtensionMainBundle() {
    static const NSExtensionBundle bundle{"broadcast-extension", makeSampleHandler, {"group.tolvix"}};
    return bundle;
}
