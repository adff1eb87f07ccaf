#pragma once
// Reads a scenario from JSON:
//   {"steps": [{"step": "begin"}, {"step": "start", "setupInfo": {...}},
//              {"step": "stream", "seconds": 10, "app": {...}, "mic": null}, ...]}
// Malformed JSON is reported with its line and column; an unknown step,
// an unknown field or a bad value with the step's index (from 1) and name.

#include <filesystem>
#include <string>
#include <string_view>

#include "Scenario.h"

namespace host {

// Throws HostError (code BadScenario) whose message starts with `name`.
// Relative file: sources are taken from `baseDirectory`.
Scenario parseScenario(std::string_view json, std::string_view name, const std::filesystem::path& baseDirectory = {});

// Reads and parses the file at `path`, whose relative file: sources are
// beside it. A missing or unreadable file, one that is not a regular file (a
// directory, a device, a pipe) and one beyond kMaxScenarioBytes are also
// BadScenario.
Scenario loadScenarioFile(const std::string& path);

}  // namespace host
