#pragma once
// The text that names a stream's source and the source it opens:
//   sine:FREQ        a sine at FREQ Hz (half full scale)
//   tones | melody   a short recognisable melody
//   noise[:SEED]     white noise, reproducible for a seed (default 1)
//   silence          digital silence
//   file:PATH        any sound file libsndfile reads, resampled and remixed
//                    to the stream's encoding when they differ
//   -[:FMT:RATE:CH]  raw interleaved PCM on standard input; without the
//                    suffix it is in the stream's own format, rate and channels
//   pulse[:SOURCE]   live audio from the sound server's SOURCE (default: the
//                    default sink's monitor for app audio, the default
//                    source for the microphone)
//   apps:NAMES       live: what the named apps play, mixed (NAMES: names or
//                    programs, any case, or pid:N, separated by commas)
//   apps-except:NAMES  live: what every other app plays
//   none             no stream at all

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AudioEncoding.h"
#include "AudioSource.h"
#include "toolkit/StopSignals.h"

namespace host {

struct RawInputFormat {
    pcm::SampleEncoding layout;
    double sampleRate = 0;  // frames a second, possibly fractional
    uint32_t channels = 0;
};

struct SourceDescription {
    enum class Kind { Sine, Melody, Noise, Silence, File, Stdin, Pulse, Apps, None };
    Kind kind = Kind::Melody;
    double frequency = 0;                       // Sine
    uint64_t seed = 1;                          // Noise
    std::string path;                           // File; Pulse: the source's name, empty for the default
    std::optional<RawInputFormat> stdinFormat;  // Stdin with an explicit format
    std::vector<std::string> apps;              // Apps: names, programs or pid:N
    bool exceptApps = false;                    // Apps: every app but those
    std::string text;                           // as written

    bool finite() const { return kind == Kind::File || kind == Kind::Stdin; }
    bool live() const { return kind == Kind::Pulse || kind == Kind::Apps; }
};

// Throws std::invalid_argument with a one-line reason when `text` is not a
// source this grammar names.
SourceDescription parseSourceDescription(std::string_view text);

// Which stream a source feeds; a live source's default depends on it.
enum class SourceRole { App, Mic };

// Where a source is opened: the descriptor standard input is read from, the
// stream it feeds, and the stop request that ends its waits.
struct SourceContext {
    int stdinFd = 0;
    SourceRole role = SourceRole::App;
    toolkit::StopToken stop{};
    std::optional<double> followIdleSeconds;  // apps: sources of --follow: this long without sound ends a session
};

// Opens the source for a stream delivered in `encoding` (standard input
// without a stated format is read in that encoding). Throws HostError with
// the "bad source" code when a file cannot be read or a sound server cannot
// record. `described` must not be None.
std::unique_ptr<AudioSource> openSource(const SourceDescription& described, const AudioEncoding& encoding,
                                        const SourceContext& context = {});

}  // namespace host
