#pragma once
// libpulse, loaded when the first live source opens rather than with the
// program: broadcasts that do not record the sound server neither need the
// library installed nor carry its code and its dependencies (about 1 MiB
// resident) in memory.

#include <pulse/pulseaudio.h>

#include <string>

#include "platform/foundation/SharedLibrary.h"

namespace host {

#define HOST_PULSE_FUNCTIONS(X)                                                                                   \
    X(pa_channel_map_init_extend) X(pa_context_connect) X(pa_context_disconnect) X(pa_context_errno)               \
    X(pa_context_get_server) X(pa_context_get_server_info) X(pa_context_get_state) X(pa_context_new)               \
    X(pa_context_set_state_callback) X(pa_context_unref) X(pa_operation_unref) X(pa_sample_spec_valid)             \
    X(pa_stream_connect_record) X(pa_stream_disconnect) X(pa_stream_drop) X(pa_stream_get_context)                 \
    X(pa_stream_get_state) X(pa_stream_new) X(pa_stream_peek) X(pa_stream_set_read_callback)                        \
    X(pa_stream_set_state_callback) X(pa_stream_unref) X(pa_strerror) X(pa_threaded_mainloop_free)                  \
    X(pa_threaded_mainloop_get_api) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_new)                        \
    X(pa_threaded_mainloop_start) X(pa_threaded_mainloop_stop) X(pa_threaded_mainloop_unlock)

struct PulseLibrary {
    HOST_PULSE_FUNCTIONS(PLATFORM_LIBRARY_POINTER)
    std::string problem = platform::loadSharedLibrary("libpulse.so.0", {HOST_PULSE_FUNCTIONS(PLATFORM_LIBRARY_SYMBOL)});
};

// The library's functions, loaded on the first call. Throws HostError
// (BadSource) when libpulse is not installed.
const PulseLibrary& pulseLibrary();

}  // namespace host
