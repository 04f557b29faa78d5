#include "PlaybackFollower.h"

#include "ConnectionState.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace pulse {

namespace {

constexpr const char* StreamName = "application loopback";

std::uint32_t ProcessOf(const pa_client_info& client) {
    const char* text = pa_proplist_gets(client.proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (text == nullptr)
        return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' ? static_cast<std::uint32_t>(value) : 0;
}

} // namespace

PlaybackFollower::PlaybackFollower(std::shared_ptr<Connection> connection, const SinkFormat& format,
                                   std::chrono::milliseconds latency, PlaybackHandlers handlers)
    : m_connection(std::move(connection)), m_format(format), m_latency(latency),
      m_handlers(std::move(handlers)) {}

std::unique_ptr<PlaybackFollower> PlaybackFollower::Open(std::shared_ptr<Connection> connection,
                                                         const SinkFormat& format,
                                                         std::chrono::milliseconds latency,
                                                         PlaybackHandlers handlers,
                                                         std::chrono::milliseconds timeout) {
    Connection::State& state = connection->Internal();
    std::unique_ptr<PlaybackFollower> follower(
        new PlaybackFollower(std::move(connection), format, latency, std::move(handlers)));
    MainLoopLock lock(state.mainloop);
    pa_context_set_subscribe_callback(state.context, &PlaybackFollower::OnEvent, follower.get());
    const auto mask =
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT);
    if (!CompleteOperation(state, pa_context_subscribe(state.context, mask, nullptr, nullptr), timeout)) {
        pa_context_set_subscribe_callback(state.context, nullptr, nullptr);
        return nullptr;
    }
    // The streams playing already; later ones are announced. Those are recording when this returns, so that
    // a capture started now has them from its start.
    follower->Track(
        pa_context_get_sink_input_info_list(state.context, &PlaybackFollower::OnSinkInput, follower.get()));
    PlaybackFollower* settling = follower.get();
    WaitLocked(state, timeout, [settling] { return settling->IsSettled(); });
    return follower;
}

PlaybackFollower::~PlaybackFollower() {
    Connection::State& state = m_connection->Internal();
    MainLoopLock lock(state.mainloop);
    pa_context_set_subscribe_callback(state.context, nullptr, nullptr);
    if (pa_context_get_state(state.context) == PA_CONTEXT_READY)
        if (pa_operation* operation =
                pa_context_subscribe(state.context, PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr))
            pa_operation_unref(operation);
    // Cancelled operations call nothing more.
    for (pa_operation* operation : m_pending) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    for (auto& [index, followed] : m_followed)
        Close(*followed);
}

bool PlaybackFollower::SetRunning(bool running) {
    Connection::State& state = m_connection->Internal();
    MainLoopLock lock(state.mainloop);
    if (m_failed.load(std::memory_order_acquire) || pa_context_get_state(state.context) != PA_CONTEXT_READY)
        return false;
    m_running = running;
    for (auto& [index, followed] : m_followed)
        if (!followed->ended)
            if (pa_operation* operation = pa_stream_cork(followed->stream, running ? 0 : 1, nullptr, nullptr))
                pa_operation_unref(operation);
    return true;
}

bool PlaybackFollower::IsFailed() const {
    return m_failed.load(std::memory_order_acquire) || m_connection->IsFailed();
}

bool PlaybackFollower::IsSettled() const {
    const bool answered = std::none_of(m_pending.begin(), m_pending.end(), [](pa_operation* pending) {
        return pa_operation_get_state(pending) == PA_OPERATION_RUNNING;
    });
    return answered && std::none_of(m_followed.begin(), m_followed.end(), [](const auto& entry) {
               return !entry.second->ended && pa_stream_get_state(entry.second->stream) == PA_STREAM_CREATING;
           });
}

void PlaybackFollower::Track(pa_operation* operation) {
    // Finished operations are let go here rather than in their callbacks, which may still be running.
    std::erase_if(m_pending, [](pa_operation* pending) {
        if (pa_operation_get_state(pending) == PA_OPERATION_RUNNING)
            return false;
        pa_operation_unref(pending);
        return true;
    });
    if (operation == nullptr) {
        // Only a connection that is going away refuses requests; IsFailed tells the reader.
        return;
    }
    pa_operation_set_state_callback(
        operation,
        [](pa_operation*, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        },
        m_connection->Internal().mainloop);
    m_pending.push_back(operation);
}

void PlaybackFollower::OnEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                               void* userdata) {
    auto* self = static_cast<PlaybackFollower*>(userdata);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_CLIENT) {
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            self->m_clientProcesses.erase(index);
            self->m_waitingForClient.erase(index);
        }
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
        return;
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        self->Drop(index);
        return;
    }
    // A change may be a move to another sink, which ends our recording of it: look again.
    const auto followed = self->m_followed.find(index);
    if (followed != self->m_followed.end() && !followed->second->ended)
        return;
    self->Track(pa_context_get_sink_input_info(context, index, &PlaybackFollower::OnSinkInput, self));
}

void PlaybackFollower::OnSinkInput(pa_context* context, const pa_sink_input_info* info, int eol,
                                   void* userdata) {
    auto* self = static_cast<PlaybackFollower*>(userdata);
    if (eol != 0 || info == nullptr || info->client == PA_INVALID_INDEX)
        return;
    const auto known = self->m_clientProcesses.find(info->client);
    if (known != self->m_clientProcesses.end()) {
        self->Decide(info->index, known->second);
        return;
    }
    std::vector<std::uint32_t>& waiting = self->m_waitingForClient[info->client];
    if (std::find(waiting.begin(), waiting.end(), info->index) == waiting.end())
        waiting.push_back(info->index);
    if (waiting.size() == 1)
        self->Track(pa_context_get_client_info(context, info->client, &PlaybackFollower::OnClient, self));
}

void PlaybackFollower::OnClient(pa_context*, const pa_client_info* info, int eol, void* userdata) {
    auto* self = static_cast<PlaybackFollower*>(userdata);
    if (eol != 0 || info == nullptr)
        return;
    const std::uint32_t process = ProcessOf(*info);
    self->m_clientProcesses[info->index] = process;
    const auto waiting = self->m_waitingForClient.find(info->index);
    if (waiting == self->m_waitingForClient.end())
        return;
    const std::vector<std::uint32_t> streams = std::move(waiting->second);
    self->m_waitingForClient.erase(waiting);
    for (const std::uint32_t stream : streams)
        self->Decide(stream, process);
}

void PlaybackFollower::Decide(std::uint32_t sinkInput, std::uint32_t processId) {
    const auto followed = m_followed.find(sinkInput);
    if (followed != m_followed.end() && !followed->second->ended)
        return;
    bool follows = false;
    try {
        follows = processId != 0 && m_handlers.follows(processId);
    } catch (...) {
        // Nothing may unwind through the library.
        m_failed.store(true, std::memory_order_release);
    }
    if (follows)
        Follow(sinkInput);
}

void PlaybackFollower::Follow(std::uint32_t sinkInput) {
    Drop(sinkInput);
    pa_context* context = m_connection->Internal().context;
    pa_stream* stream = NewRecordStream(context, m_format, StreamName);
    if (stream == nullptr) {
        m_failed.store(true, std::memory_order_release);
        return;
    }
    auto followed = std::make_unique<Followed>(Followed{
        this, sinkInput, stream,
        FrameReader(FrameBytes(m_format), [this, sinkInput](const void* frames, std::size_t frameCount) {
            m_handlers.frames(sinkInput, frames, frameCount);
        })});
    pa_stream_set_state_callback(stream, &PlaybackFollower::OnStreamState, followed.get());
    pa_stream_set_read_callback(stream, &PlaybackFollower::OnStreamReadable, followed.get());
    pa_stream_set_monitor_stream(stream, sinkInput);
    const pa_buffer_attr attributes = RecordBufferAttributes(m_format, m_latency);
    // The server picks the monitor of the sink the stream plays on; a move ends the recording instead of
    // following the stream elsewhere, and the change that reports the move makes it start again.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (!m_running)
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    const bool connected = pa_stream_connect_record(stream, nullptr, &attributes, flags) >= 0;
    Followed& added = *m_followed.emplace(sinkInput, std::move(followed)).first->second;
    // A stream that went away between its report and now is simply not recorded.
    if (!connected)
        End(added);
}

void PlaybackFollower::End(Followed& followed) {
    if (followed.ended)
        return;
    followed.ended = true;
    try {
        m_handlers.ended(followed.index);
    } catch (...) {
        m_failed.store(true, std::memory_order_release);
    }
}

void PlaybackFollower::Drop(std::uint32_t sinkInput) {
    const auto followed = m_followed.find(sinkInput);
    if (followed == m_followed.end())
        return;
    End(*followed->second);
    Close(*followed->second);
    m_followed.erase(followed);
}

void PlaybackFollower::Close(Followed& followed) {
    pa_stream_set_state_callback(followed.stream, nullptr, nullptr);
    pa_stream_set_read_callback(followed.stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(followed.stream)))
        pa_stream_disconnect(followed.stream);
    pa_stream_unref(followed.stream);
}

void PlaybackFollower::OnStreamState(pa_stream* stream, void* userdata) {
    auto* followed = static_cast<Followed*>(userdata);
    // The stream stays in the table until the server reports it gone or it is followed anew.
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        followed->owner->End(*followed);
    pa_threaded_mainloop_signal(followed->owner->m_connection->Internal().mainloop, 0);
}

void PlaybackFollower::OnStreamReadable(pa_stream* stream, std::size_t, void* userdata) {
    auto* followed = static_cast<Followed*>(userdata);
    try {
        followed->reader.ReadAvailable(stream);
    } catch (...) {
        followed->owner->m_failed.store(true, std::memory_order_release);
    }
}

} // namespace pulse
