#include "CommandLineStyle.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

namespace toolkit {
namespace {

constexpr size_t kWidth = 79;  // a line never reaches the last column
constexpr size_t kDescriptionColumn = 24;

// `text` folded at spaces into lines of at most kWidth columns, each but the
// first indented by `indent` spaces; the first continues a line that already
// holds `used` columns.
std::string wrap(const std::string& text, size_t indent, size_t used) {
    std::string out;
    size_t column = used;
    std::istringstream words(text);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kWidth) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
    return out + "\n";
}

std::string optionLines(const CLI::Option& option) {
    std::string left = "  ";
    for (const std::string& name : option.get_snames()) left += "-" + name + ", ";
    for (const std::string& name : option.get_lnames()) left += "--" + name + ", ";
    left.resize(left.size() - 2);
    const std::string type = option.get_type_name();
    if (!type.empty()) left += " " + type.substr(0, type.find(':'));
    if (left.size() + 1 >= kDescriptionColumn)
        left += "\n" + std::string(kDescriptionColumn, ' ');
    else
        left.resize(kDescriptionColumn, ' ');
    return left + wrap(option.get_description(), kDescriptionColumn, kDescriptionColumn);
}

class ManPageFormatter final : public CLI::Formatter {
public:
    explicit ManPageFormatter(HelpPage page) : page_(std::move(page)) {}

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override {
        std::ostringstream out;
        out << "Usage: " << name << " [OPTION]...\n" << page_.purpose << "\n\nOptions:\n";
        const CLI::Option* help = app->get_help_ptr();
        // Groups in the order they first appear; the help flag, made before
        // every other option, comes last in its group.
        std::vector<std::string> groups;
        for (const CLI::Option* option : app->get_options())
            if (option != help && std::find(groups.begin(), groups.end(), option->get_group()) == groups.end())
                groups.push_back(option->get_group());
        if (help != nullptr && std::find(groups.begin(), groups.end(), help->get_group()) == groups.end())
            groups.push_back(help->get_group());
        for (const std::string& group : groups) {
            out << group << ":\n";
            for (const CLI::Option* option : app->get_options())
                if (option != help && option->get_group() == group) out << optionLines(*option);
            if (help != nullptr && help->get_group() == group) out << optionLines(*help);
            out << "\n";
        }
        out << "Examples:\n";
        for (const auto& [command, what] : page_.examples) out << "  " << command << "\n      " << wrap(what, 6, 6);
        out << "\nExit status:\n";
        size_t widest = 0;
        for (const auto& [status, meaning] : page_.exitStatuses) widest = std::max(widest, status.size());
        for (const auto& [status, meaning] : page_.exitStatuses) {
            const std::string left = "  " + status + std::string(widest - status.size() + 2, ' ');
            out << left << wrap(meaning, left.size(), left.size());
        }
        return out.str();
    }

private:
    HelpPage page_;
};

// Edits (insertions, deletions, substitutions, swaps of neighbours) that
// turn `a` into `b`.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The known long option `typed` most likely meant: the only one it begins,
// else the nearest within a few edits; empty when none is near.
std::string nearestOption(const CLI::App& app, const std::string& typed) {
    std::vector<std::string> known;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
    std::vector<std::string> extending;
    for (const std::string& name : known)
        if (typed.size() > 2 && name.starts_with(typed)) extending.push_back(name);
    if (extending.size() == 1) return extending.front();
    std::string best;
    size_t bestDistance = std::max<size_t>(2, typed.size() / 4) + 1;
    for (const std::string& name : known) {
        const size_t distance = editDistance(typed, name);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = name;
        }
    }
    return best;
}

// A bound as people write it: 768000, 0.5.
std::string plain(double value) {
    std::ostringstream text;
    text.precision(15);
    text << value;
    return text.str();
}

}  // namespace

void useHouseStyle(CLI::App& app, HelpPage page) {
    app.formatter(std::make_shared<ManPageFormatter>(std::move(page)));
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag("-h,--help", "Print this help and exit");
}

std::string describeParseError(const CLI::App& app, const CLI::ParseError& error) {
    if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr) return error.what();
    const std::vector<std::string> extras = app.remaining();
    for (const std::string& argument : extras) {
        if (argument.size() < 2 || argument[0] != '-') continue;
        const std::string name = argument.substr(0, argument.find('='));
        const std::string near = nearestOption(app, name);
        return "unknown option " + name + (near.empty() ? "" : " (did you mean " + near + "?)");
    }
    return "unexpected argument \"" + (extras.empty() ? std::string() : extras.front()) +
           "\" (every argument is an option or its value)";
}

bool isDecimalNumber(std::string_view text, bool fraction) {
    const auto digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const size_t point = fraction ? text.find('.') : std::string_view::npos;
    if (point == std::string_view::npos) return digits(text);
    return digits(text.substr(0, point)) && digits(text.substr(point + 1));
}

CLI::Validator numberWithin(double min, double max, std::string unit, bool aboveMin, bool whole) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            if (isDecimalNumber(text, !whole)) {
                const std::string number =
                    text.substr(std::min({text.find_first_not_of('0'), text.find('.') - 1, text.size() - 1}));
                double value = 0;
                if (CLI::detail::lexical_cast(number, value) && (aboveMin ? value > min : value >= min) &&
                    value <= max) {
                    text = number;
                    return {};
                }
            }
            std::string need = whole ? "a whole number " : "a number ";
            need += aboveMin ? "above " + plain(min) + " and up to " : "from " + plain(min) + " to ";
            need += plain(max);
            if (!unit.empty()) need += " " + unit;
            return "must be " + need + ", not \"" + text + "\"";
        },
        "");
}

std::optional<std::string> standardOutputFailure() {
    // A failed write set errno; the C stream's flush retries what it still
    // holds, so the reason is fresh whenever bytes were left unwritten.
    std::cout.flush();
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout.good();
    if (!failed) return std::nullopt;
    return errno != 0 ? std::strerror(errno) : "the output was cut short";
}

}  // namespace toolkit
