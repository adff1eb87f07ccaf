#include "NotifyDiagnostics.h"

#include <array>
#include <atomic>
#include <string>

#include "../log/NSLog.h"

namespace platform::notify {

namespace {
constexpr size_t kProblemCount = static_cast<size_t>(Problem::ObserverThrew) + 1;
std::array<std::atomic<bool>, kProblemCount> reported{};
}  // namespace

void reportOnce(Problem problem, std::string_view message) {
    auto& flag = reported.at(static_cast<size_t>(problem));
    if (flag.exchange(true)) return;
    std::string line = "notify: ";
    line.append(message);
    platform::logServiceLine(line);
}

}  // namespace platform::notify
