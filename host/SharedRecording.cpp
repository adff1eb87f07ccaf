#include "SharedRecording.h"

#include <algorithm>

#include "platform/files/NSFileManager.h"

namespace host {

std::string sharedRecordingPath(const NSExtensionBundle& bundle) {
    const auto& groups = bundle.applicationGroups;
    std::string group = kSharedAppGroup;
    if (!groups.empty() && std::find(groups.begin(), groups.end(), group) == groups.end()) group = groups.front();
    return platform::appGroupContainerRoot() + "/" + group + "/" + kSharedRecordingName;
}

}  // namespace host
