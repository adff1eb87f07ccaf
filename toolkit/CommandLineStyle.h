#pragma once
// The command-line manners both programs share, those of the GNU tools their
// users know: help that reads like a man page (usage first, one line of
// purpose, options in named groups with their defaults in words, then
// examples and exit statuses, all within 80 columns), "did you mean" for a
// mistyped long option, the last value of an option given twice, one rule for
// the numbers a person types, and a write error on standard output reported
// as an error.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

namespace toolkit {

struct HelpPage {
    std::string purpose;                                            // one line
    std::vector<std::pair<std::string, std::string>> examples;      // command, what it does
    std::vector<std::pair<std::string, std::string>> exitStatuses;  // status ("0", "128+N"), meaning
};

// Gives `app` the help layout of `page` and makes every option added after
// this call take its last value when given more than once. Options are
// listed by group (Option::group), groups in the order they first appear.
void useHouseStyle(CLI::App& app, HelpPage page);

// One line that says what was wrong with the command line: an unknown
// option is named with the nearest known long option as a suggestion.
std::string describeParseError(const CLI::App& app, const CLI::ParseError& error);

// The one rule for a number typed on either command line or in a source text
// (sine:FREQ, noise:SEED, -:FORMAT:RATE:CHANNELS): decimal digits, then, when
// `fraction`, optionally a point and more digits. No sign, exponent, other
// base, or space around it: " 5", "0x10", "1e3" and "+5" are not numbers.
bool isDecimalNumber(std::string_view text, bool fraction);

// Accepts a number by isDecimalNumber (a fraction unless `whole`) from `min`
// (above it when `aboveMin`) to `max`; the refusal names the bounds as plain
// numbers with `unit` ("seconds", "Hz", or empty). Give it to
// Option::transform: it drops leading zeros, which CLI11 would otherwise read
// as an octal whole number.
CLI::Validator numberWithin(double min, double max, std::string unit, bool aboveMin = false, bool whole = false);

// Flushes standard output (std::cout and the C stream under it). None when
// everything written reached it, else why not ("No space left on device").
std::optional<std::string> standardOutputFailure();

}  // namespace toolkit
