#pragma once
// The command-line manners both programs share, those of the GNU tools their
// users know: help that reads like a man page (usage first, one line of
// purpose, options in named groups with their defaults in words, then
// examples and exit statuses, all within 80 columns), "did you mean" for a
// mistyped long option, and the last value of an option given twice.

#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

namespace toolkit {

struct HelpPage {
    std::string purpose;  // one line
    std::vector<std::pair<std::string, std::string>> examples;  // command, what it does
    std::vector<std::pair<int, std::string>> exitStatuses;
};

// Gives `app` the help layout of `page` and makes every option added after
// this call take its last value when given more than once. Options are
// listed by group (Option::group), groups in the order they first appear.
void useHouseStyle(CLI::App& app, HelpPage page);

// One line that says what was wrong with the command line: an unknown
// option is named with the nearest known long option as a suggestion.
std::string describeParseError(const CLI::App& app, const CLI::ParseError& error);

// Accepts a finite number from `min` (above it when `aboveMin`) to `max`,
// a whole one when `whole`; the refusal names the bounds as plain numbers
// with `unit` ("seconds", "Hz", or empty).
CLI::Validator numberWithin(double min, double max, std::string unit, bool aboveMin = false, bool whole = false);

}  // namespace toolkit
