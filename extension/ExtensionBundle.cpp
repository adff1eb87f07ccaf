// The extension's bundle declaration: its name, its principal class, the
// application group it shares with its containing app, and its identifier.

#include "ExtensionBundle.h"

#include "SampleHandler.h"

namespace {

std::unique_ptr<RPBroadcastSampleHandler> makeSampleHandler() { return std::make_unique<SampleHandler>(); }

}  // namespace

const NSExtensionBundle& NSExtensionMainBundle() {
    static const NSExtensionBundle bundle{
        "broadcast-extension", makeSampleHandler, {"group.tolvix"}, "com.sorvane.BroadcastExtension"};
    return bundle;
}
