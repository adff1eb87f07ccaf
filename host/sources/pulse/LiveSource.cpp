#include "LiveSource.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "AppSelection.h"
#include "PulseLibrary.h"
#include "host/HostError.h"
#include "host/HostWarnings.h"
#include "platform/media/wave/WaveHeader.h"

namespace host {
namespace {

using Clock = PulseClient::Clock;
using namespace std::chrono_literals;

constexpr auto kFragment = 20ms;                // what the server sends a mix at a time: small, to align its streams
constexpr auto kLoneFragment = 1s;              // ...one source, nothing to align: long, so the host wakes rarely
constexpr size_t kMostFragmentBytes = 1 << 19;  // PipeWire's server sends nothing of fragments past about 1 MiB
constexpr auto kMixBatch = 250ms;               // how long a mix's fragments gather before the host takes them in
constexpr auto kLeadIn = 100ms;                 // --follow keeps this much before an app's first sound
constexpr auto kLeastStall = 500ms;             // no audio for twice the fragment, and this long: silence stands in
constexpr auto kFirstAudio = 3s;                // ...and before the first, at least (a monitor is slow to start)
constexpr auto kAlignment = 100ms;              // how long a mix waits for a stream that fell behind
constexpr auto kDrainSlack = 100ms;             // beyond the reported latency, for the last fragments
constexpr auto kLatencyAnswer = 300ms;          // how long a stop waits for the server to say its latency
constexpr double kRingSeconds = 2;              // beyond one buffer and one fragment, how far the host may fall behind
constexpr uint32_t kLowestRate = 1000;          // the server misbehaves below this
constexpr unsigned kStallWarnings = 10;         // then stalls are only counted
constexpr float kSilence = 1.0f / 32768;        // quieter than one step of 16 bits is no sound

constexpr bool kNativeBigEndian = std::endian::native == std::endian::big;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The server's name for `layout`, or PA_SAMPLE_INVALID when it has none.
pa_sample_format_t serverFormat(const pcm::SampleEncoding& layout) {
    const bool be = layout.bigEndian;
    if (layout.kind == pcm::SampleKind::Float)
        return layout.validBits == 32 ? (be ? PA_SAMPLE_FLOAT32BE : PA_SAMPLE_FLOAT32LE) : PA_SAMPLE_INVALID;
    if (layout.kind != pcm::SampleKind::SignedInt || layout.alignedHigh) return PA_SAMPLE_INVALID;
    switch (layout.containerBytes) {
        case 2: return be ? PA_SAMPLE_S16BE : PA_SAMPLE_S16LE;
        case 3: return be ? PA_SAMPLE_S24BE : PA_SAMPLE_S24LE;
        case 4: return layout.validBits == 32 ? (be ? PA_SAMPLE_S32BE : PA_SAMPLE_S32LE) : PA_SAMPLE_INVALID;
        default: return PA_SAMPLE_INVALID;
    }
}

// The server's channel positions in the order the recording's WAVE channel
// mask names them, so each speaker lands in its labelled slot. Counts the
// mask leaves unassigned take the WAVE order's first speakers; past the
// mask's speakers, auxiliary channels.
pa_channel_map waveOrder(uint32_t channels) {
    static constexpr pa_channel_position_t kSpeakers[] = {
        PA_CHANNEL_POSITION_FRONT_LEFT,
        PA_CHANNEL_POSITION_FRONT_RIGHT,
        PA_CHANNEL_POSITION_FRONT_CENTER,
        PA_CHANNEL_POSITION_LFE,
        PA_CHANNEL_POSITION_REAR_LEFT,
        PA_CHANNEL_POSITION_REAR_RIGHT,
        PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
        PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
        PA_CHANNEL_POSITION_REAR_CENTER,
        PA_CHANNEL_POSITION_SIDE_LEFT,
        PA_CHANNEL_POSITION_SIDE_RIGHT,
        PA_CHANNEL_POSITION_TOP_CENTER,
        PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
        PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
        PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
        PA_CHANNEL_POSITION_TOP_REAR_LEFT,
        PA_CHANNEL_POSITION_TOP_REAR_CENTER,
        PA_CHANNEL_POSITION_TOP_REAR_RIGHT,
    };
    pa_channel_map map{};
    map.channels = static_cast<uint8_t>(channels);
    if (channels == 1) {
        map.map[0] = PA_CHANNEL_POSITION_MONO;
        return map;
    }
    uint32_t mask = media::wave::channelMaskFor(static_cast<uint16_t>(channels));
    if (mask == 0) mask = (1u << std::min<uint32_t>(channels, 18)) - 1;
    uint32_t slot = 0;
    for (uint32_t bit = 0; bit < 18 && slot < channels; ++bit)
        if ((mask & (1u << bit)) != 0) map.map[slot++] = kSpeakers[bit];
    for (uint32_t aux = 0; slot < channels; ++aux)
        map.map[slot++] = static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + aux);
    return map;
}

std::string describeDevice(const SourceDescription& described, SourceRole role) {
    if (described.kind == SourceDescription::Kind::Apps) return describeAppSelection(described);
    if (!described.path.empty()) return "source \"" + described.path + "\"";
    return role == SourceRole::App ? "the default sink's monitor" : "the default source";
}

}  // namespace

LiveSource::LiveSource(const SourceDescription& described, const AudioEncoding& encoding, const SourceContext& context)
    : described_(described),
      encoding_(encoding),
      stop_(context.stop),
      idleSeconds_(context.followIdleSeconds),
      label_(describeDevice(described, context.role)) {
    if (encoding.sampleRate != std::floor(encoding.sampleRate) || encoding.sampleRate < kLowestRate)
        throw HostError(ExitCode::Usage, "the sound server records at whole rates of " + std::to_string(kLowestRate) +
                                             " Hz or more, not " + encoding.describe());
    const bool mix = described.kind == SourceDescription::Kind::Apps;
    captureLayout_ = !mix && serverFormat(encoding.layout) != PA_SAMPLE_INVALID
                         ? encoding.layout
                         : pcm::SampleEncoding{pcm::SampleKind::Float, 4, 32, kNativeBigEndian, false};
    decode_ = pcm::codecFor(captureLayout_).decodeReal;
    frameBytes_ = encoding.channels * captureLayout_.containerBytes;
    request_.spec = {serverFormat(captureLayout_), static_cast<uint32_t>(encoding.sampleRate),
                     static_cast<uint8_t>(encoding.channels)};
    if (encoding.channels > PA_CHANNELS_MAX || encoding.sampleRate > PA_RATE_MAX)
        throw sourceError("the sound server cannot record " + encoding.describe() + " (at most " +
                          std::to_string(PA_RATE_MAX) + " Hz and " + std::to_string(PA_CHANNELS_MAX) + " channels)");
    request_.map = waveOrder(encoding.channels);
    request_.fragmentFrames =
        std::min(static_cast<size_t>(encoding.sampleRate * seconds(mix ? kFragment : kLoneFragment)),
                 std::max<size_t>(1, kMostFragmentBytes / frameBytes_));
    const auto fragment = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(request_.fragmentFrames) / encoding.sampleRate));
    batch_ = mix ? Clock::duration(kMixBatch) : fragment;
    stall_ = std::max<Clock::duration>(kLeastStall, 2 * fragment);
    firstAudio_ = std::max<Clock::duration>(kFirstAudio, stall_);
    request_.ringFrames =
        encoding.framesPerBuffer + request_.fragmentFrames + static_cast<size_t>(kRingSeconds * encoding.sampleRate);
    request_.name = context.role == SourceRole::App ? "app audio" : "microphone";
    scratch_.resize(2048 * frameBytes_);
    mixScratch_.resize(2048 * encoding.channels);

    client_ = std::make_unique<PulseClient>(stop_, "to record " + label_);
    if (mix) {
        followApps();
    } else {
        addCapture(openDevice(described.path), PA_INVALID_INDEX, PA_INVALID_INDEX);
        CaptureStream& stream = *captures_.front().stream;
        client_->waitUntil([&] { return stream.ready() || stream.ended(); },
                           "the sound server " + client_->server() + " did not start recording " + label_);
        if (stream.ended())
            throw sourceError("the sound server " + client_->server() + " cannot record " + label_ + ": " +
                              stream.endReason());
    }
    anchorTime_ = lastSound_ = Clock::now();
}

LiveSource::~LiveSource() {
    captures_.clear();  // the streams go before their connection
    pacers_.clear();
    client_.reset();
}

// The source named `name` (by its index, which takes any name the server
// has), or the default for the role; refused by name when the server has
// none such.
std::string LiveSource::openDevice(const std::string& name) {
    std::string wanted = name;
    if (wanted.empty()) {
        const ServerFacts facts = client_->serverFacts();
        const bool app = request_.name == std::string_view("app audio");
        const std::string& fallback = app ? facts.defaultSink : facts.defaultSource;
        if (fallback.empty())
            throw sourceError("the sound server " + client_->server() + " has no " +
                              (app ? "default sink, so no monitor to record" : "default source to record"));
        wanted = app ? fallback + ".monitor" : fallback;
        label_ += " \"" + wanted + "\"";
    }
    for (const SourceFacts& source : client_->sources())
        if (source.name == wanted) return std::to_string(source.index);
    throw sourceError("the sound server " + client_->server() + " has no source named \"" + wanted +
                      "\" (`broadcast-extension --list-sources` lists what it has)");
}

void LiveSource::followApps() {
    client_->watchPlaybacks([this](uint32_t index) { toExamine_.push_back(index); });
    // A sink renders ahead in blocks as long as its streams allow (up to
    // seconds), and a recording of one playback sees only what is rendered
    // after it starts: a silent stream on each sink's monitor asks for small
    // blocks, so an app that starts playing is recorded from its start.
    CaptureStream::Request pacer = request_;
    pacer.keepsPace = true;
    pacer.ringFrames = 1;
    for (const SinkFacts& sink : client_->sinks()) {
        if (sink.monitorSource == PA_INVALID_INDEX) continue;
        pacer.device = std::to_string(sink.monitorSource);
        pacers_.push_back(std::make_unique<CaptureStream>(*client_, pacer));
    }
    bool any = false;
    for (const PlaybackFacts& playback : client_->playbacks()) {
        if (!appSelectionMatches(described_, playback) || playback.monitorSource == PA_INVALID_INDEX) continue;
        addCapture(std::to_string(playback.monitorSource), playback.index, playback.monitorSource);
        any = true;
    }
    if (!any && !idleSeconds_)
        warn("no app that " + described_.text + " chooses is playing; the broadcast carries silence until one plays");
}

void LiveSource::addCapture(const std::string& device, uint32_t playback, uint32_t monitorSource) {
    request_.device = device;
    request_.monitorOf = playback;
    captures_.push_back({playback, monitorSource, std::make_unique<CaptureStream>(*client_, request_)});
}

// Adds, moves or drops the capture of one playback stream after the server
// said it changed.
void LiveSource::examinePlayback(uint32_t index) {
    const auto capture =
        std::find_if(captures_.begin(), captures_.end(), [&](const Capture& c) { return c.playback == index; });
    const std::optional<PlaybackFacts> playback = client_->playback(index);
    const bool wanted =
        playback && appSelectionMatches(described_, *playback) && playback->monitorSource != PA_INVALID_INDEX;
    if (capture != captures_.end()) {
        if (wanted && capture->monitorSource == playback->monitorSource && !capture->stream->ended()) return;
        captures_.erase(capture);  // gone, no longer chosen, or moved to another sink
    }
    if (wanted) addCapture(std::to_string(playback->monitorSource), index, playback->monitorSource);
}

void LiveSource::pump(Clock::time_point until) {
    client_->iterate(until);
    takeInChanges();
}

// Each of a mix's small fragments would wake the host on its own; sleeping
// while a batch gathers (a stop still wakes it at once) and then taking in
// all that came costs one wake-up per batch instead.
void LiveSource::gather(Clock::time_point until) {
    if (!stop_.sleepUntil(until)) return;
    client_->takeInPending();
    takeInChanges();
}

void LiveSource::takeInChanges() {
    if (!client_->failure().empty()) {
        fail(client_->failure());
        return;
    }
    const bool mix = described_.kind == SourceDescription::Kind::Apps;
    for (Capture& capture : captures_) {
        takeLosses(capture);
        if (capture.stream->takeMoved())
            warn("the sound server moved the recording of " + label_ +
                 " to another source; what it lost meanwhile "
                 "is counted");
        if (!capture.stream->ended()) continue;
        if (!mix)
            fail(capture.stream->endReason());
        else if (capture.stream->frames() == 0)
            toExamine_.push_back(capture.playback);  // it may have moved
    }
    if (!mix || toExamine_.empty()) return;
    std::vector<uint32_t> indices;
    indices.swap(toExamine_);
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    try {
        for (uint32_t index : indices) examinePlayback(index);
    } catch (const HostError& error) {
        fail(error.what());
    }
}

void LiveSource::takeLosses(Capture& capture) {
    const SourceOverruns lost = capture.stream->takeLosses();
    losses_.events += lost.events;
    losses_.framesLost += lost.framesLost;
}

void LiveSource::fail(const std::string& why) {
    if (!failure_.empty()) return;  // the first reason is the one that counts
    failure_ = "the sound server " + client_->server() + " stopped recording " + label_ + ": " + why;
}

bool LiveSource::isActive(const Capture& capture, Clock::time_point now) const {
    const auto arrival = capture.stream->lastArrival();
    return capture.stream->frames() > 0 || (arrival && now - *arrival < kAlignment);
}

// Frames every stream in the mix can give now. A mix waits, for a moment, for
// a stream that has just delivered and is behind the others.
size_t LiveSource::readyFrames(Clock::time_point now) const {
    size_t ready = 0;
    bool any = false;
    for (const Capture& capture : captures_) {
        if (!isActive(capture, now)) continue;
        ready = any ? std::min(ready, capture.stream->frames()) : capture.stream->frames();
        any = true;
    }
    return draining_ ? static_cast<size_t>(std::min<uint64_t>(ready, drainLeft_)) : ready;
}

// Silence the wall clock says is due because nothing arrived.
size_t LiveSource::dueSilence(Clock::time_point now) const {
    if (draining_) return 0;
    const bool mix = described_.kind == SourceDescription::Kind::Apps;
    const auto wait =
        mix ? (captures_.empty() ? Clock::duration::zero() : stall_) : (audioSeen_ ? stall_ : firstAudio_);
    const auto elapsed = now - anchorTime_;
    if (elapsed < wait) return 0;
    const auto due = static_cast<uint64_t>(seconds(elapsed) * encoding_.sampleRate);
    const uint64_t given = produced_ - anchorFrames_;
    return due > given ? static_cast<size_t>(due - given) : 0;
}

Clock::time_point LiveSource::nextCheck(Clock::time_point now) const {
    if (draining_) return drainDeadline_;
    const bool mix = described_.kind == SourceDescription::Kind::Apps;
    if (mix && captures_.empty()) return now + batch_;  // silence at the wall clock's pace
    const auto wait = mix || audioSeen_ ? stall_ : firstAudio_;
    const auto at = anchorTime_ + wait;
    auto next = std::min(at > now ? at : now + kFragment, now + batch_);
    if (mix) next = std::min(next, now + kAlignment);
    if (idleSeconds_)
        next = std::min(next, lastSound_ + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(*idleSeconds_)));
    return next;
}

void LiveSource::noteAudio(size_t frames, Clock::time_point now) {
    produced_ += frames;
    anchorTime_ = now;
    anchorFrames_ = produced_;
    audioSeen_ = true;
    stalled_ = false;
    if (draining_) drainLeft_ -= std::min<uint64_t>(drainLeft_, frames);
}

void LiveSource::noteSilence(size_t frames) {
    produced_ += frames;
    if (described_.kind == SourceDescription::Kind::Apps) return;  // no app playing is not a loss
    losses_.framesLost += frames;
    if (stalled_) return;
    stalled_ = true;
    ++losses_.events;
    if (++stallWarnings_ <= kStallWarnings)
        warn("the sound server delivered nothing from " + label_ + " for " +
             std::to_string(std::lround(seconds(audioSeen_ ? stall_ : firstAudio_) * 10) / 10.0).substr(0, 3) +
             " s; silence stands in for what is missing and is counted as lost");
}

// On a stop: what the server had captured up to the request is still
// handed out, the rest dropped.
void LiveSource::beginDrain() {
    draining_ = true;
    client_->ignoreStop();
    const Clock::time_point noticed = Clock::now();
    for (Capture& capture : captures_) capture.stream->requestBacklog();
    const auto answered = [this] {
        return std::all_of(captures_.begin(), captures_.end(),
                           [](const Capture& c) { return c.stream->backlogFrames().has_value(); });
    };
    while (!answered() && Clock::now() < noticed + kLatencyAnswer && failure_.empty()) pump(noticed + kLatencyAnswer);
    const auto sinceStop = std::max(Clock::duration::zero(), Clock::now() - stop_.requestedAt());
    const auto late = static_cast<int64_t>(seconds(sinceStop) * encoding_.sampleRate);
    uint64_t latest = 0;
    for (const Capture& capture : captures_) {
        // Without an answer, what the ring holds came before the stop.
        const std::optional<uint64_t> backlog = capture.stream->backlogFrames();
        const int64_t pending =
            backlog ? static_cast<int64_t>(*backlog) - late : static_cast<int64_t>(capture.stream->frames());
        latest = std::max<uint64_t>(latest, static_cast<uint64_t>(std::max<int64_t>(0, pending)));
    }
    drainLeft_ = latest;
    drainDeadline_ = noticed +
                     std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(static_cast<double>(latest) / encoding_.sampleRate)) +
                     kDrainSlack;
}

template <typename Write>
size_t LiveSource::produce(size_t frames, Write write) {
    size_t done = 0;
    while (done < frames) {
        if (!draining_ && stop_.requested()) beginDrain();
        const Clock::time_point now = Clock::now();
        if (const size_t ready = readyFrames(now); ready > 0) {
            const size_t count = std::min(ready, frames - done);
            write(done, count, false);
            noteAudio(count, now);
            done += count;
            continue;
        }
        if (draining_ && (drainLeft_ == 0 || now >= drainDeadline_)) break;
        if (!draining_ && !failure_.empty()) break;
        if (idleSeconds_ && now - lastSound_ >= std::chrono::duration<double>(*idleSeconds_)) break;
        if (const size_t silence = dueSilence(now); silence > 0) {
            const size_t count = std::min(silence, frames - done);
            write(done, count, true);
            noteSilence(count);
            done += count;
            continue;
        }
        // A lone source's fragments are long and few: the host waits for
        // each as it comes, so that its arrival paces what follows.
        if (draining_ || described_.kind != SourceDescription::Kind::Apps)
            pump(nextCheck(now));
        else
            gather(nextCheck(now));
    }
    return done;
}

bool LiveSource::deliversEncoded(const AudioEncoding& encoding) const {
    return described_.kind != SourceDescription::Kind::Apps && !encoding.nonInterleaved &&
           encoding.layout == captureLayout_ && encoding.sampleRate == encoding_.sampleRate &&
           encoding.channels == encoding_.channels;
}

size_t LiveSource::readEncoded(std::span<std::byte> out, size_t frames) {
    frames = std::min(frames, out.size() / frameBytes_);
    return produce(frames, [&](size_t at, size_t count, bool silence) {
        std::byte* target = out.data() + at * frameBytes_;
        if (silence)
            std::memset(target, 0, count * frameBytes_);
        else
            captures_.front().stream->take(target, count);
    });
}

size_t LiveSource::read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) {
    if (sampleRate != encoding_.sampleRate || channels != encoding_.channels)
        throw sourceError("a live source keeps the rate and channels it was opened with (" + encoding_.describe() +
                          ")");
    const size_t chunk = std::min(scratch_.size() / frameBytes_, mixScratch_.size() / channels);
    frames = std::min({frames, out.size() / channels, chunk});
    return produce(frames, [&](size_t at, size_t count, bool silence) {
        double* target = out.data() + at * channels;
        if (silence) {
            std::fill_n(target, count * channels, 0.0);
        } else if (described_.kind == SourceDescription::Kind::Apps) {
            mixInto(target, count);
        } else {
            captures_.front().stream->take(scratch_.data(), count);
            decode_(reinterpret_cast<const uint8_t*>(scratch_.data()), count * channels, target, 1);
        }
    });
}

// Sums the active streams' next `frames` frames into `out`.
void LiveSource::mixInto(double* out, size_t frames) {
    const size_t samples = frames * encoding_.channels;
    std::fill_n(out, samples, 0.0);
    const Clock::time_point now = Clock::now();
    bool sound = false;
    for (Capture& capture : captures_) {
        if (!isActive(capture, now)) continue;
        capture.stream->take(reinterpret_cast<std::byte*>(mixScratch_.data()), frames);
        sound = sound || audible(mixScratch_.data(), samples);
        for (size_t i = 0; i < samples; ++i) out[i] += mixScratch_[i];
    }
    if (sound) lastSound_ = now;
}

bool LiveSource::audible(const float* samples, size_t count) const {
    for (size_t i = 0; i < count; ++i)
        if (std::fabs(samples[i]) >= kSilence) return true;
    return false;
}

// Before a session of --follow: drops what arrives until one of the chosen
// apps plays sound, keeping that and the moment before it. False on a stop
// or when the server went away (failure() says why).
bool LiveSource::waitForSound() {
    const auto keep = static_cast<size_t>(encoding_.sampleRate * seconds(kLeadIn));
    for (;;) {
        if (stop_.requested()) return false;
        if (!failure_.empty()) return false;
        pump(Clock::now() + kFragment);
        for (Capture& capture : captures_) {
            if (capture.stream->frames() > keep) capture.stream->take(nullptr, capture.stream->frames() - keep);
            bool sound = false;
            capture.stream->ring().forEachPiece([&](const std::byte* bytes, size_t size) {
                sound = sound || audible(reinterpret_cast<const float*>(bytes), size / sizeof(float));
            });
            if (!sound) continue;
            anchorTime_ = lastSound_ = Clock::now();
            anchorFrames_ = produced_;
            return true;
        }
    }
}

}  // namespace host
