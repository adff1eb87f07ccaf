#pragma once
// libpulse, loaded when the first live source opens rather than with the
// program: broadcasts that do not record the sound server neither need the
// library installed nor carry its code and its dependencies (about 1 MiB
// resident) in memory.

#include <pulse/pulseaudio.h>

#include <string>

#include "platform/foundation/SharedLibrary.h"

namespace host {

// clang-format off
#define HOST_PULSE_FUNCTIONS(X) \
    X(pa_channel_map_init) \
    X(pa_context_connect) \
    X(pa_context_disconnect) \
    X(pa_context_errno) \
    X(pa_context_get_server) \
    X(pa_context_get_server_info) \
    X(pa_context_get_sink_info_list) \
    X(pa_context_get_sink_input_info) \
    X(pa_context_get_sink_input_info_list) \
    X(pa_context_get_source_info_list) \
    X(pa_context_get_state) \
    X(pa_context_new) \
    X(pa_context_set_state_callback) \
    X(pa_context_set_subscribe_callback) \
    X(pa_context_subscribe) \
    X(pa_context_unref) \
    X(pa_mainloop_dispatch) \
    X(pa_mainloop_free) \
    X(pa_mainloop_get_api) \
    X(pa_mainloop_new) \
    X(pa_mainloop_poll) \
    X(pa_mainloop_prepare) \
    X(pa_mainloop_set_poll_func) \
    X(pa_operation_cancel) \
    X(pa_operation_unref) \
    X(pa_proplist_gets) \
    X(pa_sample_format_to_string) \
    X(pa_sample_spec_valid) \
    X(pa_stream_connect_record) \
    X(pa_stream_disconnect) \
    X(pa_stream_drop) \
    X(pa_stream_get_latency) \
    X(pa_stream_get_state) \
    X(pa_stream_new) \
    X(pa_stream_peek) \
    X(pa_stream_set_buffer_attr) \
    X(pa_stream_set_monitor_stream) \
    X(pa_stream_set_moved_callback) \
    X(pa_stream_set_overflow_callback) \
    X(pa_stream_set_read_callback) \
    X(pa_stream_set_state_callback) \
    X(pa_stream_set_suspended_callback) \
    X(pa_stream_unref) \
    X(pa_stream_update_timing_info) \
    X(pa_strerror)
// clang-format on

struct PulseLibrary {
    HOST_PULSE_FUNCTIONS(PLATFORM_LIBRARY_POINTER)
    std::string problem = platform::loadSharedLibrary("libpulse.so.0", {HOST_PULSE_FUNCTIONS(PLATFORM_LIBRARY_SYMBOL)});
};

// The library's functions, loaded on the first call. Throws HostError
// (BadSource) when libpulse is not installed.
const PulseLibrary& pulseLibrary();

}  // namespace host
