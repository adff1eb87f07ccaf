#include "PulseClient.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "PulseLibrary.h"
#include "host/HostError.h"

namespace host {
namespace {

const PulseLibrary& lib() { return pulseLibrary(); }

std::string text(const char* value) { return value != nullptr ? value : ""; }

std::string property(pa_proplist* properties, const char* key) {
    return properties != nullptr ? text(lib().pa_proplist_gets(properties, key)) : std::string();
}

std::optional<uint64_t> decimal(const std::string& digits) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

HostError interrupted(const toolkit::StopToken& stop, const std::string& what) {
    return {static_cast<ExitCode>(128 + stop.signal()), what + ": interrupted"};
}

// The answer to one query, filled by its callback.
template <typename Facts>
struct Answer {
    std::vector<Facts> facts;
    bool done = false;
};

PlaybackFacts playbackFacts(const pa_sink_input_info& info) {
    PlaybackFacts facts;
    facts.index = info.index;
    facts.sink = info.sink;
    facts.appName = property(info.proplist, PA_PROP_APPLICATION_NAME);
    facts.binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    facts.pid = decimal(property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID));
    facts.spec = info.sample_spec;
    return facts;
}

SourceFacts sourceFacts(const pa_source_info& info) {
    return {info.index, text(info.name), text(info.description), info.sample_spec, text(info.monitor_of_sink_name)};
}

SinkFacts sinkFacts(const pa_sink_info& info) { return {info.index, text(info.name), info.monitor_source}; }

// The callback of a list query: each entry through `make`, then the end (a
// stream that is gone answers with an error and no entry).
template <typename Facts, typename Info, Facts (*make)(const Info&)>
void collect(pa_context*, const Info* info, int eol, void* data) {
    auto& answer = *static_cast<Answer<Facts>*>(data);
    if (eol != 0 || info == nullptr)
        answer.done = true;
    else
        answer.facts.push_back(make(*info));
}

}  // namespace

PulseClient::PulseClient(toolkit::StopToken stop, std::string purpose) : stop_(stop), purpose_(std::move(purpose)) {
    const PulseLibrary& pa = lib();
    const char* server = std::getenv("PULSE_SERVER");
    server_ = server != nullptr && server[0] != '\0' ? server : "(default)";
    const std::string what = "cannot connect to the sound server " + server_ + " " + purpose_;
    loop_ = pa.pa_mainloop_new();
    if (loop_ == nullptr) throw sourceError(what + ": libpulse cannot make a main loop");
    pa.pa_mainloop_set_poll_func(loop_, &PulseClient::pollWithStop, this);
    context_ = pa.pa_context_new(pa.pa_mainloop_get_api(loop_), "broadcast-extension");
    try {
        if (context_ == nullptr) throw sourceError(what + ": libpulse cannot make a context");
        pa.pa_context_set_state_callback(
            context_,
            [](pa_context* context, void* self) {
                const pa_context_state_t state = lib().pa_context_get_state(context);
                auto& client = *static_cast<PulseClient*>(self);
                if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && client.failure_.empty())
                    client.failure_ = client.lastError();
            },
            this);
        if (pa.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            throw sourceError(what + ": " + lastError());
        waitUntil([this] { return lib().pa_context_get_state(context_) == PA_CONTEXT_READY; }, what);
        server_ = text(pa.pa_context_get_server(context_));
    } catch (...) {
        close();
        throw;
    }
}

PulseClient::~PulseClient() { close(); }

void PulseClient::close() {
    if (context_ != nullptr) {
        lib().pa_context_set_state_callback(context_, nullptr, nullptr);
        lib().pa_context_disconnect(context_);
        lib().pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) lib().pa_mainloop_free(loop_);
    loop_ = nullptr;
}

std::string PulseClient::lastError() const { return lib().pa_strerror(lib().pa_context_errno(context_)); }

int PulseClient::pollWithStop(pollfd* fds, unsigned long count, int timeoutMs, void* self) {
    auto& client = *static_cast<PulseClient*>(self);
    const int stopFd = client.stop_.fd();
    if (!client.watchStop_ || stopFd < 0 || count >= client.pollFds_.size()) return ::poll(fds, count, timeoutMs);
    std::copy_n(fds, count, client.pollFds_.begin());
    client.pollFds_[count] = {stopFd, POLLIN, 0};
    int ready = ::poll(client.pollFds_.data(), count + 1, timeoutMs);
    if (ready <= 0) return ready;
    for (unsigned long i = 0; i < count; ++i) fds[i].revents = client.pollFds_[i].revents;
    if (client.pollFds_[count].revents != 0) --ready;
    return ready;
}

int PulseClient::iterate(Clock::time_point deadline) {
    // The loop takes its timeout in microseconds (the poll function gets
    // milliseconds); a wait longer than an int holds just wakes early.
    int timeoutUs = -1;
    if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
        timeoutUs = static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
    }
    if (lib().pa_mainloop_prepare(loop_, timeoutUs) < 0) return 0;
    if (lib().pa_mainloop_poll(loop_) < 0) return 0;
    return std::max(0, lib().pa_mainloop_dispatch(loop_));
}

void PulseClient::takeInPending() {
    // Bounded, so a server that sends faster than it is read cannot hold
    // the host here; what it sent meanwhile waits for the next call.
    constexpr int kRounds = 1000;
    for (int round = 0; round < kRounds && failure_.empty(); ++round)
        if (iterate(Clock::now()) == 0) return;
}

void PulseClient::waitUntil(const std::function<bool()>& done, const std::string& what) {
    const auto deadline = Clock::now() + kAnswerBound;
    while (!done()) {
        if (!failure_.empty()) throw sourceError(what + ": " + failure_);
        if (watchStop_ && stop_.requested()) throw interrupted(stop_, what);
        if (Clock::now() >= deadline)
            throw sourceError(what + ": no answer within " + std::to_string(kAnswerBound.count()) + " s");
        iterate(deadline);
    }
}

void PulseClient::await(pa_operation* operation, const bool& answered, const std::string& what) {
    if (operation == nullptr) throw sourceError(what + ": " + lastError());
    try {
        waitUntil([&answered] { return answered; }, what);
    } catch (...) {
        // The callback must not reach the caller's answer after it is gone.
        lib().pa_operation_cancel(operation);
        lib().pa_operation_unref(operation);
        throw;
    }
    lib().pa_operation_unref(operation);
}

ServerFacts PulseClient::serverFacts() {
    Answer<ServerFacts> answer;
    const auto callback = [](pa_context*, const pa_server_info* info, void* data) {
        auto& a = *static_cast<Answer<ServerFacts>*>(data);
        if (info != nullptr)
            a.facts.push_back({{},
                               text(info->server_name) + " " + text(info->server_version),
                               text(info->default_sink_name),
                               text(info->default_source_name)});
        a.done = true;
    };
    const std::string what = "the sound server " + server_ + " did not describe itself";
    await(lib().pa_context_get_server_info(context_, callback, &answer), answer.done, what);
    if (answer.facts.empty()) throw sourceError(what + ": " + lastError());
    answer.facts.front().name = server_;
    return answer.facts.front();
}

std::vector<SourceFacts> PulseClient::sources() {
    Answer<SourceFacts> answer;
    const auto callback = &collect<SourceFacts, pa_source_info, sourceFacts>;
    await(lib().pa_context_get_source_info_list(context_, callback, &answer), answer.done,
          "the sound server " + server_ + " did not list its sources");
    return answer.facts;
}

std::vector<PlaybackFacts> PulseClient::playbacks() { return queryPlaybacks(std::nullopt); }

std::optional<PlaybackFacts> PulseClient::playback(uint32_t index) {
    std::vector<PlaybackFacts> found = queryPlaybacks(index);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<PlaybackFacts> PulseClient::queryPlaybacks(std::optional<uint32_t> only) {
    Answer<PlaybackFacts> answer;
    const auto callback = &collect<PlaybackFacts, pa_sink_input_info, playbackFacts>;
    const std::string what = "the sound server " + server_ + " did not list what apps play";
    pa_operation* operation = only ? lib().pa_context_get_sink_input_info(context_, *only, callback, &answer)
                                   : lib().pa_context_get_sink_input_info_list(context_, callback, &answer);
    await(operation, answer.done, what);
    if (answer.facts.empty()) return answer.facts;
    const std::vector<SinkFacts> all = sinks();
    for (PlaybackFacts& playback : answer.facts) {
        const auto sink =
            std::find_if(all.begin(), all.end(), [&](const SinkFacts& s) { return s.index == playback.sink; });
        if (sink == all.end()) continue;
        playback.sinkName = sink->name;
        playback.monitorSource = sink->monitorSource;
    }
    return answer.facts;
}

std::vector<SinkFacts> PulseClient::sinks() {
    Answer<SinkFacts> answer;
    const auto callback = &collect<SinkFacts, pa_sink_info, sinkFacts>;
    await(lib().pa_context_get_sink_info_list(context_, callback, &answer), answer.done,
          "the sound server " + server_ + " did not list its sinks");
    return answer.facts;
}

void PulseClient::watchPlaybacks(std::function<void(uint32_t index)> changed) {
    playbacksChanged_ = std::move(changed);
    lib().pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
            auto& client = *static_cast<PulseClient*>(self);
            if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
                client.playbacksChanged_)
                client.playbacksChanged_(index);
        },
        this);
    pa_operation* operation = lib().pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr);
    if (operation == nullptr)
        throw sourceError("the sound server " + server_ + " will not report what apps play: " + lastError());
    lib().pa_operation_unref(operation);
}

}  // namespace host
