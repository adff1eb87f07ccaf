#include "ScenarioParser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "TextPosition.h"
#include "host/HostError.h"
#include "platform/files/UniqueDescriptor.h"

namespace host {
namespace {

using nlohmann::json;

std::string quoted(std::string_view text) {
    std::string result = "\"";
    result += text;
    result += '"';
    return result;
}

// Reports problems in one step object, naming the step.
class StepReader {
public:
    StepReader(const json& object, std::string context, const std::filesystem::path& baseDirectory)
        : object_(object), context_(std::move(context)), baseDirectory_(baseDirectory) {}

    // A step reader for the object at `key`, named after it.
    StepReader nested(const char* key) const { return {at(key), context_ + " " + key, baseDirectory_}; }

    [[noreturn]] void fail(const std::string& message) const { throw std::invalid_argument(context_ + ": " + message); }

    void allowOnly(std::initializer_list<std::string_view> fields) const {
        for (const auto& [key, value] : object_.items()) {
            bool known = false;
            for (std::string_view field : fields) known = known || key == field;
            if (known) continue;
            std::string list;
            for (std::string_view field : fields) list += (list.empty() ? "" : ", ") + std::string(field);
            fail("unknown field \"" + key + "\" (known: " + list + ")");
        }
    }

    bool has(const char* key) const { return object_.contains(key); }
    const json& at(const char* key) const { return object_.at(key); }

    double number(const char* key, double fallback, double min, double max, bool minExclusive) const {
        if (!has(key)) return fallback;
        const json& value = at(key);
        if (!value.is_number()) fail(quoted(key) + " must be a number");
        const double number = value.get<double>();
        if (!std::isfinite(number) || number < min || (minExclusive && number == min) || number > max) {
            std::ostringstream range;
            range << (minExclusive ? "greater than " : "at least ") << min << " and at most " << max;
            fail(quoted(key) + " must be " + range.str());
        }
        return number;
    }

    int64_t integer(const char* key, int64_t fallback, int64_t min, int64_t max) const {
        if (!has(key)) return fallback;
        const json& value = at(key);
        if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(max)))
            fail(quoted(key) + " must be a whole number in " + std::to_string(min) + ".." + std::to_string(max));
        const int64_t number = value.get<int64_t>();
        if (number < min || number > max)
            fail(quoted(key) + " must be a whole number in " + std::to_string(min) + ".." + std::to_string(max));
        return number;
    }

    std::string string(const char* key, std::string fallback) const {
        if (!has(key)) return fallback;
        if (!at(key).is_string()) fail(quoted(key) + " must be a string");
        return at(key).get<std::string>();
    }

    bool boolean(const char* key, bool fallback) const {
        if (!has(key)) return fallback;
        if (!at(key).is_boolean()) fail(quoted(key) + " must be true or false");
        return at(key).get<bool>();
    }

    const std::string& context() const { return context_; }
    // Where a relative file: path is found: beside the scenario file.
    const std::filesystem::path& baseDirectory() const { return baseDirectory_; }

private:
    const json& object_;
    std::string context_;
    const std::filesystem::path& baseDirectory_;
};

// Reads the audio fields of `reader` over the defaults in `stream`.
AudioStreamPlan readAudio(const StepReader& reader, AudioStreamPlan stream) {
    try {
        if (reader.has("source")) stream.source = parseSourceDescription(reader.string("source", ""));
        if (stream.source.kind == SourceDescription::Kind::File)
            stream.source.path = (reader.baseDirectory() / stream.source.path).string();
        if (reader.has("format")) stream.encoding.layout = parseSampleLayout(reader.string("format", ""));
    } catch (const std::invalid_argument& error) {
        reader.fail(error.what());
    }
    AudioEncoding& encoding = stream.encoding;
    encoding.sampleRate = reader.number("rate", encoding.sampleRate, 1, kMaxSampleRate, false);
    encoding.channels = static_cast<uint32_t>(reader.integer("channels", encoding.channels, 1, kMaxChannels));
    encoding.framesPerBuffer =
        static_cast<uint32_t>(reader.integer("frames", encoding.framesPerBuffer, 1, kMaxFramesPerBuffer));
    encoding.nonInterleaved = reader.boolean("nonInterleaved", encoding.nonInterleaved);
    return stream;
}

std::optional<AudioStreamPlan> readStream(const StepReader& step, const char* key, AudioStreamPlan defaults) {
    if (!step.has(key)) return defaults;
    const json& value = step.at(key);
    if (value.is_null()) return std::nullopt;
    if (!value.is_object()) step.fail(quoted(key) + " must be an object or null");
    const StepReader reader = step.nested(key);
    reader.allowOnly({"source", "format", "rate", "channels", "frames", "nonInterleaved"});
    AudioStreamPlan stream = readAudio(reader, std::move(defaults));
    if (stream.source.kind == SourceDescription::Kind::None) return std::nullopt;
    return stream;
}

StreamStep readStreamStep(const StepReader& step) {
    step.allowOnly({"step", "seconds", "app", "mic", "video"});
    StreamStep stream;
    if (step.has("seconds")) stream.seconds = step.number("seconds", 0, 0, kMaxSpanSeconds, true);
    stream.app = readStream(step, "app", defaultAppStream());
    stream.mic = readStream(step, "mic", defaultMicStream());
    if (!step.has("video")) {
        stream.video = VideoStreamPlan{};
    } else if (!step.at("video").is_null()) {
        if (!step.at("video").is_object()) step.fail("\"video\" must be an object or null");
        const StepReader video = step.nested("video");
        video.allowOnly({"rate"});
        stream.video = VideoStreamPlan{video.number("rate", 30, 0, 1000, true)};
    }
    if (!stream.seconds && !(stream.app && stream.app->source.finite()))
        step.fail("\"seconds\" is needed unless the app source is a file or standard input");
    return stream;
}

BufferStep readBufferStep(const StepReader& step) {
    step.allowOnly({"step", "type", "kind", "source", "format", "rate", "channels", "frames", "nonInterleaved"});
    BufferStep buffer;
    buffer.type = step.integer("type", RPSampleBufferTypeAudioApp, std::numeric_limits<int64_t>::min(),
                               std::numeric_limits<int64_t>::max());
    const std::string kind = step.string("kind", buffer.type == RPSampleBufferTypeVideo ? "video" : "audio");
    if (kind == "audio")
        buffer.kind = BufferStep::Kind::Audio;
    else if (kind == "video")
        buffer.kind = BufferStep::Kind::Video;
    else if (kind == "null")
        buffer.kind = BufferStep::Kind::Null;
    else if (kind == "noFormat")
        buffer.kind = BufferStep::Kind::NoFormat;
    else
        step.fail("\"kind\" must be \"audio\", \"video\", \"null\" or \"noFormat\"");
    buffer.audio = readAudio(step, buffer.type == RPSampleBufferTypeAudioMic ? defaultMicStream() : defaultAppStream());
    if (buffer.audio.source.kind == SourceDescription::Kind::None) step.fail("a buffer needs a source other than none");
    return buffer;
}

Step readStep(const json& value, size_t index, const std::filesystem::path& baseDirectory) {
    const std::string where = "step " + std::to_string(index + 1);
    if (!value.is_object()) throw std::invalid_argument(where + ": a step must be an object");
    if (!value.contains("step") || !value.at("step").is_string())
        throw std::invalid_argument(where +
                                    ": \"step\" must name the step (begin, start, stream, buffer, "
                                    "pause, resume, finish, finishWithError)");
    const std::string name = value.at("step").get<std::string>();
    const StepReader step(value, where + " (" + name + ")", baseDirectory);
    if (name == "begin") {
        step.allowOnly({"step", "identifier"});
        return BeginStep{step.string("identifier", "broadcast")};
    }
    if (name == "start") {
        step.allowOnly({"step", "setupInfo"});
        StartStep start;
        if (step.has("setupInfo") && !step.at("setupInfo").is_null()) {
            if (!step.at("setupInfo").is_object()) step.fail("\"setupInfo\" must be an object of strings or null");
            RPSetupInfo info;
            for (const auto& [key, entry] : step.at("setupInfo").items()) {
                if (!entry.is_string()) step.fail("setupInfo \"" + key + "\" must be a string");
                info[key] = entry.get<std::string>();
            }
            start.setupInfo = std::move(info);
        }
        return start;
    }
    if (name == "stream") return readStreamStep(step);
    if (name == "buffer") return readBufferStep(step);
    if (name == "pause") {
        step.allowOnly({"step", "seconds"});
        return PauseStep{step.number("seconds", 0, 0, kMaxSpanSeconds, false)};
    }
    if (name == "resume") {
        step.allowOnly({"step"});
        return ResumeStep{};
    }
    if (name == "finish") {
        step.allowOnly({"step"});
        return FinishStep{};
    }
    if (name == "finishWithError") {
        step.allowOnly({"step", "domain", "code", "description"});
        FinishWithErrorStep finish;
        finish.domain = step.string("domain", finish.domain);
        finish.code = static_cast<long>(
            step.integer("code", finish.code, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()));
        finish.description = step.string("description", finish.description);
        return finish;
    }
    throw std::invalid_argument(where + ": unknown step \"" + name +
                                "\" (known: begin, start, stream, buffer, pause, resume, finish, finishWithError)");
}

// What a file that is not a regular one is, in the words of ls and find.
const char* fileKind(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR: return "a directory";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFIFO: return "a pipe";
        case S_IFSOCK: return "a socket";
        default: return "a special file";
    }
}

// The whole text of the scenario file at `path`: a regular file of at most
// kMaxScenarioBytes. Opened without blocking, so a pipe is refused rather
// than waited on; read to one byte past the limit, so a file that grows
// meanwhile is refused too.
std::string readScenarioText(const std::string& path) {
    const auto refuse = [&](const std::string& why) {
        return HostError(ExitCode::BadScenario, "\"" + path + "\" " + why);
    };
    const auto unreadable = [&] {
        return HostError(ExitCode::BadScenario, "cannot read scenario file \"" + path + "\": " + std::strerror(errno));
    };
    const platform::files::UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0) throw unreadable();
    if (!S_ISREG(status.st_mode)) throw refuse(std::string("is ") + fileKind(status.st_mode) + ", not a scenario file");
    const std::string limit = "a scenario file may hold at most " + std::to_string(kMaxScenarioBytes >> 20) + " MiB";
    if (static_cast<uintmax_t>(status.st_size) > kMaxScenarioBytes)
        throw refuse("holds " + std::to_string(status.st_size) + " bytes; " + limit);
    std::string text(kMaxScenarioBytes + 1, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw unreadable();
        got += static_cast<size_t>(n);
    }
    if (got > kMaxScenarioBytes) throw refuse("grew while it was read; " + limit);
    text.resize(got);
    return text;
}

// "[json.exception.parse_error.101] parse error at line 1, column 2: why" -> "why"
std::string parseErrorReason(const std::string& what) {
    const size_t column = what.find("column ");
    const size_t colon = what.find(": ", column == std::string::npos ? 0 : column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

Scenario parseScenario(std::string_view text, std::string_view name, const std::filesystem::path& baseDirectory) {
    json document;
    try {
        document = json::parse(text.begin(), text.end(), nullptr, true, true);
    } catch (const json::parse_error& error) {
        // The error's byte counts the characters read, the offending one included.
        const TextPosition at = positionOfOffset(text, error.byte == 0 ? 0 : error.byte - 1);
        throw HostError(ExitCode::BadScenario, std::string(name) + ":" + std::to_string(at.line) + ":" +
                                                   std::to_string(at.column) +
                                                   ": malformed scenario: " + parseErrorReason(error.what()));
    } catch (const json::out_of_range& error) {  // a number beyond a double, such as 1e400
        const std::string what = error.what();
        throw HostError(ExitCode::BadScenario,
                        std::string(name) + ": malformed scenario: " + what.substr(what.find(']') + 2));
    }
    try {
        if (!document.is_object() || !document.contains("steps") || !document.at("steps").is_array())
            throw std::invalid_argument("a scenario is an object with a \"steps\" array");
        for (const auto& [key, value] : document.items())
            if (key != "steps" && key != "description")
                throw std::invalid_argument("unknown field \"" + key + "\" (known: steps, description)");
        Scenario scenario;
        const json& steps = document.at("steps");
        if (steps.size() > kMaxScenarioSteps)
            throw std::invalid_argument(std::to_string(steps.size()) + " steps; a scenario may have at most " +
                                        std::to_string(kMaxScenarioSteps));
        for (size_t i = 0; i < steps.size(); ++i) scenario.steps.push_back(readStep(steps[i], i, baseDirectory));
        if (scenario.steps.empty()) throw std::invalid_argument("the scenario has no steps");
        return scenario;
    } catch (const std::invalid_argument& error) {
        throw HostError(ExitCode::BadScenario, std::string(name) + ": " + error.what());
    } catch (const json::exception& error) {
        throw HostError(ExitCode::BadScenario, std::string(name) + ": " + error.what());
    }
}

Scenario loadScenarioFile(const std::string& path) {
    return parseScenario(readScenarioText(path), path, std::filesystem::path(path).parent_path());
}

}  // namespace host
