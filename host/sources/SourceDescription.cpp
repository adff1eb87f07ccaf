#include "SourceDescription.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "FileReader.h"
#include "Generators.h"
#include "RawPcmReader.h"
#include "ReaderSource.h"
#include "pulse/LiveSource.h"
#include "toolkit/CommandLineStyle.h"

namespace host {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

std::vector<std::string_view> splitColons(std::string_view text) { return split(text, ':'); }
std::vector<std::string_view> splitCommas(std::string_view text) { return split(text, ','); }

// A number by the rule of both command lines (decimal, a fraction only for
// a floating-point value).
template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    if (!toolkit::isDecimalNumber(text, std::is_floating_point_v<Number>)) return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

[[noreturn]] void invalid(std::string_view text, std::string_view why) {
    throw std::invalid_argument("bad source \"" + std::string(text) + "\": " + std::string(why));
}

// The live kinds: apps:NAMES, apps-except:NAMES, pulse and pulse:SOURCE.
// False for any other text.
bool parseLiveSource(std::string_view text, SourceDescription& described) {
    for (const std::string_view kind : {"apps:", "apps-except:"}) {
        if (!text.starts_with(kind)) continue;
        described.kind = SourceDescription::Kind::Apps;
        described.exceptApps = kind == "apps-except:";
        for (std::string_view name : splitCommas(text.substr(kind.size()))) {
            uint64_t pid = 0;
            if (name.empty() || (name.starts_with("pid:") && (!parseNumber(name.substr(4), pid) || pid == 0)))
                invalid(text, "write " + std::string(kind) + "NAME[,NAME...] with app names, programs or pid:N");
            described.apps.emplace_back(name);
        }
        return true;
    }
    if (text != "pulse" && !text.starts_with("pulse:")) return false;
    described.kind = SourceDescription::Kind::Pulse;
    described.path = std::string(text.substr(text.size() > 5 ? 6 : 5));
    if (text.size() > 5 && described.path.empty()) invalid(text, "write pulse or pulse:SOURCE");
    return true;
}

// FORMAT:RATE:CHANNELS of -:FORMAT:RATE:CHANNELS, split at the colons.
RawInputFormat parseRawInputFormat(std::string_view text, const std::vector<std::string_view>& parts) {
    RawInputFormat format;
    if (parts.size() != 4) invalid(text, "write - or -:FORMAT:RATE:CHANNELS, e.g. -:s16le:48000:2");
    try {
        format.layout = parseSampleLayout(parts[1]);
    } catch (const std::invalid_argument& error) {
        invalid(text, error.what());
    }
    if (!parseNumber(parts[2], format.sampleRate) || !(format.sampleRate >= 1) || format.sampleRate > kMaxSampleRate)
        invalid(text, "the rate must be a number of Hz from 1 to " + std::to_string(kMaxSampleRate));
    if (!parseNumber(parts[3], format.channels) || format.channels < 1 || format.channels > kMaxChannels)
        invalid(text, "the channel count must be in 1.." + std::to_string(kMaxChannels));
    return format;
}

}  // namespace

SourceDescription parseSourceDescription(std::string_view text) {
    SourceDescription described;
    described.text = std::string(text);
    if (text.starts_with("file:")) {
        described.kind = SourceDescription::Kind::File;
        described.path = std::string(text.substr(5));
        if (described.path.empty()) invalid(text, "no file path after \"file:\"");
        return described;
    }
    if (parseLiveSource(text, described)) return described;
    const std::vector<std::string_view> parts = splitColons(text);
    const std::string_view kind = parts[0];
    if (kind == "sine") {
        described.kind = SourceDescription::Kind::Sine;
        if (parts.size() != 2 || !parseNumber(parts[1], described.frequency) || !std::isfinite(described.frequency) ||
            described.frequency <= 0 || described.frequency > 384000)
            invalid(text, "write sine:FREQ with FREQ in Hz (0 < FREQ <= 384000)");
    } else if (kind == "tones" || kind == "melody") {
        described.kind = SourceDescription::Kind::Melody;
        if (parts.size() != 1) invalid(text, "tones takes no parameters");
    } else if (kind == "noise") {
        described.kind = SourceDescription::Kind::Noise;
        if (parts.size() > 2 || (parts.size() == 2 && !parseNumber(parts[1], described.seed)))
            invalid(text, "write noise or noise:SEED with a non-negative integer SEED");
    } else if (kind == "silence") {
        described.kind = SourceDescription::Kind::Silence;
        if (parts.size() != 1) invalid(text, "silence takes no parameters");
    } else if (kind == "none") {
        described.kind = SourceDescription::Kind::None;
        if (parts.size() != 1) invalid(text, "none takes no parameters");
    } else if (kind == "-") {
        described.kind = SourceDescription::Kind::Stdin;
        if (parts.size() > 1) described.stdinFormat = parseRawInputFormat(text, parts);
    } else {
        invalid(text,
                "expected sine:FREQ, tones, noise[:SEED], silence, file:PATH, -, pulse[:SOURCE], apps:NAMES, "
                "apps-except:NAMES or none");
    }
    return described;
}

std::unique_ptr<AudioSource> openSource(const SourceDescription& described, const AudioEncoding& encoding,
                                        const SourceContext& context) {
    switch (described.kind) {
        case SourceDescription::Kind::Sine: return std::make_unique<SineGenerator>(described.frequency);
        case SourceDescription::Kind::Melody: return std::make_unique<MelodyGenerator>();
        case SourceDescription::Kind::Noise: return std::make_unique<NoiseGenerator>(described.seed);
        case SourceDescription::Kind::Silence: return std::make_unique<SilenceGenerator>();
        case SourceDescription::Kind::File:
            return std::make_unique<ReaderSource>(std::make_unique<FileReader>(described.path, context.stop));
        case SourceDescription::Kind::Stdin: {
            const RawInputFormat format =
                described.stdinFormat.value_or(RawInputFormat{encoding.layout, encoding.sampleRate, encoding.channels});
            return std::make_unique<ReaderSource>(std::make_unique<RawPcmReader>(
                context.stdinFd, format.layout, format.sampleRate, format.channels, context.stop));
        }
        case SourceDescription::Kind::Pulse:
        case SourceDescription::Kind::Apps: return std::make_unique<LiveSource>(described, encoding, context);
        case SourceDescription::Kind::None: break;
    }
    throw std::logic_error("openSource called for no source");
}

}  // namespace host
