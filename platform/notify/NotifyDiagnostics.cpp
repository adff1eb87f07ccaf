#include "NotifyDiagnostics.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <string>

namespace platform::notify {

namespace {
constexpr size_t kProblemCount = static_cast<size_t>(Problem::ObserverThrew) + 1;
std::array<std::atomic<bool>, kProblemCount> reported{};
}  // namespace

void reportOnce(Problem problem, std::string_view message) {
    auto& flag = reported.at(static_cast<size_t>(problem));
    if (flag.exchange(true)) return;
    // One write call so concurrent lines from other threads do not interleave.
    std::string line = "notify: ";
    line.append(message);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace platform::notify
