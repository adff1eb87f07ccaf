#include "HostWarnings.h"

#include <iostream>
#include <string>
#include <utility>

namespace host {
namespace {

WarningSink& currentSink() {
    static WarningSink sink;
    return sink;
}

}  // namespace

void warn(std::string_view message) {
    if (currentSink())
        currentSink()(message);
    else
        std::cerr << "warning: " << message << std::endl;
}

WarningSink setWarningSink(WarningSink sink) { return std::exchange(currentSink(), std::move(sink)); }

}  // namespace host
