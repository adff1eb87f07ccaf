#include "NSLog.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

#include "../foundation/NSError.h"

namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

platform::LogSink& currentSink() {
    static platform::LogSink sink;
    return sink;
}

std::string& processName() {
    static std::string name;
    return name;
}

std::string defaultProcessName() {
    char buffer[256];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "process";
    std::string_view path(buffer, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Replaces each "%@" in `format` with `argument`; "%%" stands for "%".
std::string substitute(std::string_view format, std::string_view argument) {
    std::string out;
    out.reserve(format.size() + argument.size());
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '@') {
                out += argument;
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

// Hands `message` to the sink, or writes it to standard error, prefixed
// when `prefixed`.
void emit(std::string_view message, bool prefixed) {
    std::lock_guard lock(logMutex());
    if (currentSink()) {
        currentSink()(message);
        return;
    }
    std::string line = prefixed ? platform::formatLogLine(message) : std::string(message);
    line += '\n';
    // One write per line so lines of several processes do not interleave.
    (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

void NSLog(std::string_view format, std::string_view argument) { emit(substitute(format, argument), true); }

void NSLog(std::string_view format, const NSError& error) { emit(substitute(format, error.description()), true); }

namespace platform {

void logServiceLine(std::string_view line) { emit(line, false); }

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(logMutex());
    return std::exchange(currentSink(), std::move(sink));
}

void setLogProcessName(std::string_view name) {
    std::lock_guard lock(logMutex());
    processName() = name;
}

std::string formatLogLine(std::string_view message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    const size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06lld", static_cast<long long>(micros));
    if (processName().empty()) processName() = defaultProcessName();
    std::string line(stamp, len);
    line += fraction;
    line += zone;
    line += ' ';
    line += processName();
    line += '[' + std::to_string(::getpid()) + ':' + std::to_string(::syscall(SYS_gettid)) + "] ";
    line += message;
    return line;
}

}  // namespace platform
