#include "CaptureStream.h"

#include <algorithm>
#include <cstring>

#include "PulseLibrary.h"
#include "host/HostError.h"

namespace host {
namespace {

const PulseLibrary& lib() { return pulseLibrary(); }

size_t frameBytesOf(const pa_sample_spec& spec) {
    switch (spec.format) {
        case PA_SAMPLE_U8:
        case PA_SAMPLE_ALAW:
        case PA_SAMPLE_ULAW: return spec.channels;
        case PA_SAMPLE_S16LE:
        case PA_SAMPLE_S16BE: return 2u * spec.channels;
        case PA_SAMPLE_S24LE:
        case PA_SAMPLE_S24BE: return 3u * spec.channels;
        default: return 4u * spec.channels;
    }
}

}  // namespace

CaptureStream::CaptureStream(PulseClient& client, const Request& request)
    : client_(client),
      rate_(request.spec.rate),
      ring_(std::max<size_t>(1, request.ringFrames), frameBytesOf(request.spec)) {
    const PulseLibrary& pa = lib();
    stream_ = pa.pa_stream_new(client.context(), request.name, &request.spec, &request.map);
    const auto refused = [&] {
        return sourceError("the sound server " + client.server() + " refused to record " + request.device + ": " +
                           client.lastError());
    };
    if (stream_ == nullptr) throw refused();
    pa.pa_stream_set_state_callback(stream_, &CaptureStream::onState, this);
    pa.pa_stream_set_read_callback(stream_, &CaptureStream::onReadable, this);
    pa.pa_stream_set_overflow_callback(
        stream_, [](pa_stream*, void* self) { static_cast<CaptureStream*>(self)->lose(0); }, this);
    pa.pa_stream_set_moved_callback(
        stream_, [](pa_stream*, void* self) { static_cast<CaptureStream*>(self)->moved_ = true; }, this);
    if (request.monitorOf != PA_INVALID_INDEX) pa.pa_stream_set_monitor_stream(stream_, request.monitorOf);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);  // the server's defaults, but for the fragments
    attributes.fragsize = static_cast<uint32_t>(request.fragmentFrames * ring_.frameBytes());
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | (request.keepsPace ? PA_STREAM_START_CORKED : 0));
    if (pa.pa_stream_connect_record(stream_, request.device.c_str(), &attributes, flags) < 0) {
        pa.pa_stream_unref(stream_);
        stream_ = nullptr;
        throw refused();
    }
}

CaptureStream::~CaptureStream() {
    if (stream_ == nullptr) return;
    // No callback may reach this object once it is gone.
    lib().pa_stream_set_state_callback(stream_, nullptr, nullptr);
    lib().pa_stream_set_read_callback(stream_, nullptr, nullptr);
    lib().pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
    lib().pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    lib().pa_stream_disconnect(stream_);
    lib().pa_stream_unref(stream_);
}

void CaptureStream::lose(size_t frames) {
    losses_.framesLost += frames;
    if (!losing_) ++losses_.events;
    losing_ = true;
}

void CaptureStream::onReadable(pa_stream* stream, size_t, void* data) {
    auto& self = *static_cast<CaptureStream*>(data);
    const size_t frameBytes = self.ring_.frameBytes();
    for (;;) {
        const void* bytes = nullptr;
        size_t size = 0;
        if (lib().pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) break;
        const size_t frames = size / frameBytes;
        // A hole is audio the server lost: silence keeps its place. What does
        // not fit is audio the host could not keep up with.
        const size_t leftOut = self.ring_.put(bytes, frames);
        if (bytes == nullptr)
            self.lose(frames);
        else if (leftOut > 0)
            self.lose(leftOut);
        else
            self.losing_ = false;
        self.arrived_ += frames;
        lib().pa_stream_drop(stream);
    }
    self.lastArrival_ = Clock::now();
}

void CaptureStream::onState(pa_stream* stream, void* data) {
    auto& self = *static_cast<CaptureStream*>(data);
    switch (lib().pa_stream_get_state(stream)) {
        case PA_STREAM_READY: self.ready_ = true; break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const int error = lib().pa_context_errno(self.client_.context());
            self.killed_ = error == PA_ERR_KILLED;
            self.endReason_ = error == PA_ERR_NOENTITY ? "no such source" : lib().pa_strerror(error);
            if (self.endReason_.empty()) self.endReason_ = "ended";
            self.ready_ = false;
            break;
        }
        default: break;
    }
}

void CaptureStream::requestBacklog() {
    backlogFrames_.reset();
    // A fragment gathers in the server until it is whole; asking for small
    // ones from now on makes the server send what it holds without waiting.
    pa_buffer_attr small;
    std::memset(&small, 0xff, sizeof small);
    small.fragsize = static_cast<uint32_t>(std::max<size_t>(1, rate_ / 50) * ring_.frameBytes());
    if (pa_operation* operation = lib().pa_stream_set_buffer_attr(stream_, &small, nullptr, nullptr))
        lib().pa_operation_unref(operation);
    pa_operation* operation = lib().pa_stream_update_timing_info(
        stream_,
        [](pa_stream* stream, int success, void* data) {
            // The latency counts what had not arrived when the answer came;
            // what had arrived is in the ring, not yet taken (the host
            // takes nothing while it waits for this answer).
            auto& self = *static_cast<CaptureStream*>(data);
            pa_usec_t usec = 0;
            int negative = 0;
            uint64_t latency = 0;
            if (success != 0 && lib().pa_stream_get_latency(stream, &usec, &negative) >= 0 && negative == 0)
                latency = static_cast<uint64_t>(static_cast<double>(usec) * self.rate_ / 1e6);
            self.backlogFrames_ = self.ring_.frames() + latency;
        },
        this);
    if (operation == nullptr) {
        backlogFrames_ = ring_.frames();
        return;
    }
    lib().pa_operation_unref(operation);
}

}  // namespace host
