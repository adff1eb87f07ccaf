#include "PulseSource.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "host/HostError.h"
#include "PulseLibrary.h"

namespace host {
namespace {

constexpr auto kSetUpTimeout = std::chrono::seconds(10);
constexpr double kSlackSeconds = 1;       // beyond one buffer, how far the host may fall behind before losing audio

const PulseLibrary& lib() { return pulseLibrary(); }

constexpr bool kNativeBigEndian = std::endian::native == std::endian::big;

// The server's name for `layout`, or PA_SAMPLE_INVALID when it has none.
pa_sample_format_t serverFormat(const pcm::SampleEncoding& layout) {
    const bool be = layout.bigEndian;
    if (layout.kind == pcm::SampleKind::Float)
        return layout.validBits == 32 ? (be ? PA_SAMPLE_FLOAT32BE : PA_SAMPLE_FLOAT32LE) : PA_SAMPLE_INVALID;
    switch (layout.validBits) {
        case 16: return be ? PA_SAMPLE_S16BE : PA_SAMPLE_S16LE;
        case 24: return be ? PA_SAMPLE_S24BE : PA_SAMPLE_S24LE;
        case 32: return be ? PA_SAMPLE_S32BE : PA_SAMPLE_S32LE;
        default: return PA_SAMPLE_INVALID;
    }
}

// Unlocks the main loop when it leaves the scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { lib().pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { lib().pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

}  // namespace

PulseSource::PulseSource(const std::string& sourceName, SourceRole role, const AudioEncoding& encoding,
                         toolkit::StopToken stop)
    : encoding_(encoding), sourceName_(sourceName), defaultSource_(sourceName.empty()), role_(role), stop_(stop) {
    const char* server = std::getenv("PULSE_SERVER");
    server_ = server != nullptr && server[0] != '\0' ? server : "(default)";
    captureLayout_ = serverFormat(encoding.layout) != PA_SAMPLE_INVALID
                         ? encoding.layout
                         : pcm::SampleEncoding{pcm::SampleKind::Float, 4, 32, kNativeBigEndian, false};
    decode_ = pcm::codecFor(captureLayout_).decodeReal;
    if (encoding.sampleRate != std::floor(encoding.sampleRate))
        throw sourceError("the sound server records at whole rates only, not " + encoding.describe());
    const pa_sample_spec spec{serverFormat(captureLayout_), static_cast<uint32_t>(encoding.sampleRate),
                              static_cast<uint8_t>(encoding.channels)};
    if (!lib().pa_sample_spec_valid(&spec))
        throw sourceError("the sound server cannot record " + encoding.describe() + " (at most " +
                          std::to_string(PA_RATE_MAX) + " Hz and " + std::to_string(PA_CHANNELS_MAX) + " channels)");

    const size_t frameBytes = encoding.channels * captureLayout_.containerBytes;
    const size_t ringFrames = encoding.framesPerBuffer + static_cast<size_t>(kSlackSeconds * encoding.sampleRate);
    ring_ = std::make_unique<FrameRing>(ringFrames, frameBytes);
    scratch_.resize(1024 * frameBytes);
    try {
        connect(spec);
    } catch (...) {
        close();
        throw;
    }
}

void PulseSource::connect(const pa_sample_spec& spec) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    loop_ = lib().pa_threaded_mainloop_new();
    if (wakeFd_ < 0 || loop_ == nullptr) throw std::system_error(errno, std::generic_category(), "libpulse");
    context_ = lib().pa_context_new(lib().pa_threaded_mainloop_get_api(loop_), "broadcast-extension");
    if (context_ == nullptr) throw sourceError("libpulse cannot make a context");
    lib().pa_context_set_state_callback(context_, &PulseSource::onContextState, this);
    if (lib().pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        throw sourceError("cannot connect to the sound server " + server_ + " to record " + describeSource() + ": " +
                          lib().pa_strerror(lib().pa_context_errno(context_)));
    if (lib().pa_threaded_mainloop_start(loop_) < 0) throw sourceError("libpulse cannot start its main loop");
    waitForSetUp([this] { return lib().pa_context_get_state(context_) == PA_CONTEXT_READY; },
                 [this] { return "cannot connect to the sound server " + server_ + " to record " + describeSource(); });
    {
        LoopLock lock(loop_);
        if (const char* name = lib().pa_context_get_server(context_)) server_ = name;
    }
    if (defaultSource_) findDefaultSource();

    {
        LoopLock lock(loop_);
        pa_channel_map map;
        lib().pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        stream_ = lib().pa_stream_new(context_, role_ == SourceRole::App ? "app audio" : "microphone", &spec, &map);
        if (stream_ == nullptr)
            throw sourceError("the sound server " + server_ + " refused a stream for " + describeSource() + ": " +
                              lib().pa_strerror(lib().pa_context_errno(context_)));
        lib().pa_stream_set_state_callback(stream_, &PulseSource::onStreamState, this);
        lib().pa_stream_set_read_callback(stream_, &PulseSource::onReadable, this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xff, sizeof attributes);  // the server's defaults...
        // ...but what the server records comes a buffer at a time, as the host delivers it.
        attributes.fragsize = static_cast<uint32_t>(encoding_.framesPerBuffer * ring_->frameBytes());
        if (lib().pa_stream_connect_record(stream_, sourceName_.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
            throw sourceError("the sound server " + server_ + " cannot record " + describeSource() + ": " +
                              lib().pa_strerror(lib().pa_context_errno(context_)));
    }
    waitForSetUp([this] { return lib().pa_stream_get_state(stream_) == PA_STREAM_READY; },
                 [this] { return "the sound server " + server_ + " cannot record " + describeSource(); });
}

void PulseSource::findDefaultSource() {
    struct Query {
        PulseSource* self;
        std::string found;
        bool answered = false;
    } query{this, {}, false};
    pa_operation* operation = nullptr;
    {
        LoopLock lock(loop_);
        operation = lib().pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto& q = *static_cast<Query*>(data);
                const bool app = q.self->role_ == SourceRole::App;
                const char* name = info == nullptr ? nullptr : app ? info->default_sink_name : info->default_source_name;
                if (name != nullptr && name[0] != '\0') q.found = std::string(name) + (app ? ".monitor" : "");
                q.answered = true;
                q.self->wake();
            },
            &query);
    }
    waitForSetUp([&] { return query.answered; },
                 [this] { return "the sound server " + server_ + " did not name " + describeSource(); });
    {
        LoopLock lock(loop_);
        if (operation != nullptr) lib().pa_operation_unref(operation);
    }
    if (query.found.empty())
        throw sourceError("the sound server " + server_ + " has no " +
                          (role_ == SourceRole::App ? "default sink, so no monitor to record" : "default source to record"));
    LoopLock lock(loop_);  // a failure report may read it on the main loop's thread
    sourceName_ = query.found;
}

PulseSource::~PulseSource() { close(); }

void PulseSource::close() {
    // The main loop's thread is gone before the objects it served.
    if (loop_ != nullptr) lib().pa_threaded_mainloop_stop(loop_);
    if (stream_ != nullptr) {
        lib().pa_stream_disconnect(stream_);
        lib().pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        lib().pa_context_disconnect(context_);
        lib().pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) lib().pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
}

std::string PulseSource::describeSource() const {
    if (!defaultSource_) return "source \"" + sourceName_ + "\"";
    const std::string what = role_ == SourceRole::App ? "the default sink's monitor" : "the default source";
    return sourceName_.empty() ? what : what + " \"" + sourceName_ + "\"";
}

template <typename Done, typename Message>
void PulseSource::waitForSetUp(Done done, Message message) {
    const auto deadline = std::chrono::steady_clock::now() + kSetUpTimeout;
    while (true) {
        {
            LoopLock lock(loop_);
            if (done()) return;
        }
        if (failed_.load(std::memory_order_acquire)) throw sourceError(message() + ": " + failure_);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw sourceError(message() + ": no answer within " + std::to_string(kSetUpTimeout.count()) + " s");
        pollfd wakeUp{wakeFd_, POLLIN, 0};
        if (::poll(&wakeUp, 1, static_cast<int>(left.count()) + 1) > 0) {
            uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
    }
}

void PulseSource::wake() {
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void PulseSource::fail(const std::string& why) {
    if (failed_.load(std::memory_order_relaxed)) return;  // the first reason is the one that counts
    failure_ = why;
    report_ = "the sound server " + server_ + " stopped recording " + describeSource() + ": " + why;
    failed_.store(true, std::memory_order_release);
    wake();
}

void PulseSource::onContextState(pa_context* context, void* data) {
    auto& self = *static_cast<PulseSource*>(data);
    const pa_context_state_t state = lib().pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        self.fail(lib().pa_strerror(lib().pa_context_errno(context)));
    self.wake();
}

void PulseSource::onStreamState(pa_stream* stream, void* data) {
    auto& self = *static_cast<PulseSource*>(data);
    const pa_stream_state_t state = lib().pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        const int error = lib().pa_context_errno(lib().pa_stream_get_context(stream));
        self.fail(error == PA_ERR_NOENTITY ? "no such source (`pactl list short sources` lists the server's sources)"
                                           : lib().pa_strerror(error));
    }
    self.wake();
}

void PulseSource::onReadable(pa_stream* stream, size_t, void* data) {
    auto& self = *static_cast<PulseSource*>(data);
    const size_t frameBytes = self.ring_->frameBytes();
    while (true) {
        const void* bytes = nullptr;
        size_t size = 0;
        if (lib().pa_stream_peek(stream, &bytes, &size) < 0) {
            self.fail(lib().pa_strerror(lib().pa_context_errno(lib().pa_stream_get_context(stream))));
            break;
        }
        if (size == 0) break;
        // A hole is audio the server lost; data that does not fit is audio the host could not keep up with.
        const size_t lost = bytes == nullptr ? size / frameBytes : self.ring_->put(bytes, size);
        lib().pa_stream_drop(stream);
        if (lost > 0) {
            self.framesLost_.fetch_add(lost, std::memory_order_relaxed);
            if (!self.overflowing_) self.overruns_.fetch_add(1, std::memory_order_relaxed);
        }
        self.overflowing_ = lost > 0;
    }
    self.wake();
}

size_t PulseSource::takeFrames(std::byte* out, size_t frames) {
    size_t done = 0;
    while (true) {
        done += ring_->take(out + done * ring_->frameBytes(), frames - done);
        if (done == frames) return done;
        if (failed_.load(std::memory_order_acquire)) {
            // What arrived before the failure is still passed on.
            return done + ring_->take(out + done * ring_->frameBytes(), frames - done);
        }
        if (stop_.requested()) return done;
        waitForAudio();
    }
}

void PulseSource::waitForAudio() {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, -1) > 0 && (fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        (void)!::read(wakeFd_, &count, sizeof count);
    }
}

bool PulseSource::deliversEncoded(const AudioEncoding& encoding) const {
    return !encoding.nonInterleaved && encoding.layout == captureLayout_ && encoding.sampleRate == encoding_.sampleRate &&
           encoding.channels == encoding_.channels;
}

size_t PulseSource::readEncoded(std::span<std::byte> out, size_t frames) {
    return takeFrames(out.data(), std::min(frames, out.size() / ring_->frameBytes()));
}

size_t PulseSource::read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) {
    if (sampleRate != encoding_.sampleRate || channels != encoding_.channels)
        throw sourceError("a live source keeps the rate and channels it was opened with (" + encoding_.describe() + ")");
    const size_t chunk = scratch_.size() / ring_->frameBytes();
    frames = std::min(frames, out.size() / channels);
    size_t done = 0;
    while (done < frames) {
        const size_t got = takeFrames(scratch_.data(), std::min(chunk, frames - done));
        decode_(reinterpret_cast<const uint8_t*>(scratch_.data()), got * channels, out.data() + done * channels, 1);
        done += got;
        if (got == 0 || failed_.load(std::memory_order_acquire) || stop_.requested()) break;
    }
    return done;
}

std::string_view PulseSource::failure() const {
    if (!failed_.load(std::memory_order_acquire)) return {};
    return report_;
}

SourceOverruns PulseSource::takeOverruns() {
    const SourceOverruns now{overruns_.load(std::memory_order_relaxed), framesLost_.load(std::memory_order_relaxed)};
    const SourceOverruns since{now.events - reported_.events, now.framesLost - reported_.framesLost};
    reported_ = now;
    return since;
}

}  // namespace host
