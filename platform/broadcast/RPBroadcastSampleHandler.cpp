#include "RPBroadcastSampleHandler.h"

void RPBroadcastSampleHandler::beginRequestWithExtensionContext(NSExtensionContext* context) {
    context_ = context;
}

void RPBroadcastSampleHandler::finishBroadcastWithError(const NSErrorPtr& error) { finishError_ = error; }
