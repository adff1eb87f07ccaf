#pragma once
// A post as observers receive it: the notification's name and the text of its
// payload's entries (key, value), in the order they were added.

#include <string>
#include <utility>
#include <vector>

using NotificationPayload = std::vector<std::pair<std::string, std::string>>;

namespace platform {

struct Notification {
    std::string name;
    NotificationPayload payload;
};

}  // namespace platform
