#include "Connection.h"

#include "ConnectionState.h"
#include "MonitorStream.h"
#include "PlaybackFollower.h"
#include "WaveChannelMap.h"

#include <pulse/rtclock.h>

#include <string>
#include <utility>

namespace pulse {

namespace {

constexpr const char* ClientName = "pyx-video";

void SignalMainLoop(pa_threaded_mainloop* mainloop) { pa_threaded_mainloop_signal(mainloop, 0); }

struct Deadline {
    Connection::State* state;
    bool passed = false;
};

bool IsSettled(pa_context_state_t state) { return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state); }

} // namespace

Connection::State::~State() {
    if (mainloop == nullptr)
        return;
    // Stopping the event thread first means no callback runs while the context goes away.
    pa_threaded_mainloop_stop(mainloop);
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_free(mainloop);
}

bool WaitLocked(Connection::State& state, std::chrono::milliseconds timeout,
                const std::function<bool()>& done) {
    if (done())
        return true;
    Deadline deadline{&state};
    const pa_usec_t when = pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000;
    pa_time_event* timer = pa_context_rttime_new(
        state.context, when,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* reached = static_cast<Deadline*>(userdata);
            reached->passed = true;
            SignalMainLoop(reached->state->mainloop);
        },
        &deadline);
    if (timer == nullptr)
        return false;
    bool result = done();
    while (!result && !deadline.passed) {
        pa_threaded_mainloop_wait(state.mainloop);
        result = done();
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(state.mainloop);
    api->time_free(timer);
    return result;
}

bool CompleteOperation(Connection::State& state, pa_operation* operation, std::chrono::milliseconds timeout) {
    if (operation == nullptr)
        return false;
    pa_operation_set_state_callback(
        operation,
        [](pa_operation*, void* mainloop) { SignalMainLoop(static_cast<pa_threaded_mainloop*>(mainloop)); },
        state.mainloop);
    const bool settled =
        WaitLocked(state, timeout, [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    const bool completed = settled && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!settled)
        pa_operation_cancel(operation);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return completed;
}

std::shared_ptr<Connection> Connection::Open(std::chrono::milliseconds timeout) {
    auto state = std::make_unique<State>();
    state->mainloop = pa_threaded_mainloop_new();
    if (state->mainloop == nullptr)
        return nullptr;
    state->context = pa_context_new(pa_threaded_mainloop_get_api(state->mainloop), ClientName);
    if (state->context == nullptr)
        return nullptr;
    pa_context_set_state_callback(
        state->context,
        [](pa_context*, void* mainloop) { SignalMainLoop(static_cast<pa_threaded_mainloop*>(mainloop)); },
        state->mainloop);
    if (pa_threaded_mainloop_start(state->mainloop) < 0)
        return nullptr;
    bool ready = false;
    {
        MainLoopLock lock(state->mainloop);
        if (pa_context_connect(state->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            pa_context* context = state->context;
            WaitLocked(*state, timeout, [context] { return IsSettled(pa_context_get_state(context)); });
            ready = pa_context_get_state(context) == PA_CONTEXT_READY;
        }
    }
    if (!ready)
        return nullptr;
    return std::shared_ptr<Connection>(new Connection(std::move(state)));
}

Connection::Connection(std::unique_ptr<State> state) : m_state(std::move(state)) {}

Connection::~Connection() = default;

bool Connection::IsFailed() const {
    MainLoopLock lock(m_state->mainloop);
    return pa_context_get_state(m_state->context) != PA_CONTEXT_READY;
}

std::unique_ptr<FrameStream> Connection::OpenMonitor(const SinkFormat& format,
                                                     std::chrono::milliseconds latency,
                                                     FrameStream::FrameHandler handler,
                                                     std::chrono::milliseconds timeout) {
    return MonitorStream::Open(shared_from_this(), format, latency, std::move(handler), timeout);
}

std::unique_ptr<FrameStream> Connection::FollowPlayback(const SinkFormat& format,
                                                        std::chrono::milliseconds latency,
                                                        PlaybackHandlers handlers,
                                                        std::chrono::milliseconds timeout) {
    return PlaybackFollower::Open(shared_from_this(), format, latency, std::move(handlers), timeout);
}

std::optional<SinkFormat> Connection::DefaultSink(std::chrono::milliseconds timeout) {
    MainLoopLock lock(m_state->mainloop);
    std::string sinkName;
    pa_operation* serverQuery = pa_context_get_server_info(
        m_state->context,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (info != nullptr && info->default_sink_name != nullptr)
                *static_cast<std::string*>(userdata) = info->default_sink_name;
        },
        &sinkName);
    if (!CompleteOperation(*m_state, serverQuery, timeout) || sinkName.empty())
        return std::nullopt;

    struct SinkAnswer {
        bool found = false;
        SinkFormat format;
    } answer;
    pa_operation* sinkQuery = pa_context_get_sink_info_by_name(
        m_state->context, sinkName.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
            if (eol != 0 || info == nullptr || info->monitor_source_name == nullptr)
                return;
            auto* result = static_cast<SinkAnswer*>(userdata);
            result->found = true;
            result->format.monitorSource = info->monitor_source_name;
            result->format.samplesPerSecond = info->sample_spec.rate;
            result->format.channels = info->sample_spec.channels;
            result->format.channelMask = WaveChannelMask(info->channel_map);
        },
        &answer);
    if (!CompleteOperation(*m_state, sinkQuery, timeout) || !answer.found)
        return std::nullopt;
    return answer.format;
}

} // namespace pulse
