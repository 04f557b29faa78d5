#include "MediaSource.h"

#include "Util/HResultCheck.h"
#include <mferror.h>

MediaSource::MediaSource(MediaSourceType type)
    : EventGeneratorBase(std::make_shared<std::recursive_mutex>()), m_type(type) {}

MediaSource::~MediaSource() {
    if (m_state != State::Shutdown)
        Shutdown();
    if (m_asyncQueue)
        m_asyncQueue->Detach();
}

HRESULT MediaSource::CreateInstance(MediaSourceType type, int count, IMFMediaType** mediaTypes,
                                    MediaSource** source) {
    if (source == nullptr)
        return E_POINTER;
    *source = nullptr;
    return NoThrow([&] {
        ComPtr<MediaSource> created;
        created.Attach(new MediaSource(type));
        const HRESULT hr = created->Initialize(count, mediaTypes);
        if (SUCCEEDED(hr))
            *source = created.Detach();
        return hr;
    });
}

HRESULT MediaSource::Initialize(int count, IMFMediaType** mediaTypes) {
    std::lock_guard lock(*m_lock);
    m_asyncQueue = MakeComObject<AsyncQueue<AsyncOp, MediaSource>>(
        m_lock, this, &MediaSource::ValidateOperation, &MediaSource::DispatchOperation);
    if (!m_asyncQueue)
        return E_OUTOFMEMORY;
    if (count < 0 || (count > 0 && mediaTypes == nullptr))
        return LogIfFailed(E_INVALIDARG, "hr = E_INVALIDARG");
    HRESULT hr = LogIfFailed(MFCreateEventQueue(&m_eventQueue), "hr = MFCreateEventQueue( &m_eventQueue )");
    const DWORD numStreams = static_cast<DWORD>(count);
    std::vector<ComPtr<IMFStreamDescriptor>> streamDescs(numStreams);
    for (DWORD stream = 0; SUCCEEDED(hr) && stream < numStreams; ++stream)
        hr = LogIfFailed(
            MFCreateStreamDescriptor(stream, 1, &mediaTypes[stream], &streamDescs[stream]),
            "hr = MFCreateStreamDescriptor( stream, 1, &streamMediaTypes[stream], &streamDescs[stream] )");
    if (SUCCEEDED(hr)) {
        std::vector<IMFStreamDescriptor*> descriptors;
        for (const auto& streamDesc : streamDescs)
            descriptors.push_back(streamDesc.Get());
        hr = LogIfFailed(
            MFCreatePresentationDescriptor(numStreams, descriptors.data(), &m_presentDesc),
            "hr = MFCreatePresentationDescriptor( numStreams, streamDescs.data(), &m_presentDesc )");
    }
    for (DWORD stream = 0; SUCCEEDED(hr) && stream < numStreams; ++stream)
        hr = LogIfFailed(m_presentDesc->SelectStream(stream), "hr = m_presentDesc->SelectStream( stream )");
    if (SUCCEEDED(hr))
        m_streams.resize(numStreams);
    for (DWORD stream = 0; SUCCEEDED(hr) && stream < numStreams; ++stream)
        hr = LogIfFailed(MediaStream::CreateInstance(this, streamDescs[stream].Get(), &m_streams[stream]),
                         "hr = MediaStream::CreateInstance( this, streamDescs[stream], &m_streams[stream] )");
    if (SUCCEEDED(hr))
        m_state = State::Stopped;
    return hr;
}

HRESULT MediaSource::GetStream(DWORD index, MediaStream** stream) {
    if (stream == nullptr)
        return E_POINTER;
    *stream = nullptr;
    std::lock_guard lock(*m_lock);
    if (m_state == State::Shutdown)
        return MF_E_SHUTDOWN;
    // The streams are released at shutdown, so an index is checked rather than trusted.
    if (index >= m_streams.size() || !m_streams[index])
        return E_INVALIDARG;
    return m_streams[index].CopyTo(stream);
}

MediaSource::State MediaSource::CurrentState() const {
    std::lock_guard lock(*m_lock);
    return m_state;
}

HRESULT MediaSource::CheckInitialized() const {
    return m_state > State::Uninitialized ? S_OK
                                          : LogIfFailed(MF_E_NOT_INITIALIZED, "hr = CheckInitialized()");
}

HRESULT MediaSource::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    ComPtr<IMFMediaEventQueue> queue;
    {
        std::lock_guard lock(*m_lock);
        const HRESULT hr = CheckShutdown();
        if (FAILED(hr))
            return hr;
        queue = m_eventQueue;
    }
    // May block until an event comes, so outside the lock.
    const HRESULT hr = queue->GetEvent(dwFlags, ppEvent);
    return hr == MF_E_NO_EVENTS_AVAILABLE ? hr : LogIfFailed(hr, "hr");
}

HRESULT MediaSource::GetCharacteristics(DWORD* pdwCharacteristics) {
    if (pdwCharacteristics == nullptr)
        return E_POINTER;
    *pdwCharacteristics = MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE;
    return S_OK;
}

HRESULT MediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** ppPresentationDescriptor) {
    if (ppPresentationDescriptor == nullptr)
        return E_POINTER;
    *ppPresentationDescriptor = nullptr;
    std::lock_guard lock(*m_lock);
    HRESULT hr = CheckShutdown();
    if (SUCCEEDED(hr) && !m_presentDesc)
        hr = MF_E_NOT_INITIALIZED;
    if (SUCCEEDED(hr))
        hr = CheckInitialized();
    return SUCCEEDED(hr) ? m_presentDesc->Clone(ppPresentationDescriptor) : hr;
}

HRESULT MediaSource::Start(IMFPresentationDescriptor* pPresentationDescriptor, const GUID*,
                           const PROPVARIANT* pvarStartPosition) {
    if (pPresentationDescriptor == nullptr)
        return E_INVALIDARG;
    std::lock_guard lock(*m_lock);
    HRESULT hr = CheckShutdown();
    if (SUCCEEDED(hr))
        hr = CheckInitialized();
    if (SUCCEEDED(hr))
        hr = ValidatePresentationDescriptor(pPresentationDescriptor);
    if (FAILED(hr))
        return hr;
    hr = NoThrow([&] {
        return QueueAsyncOp(AsyncOp(AsyncOpType::Start, pvarStartPosition, pPresentationDescriptor));
    });
    return LogIfFailed(hr, "hr");
}

HRESULT MediaSource::Stop() {
    std::lock_guard lock(*m_lock);
    HRESULT hr = CheckShutdown();
    if (SUCCEEDED(hr))
        hr = CheckInitialized();
    return SUCCEEDED(hr) ? QueueAsyncOp(AsyncOpType::Stop) : hr;
}

HRESULT MediaSource::Pause() {
    std::lock_guard lock(*m_lock);
    const HRESULT hr = CheckShutdown();
    return SUCCEEDED(hr) ? QueueAsyncOp(AsyncOpType::Pause) : hr;
}

HRESULT MediaSource::Shutdown() {
    std::lock_guard lock(*m_lock);
    if (m_state == State::Shutdown)
        return LogIfFailed(MF_E_SHUTDOWN, "hr = CheckShutdown()");
    HRESULT hr = S_OK;
    HRESULT result = S_OK;
    for (auto& stream : m_streams) {
        if (!stream)
            continue;
        hr = stream->Shutdown();
        if (hr != S_OK)
            result = hr;
        stream->DetachSource();
    }
    if (m_eventQueue) {
        hr = m_eventQueue->Shutdown();
        if (hr != S_OK)
            result = hr;
    }
    m_streams.clear();
    m_eventQueue = nullptr;
    m_presentDesc = nullptr;
    if (m_asyncQueue)
        m_asyncQueue->Clear();
    m_state = State::Shutdown;
    return result;
}

HRESULT MediaSource::QueueAsyncOp(AsyncOpType type) {
    return NoThrow([&] { return QueueAsyncOp(AsyncOp(type)); });
}

HRESULT MediaSource::QueueAsyncOp(const AsyncOp& op) { return m_asyncQueue->QueueOp(op); }

HRESULT MediaSource::ValidateOperation(AsyncOp&) { return m_currentOp != nullptr ? MF_E_NOTACCEPTING : S_OK; }

HRESULT MediaSource::DispatchOperation(AsyncOp& op) {
    std::lock_guard lock(*m_lock);
    if (m_state == State::Shutdown)
        return S_OK;
    if (!m_eventQueue)
        return MF_E_NOT_INITIALIZED;
    HRESULT hr = S_OK;
    switch (op.type) {
    case AsyncOpType::Start:
        hr = DoStart(op);
        break;
    case AsyncOpType::Stop:
        hr = DoStop(op);
        break;
    case AsyncOpType::Pause:
        hr = DoPause(op);
        break;
    case AsyncOpType::EndOfStream:
        hr = DoEndOfStream(op);
        break;
    default:
        hr = E_UNEXPECTED;
        break;
    }
    if (FAILED(hr) && m_state != State::Shutdown)
        m_eventQueue->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr);
    CompleteAsyncOp();
    return hr;
}

HRESULT MediaSource::BeginAsyncOp(AsyncOp& op) {
    if (m_currentOp != nullptr)
        return LogIfFailed(E_FAIL, "hr = BeginAsyncOp( op )");
    m_currentOp = &op;
    return S_OK;
}

void MediaSource::CompleteAsyncOp() {
    m_currentOp = nullptr;
    LogIfFailed(m_asyncQueue->ProcessNext(), "hr = m_asyncQueue->ProcessNext()");
}

HRESULT MediaSource::DoStart(AsyncOp& op) {
    HRESULT hr = BeginAsyncOp(op);
    if (FAILED(hr)) {
        m_eventQueue->QueueEventParamVar(MESourceStarted, GUID_NULL, hr, nullptr);
    } else {
        hr = SelectStreams(op.presentDesc.Get(), op.propVar);
        if (FAILED(hr)) {
            LogIfFailed(hr, "hr = SelectStreams( presentDesc, op.propVar )");
            m_eventQueue->QueueEventParamVar(MESourceStarted, GUID_NULL, hr, nullptr);
        } else {
            m_state = State::Started;
            hr = m_eventQueue->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &op.propVar);
            if (FAILED(hr)) {
                LogIfFailed(
                    hr,
                    "hr = m_eventQueue->QueueEventParamVar( MESourceStarted, GUID_NULL, S_OK, &op.propVar )");
                m_eventQueue->QueueEventParamVar(MESourceStarted, GUID_NULL, hr, nullptr);
            }
        }
    }
    op.presentDesc = nullptr;
    return hr;
}

HRESULT MediaSource::DoStop(AsyncOp& op) {
    return LeaveStarted(op, &MediaStream::Stop, "hr = stream->Stop()", State::Stopped, MESourceStopped);
}

HRESULT MediaSource::DoPause(AsyncOp& op) {
    return LeaveStarted(op, &MediaStream::Pause, "hr = stream->Pause()", State::Paused, MESourcePaused);
}

HRESULT MediaSource::LeaveStarted(AsyncOp& op, HRESULT (MediaStream::*change)(), const char* changeText,
                                  State next, MediaEventType completion) {
    HRESULT hr = BeginAsyncOp(op);
    if (SUCCEEDED(hr)) {
        // Only a started source stops or pauses.
        if (m_state == State::Started) {
            for (const auto& stream : m_streams) {
                if (!stream->IsActive())
                    continue;
                hr = LogIfFailed((stream.Get()->*change)(), changeText);
                if (FAILED(hr))
                    break;
            }
            if (SUCCEEDED(hr))
                m_state = next;
        } else {
            hr = LogIfFailed(MF_E_INVALID_STATE_TRANSITION, "hr = MF_E_INVALID_STATE_TRANSITION");
        }
    }
    m_eventQueue->QueueEventParamVar(completion, GUID_NULL, hr, nullptr);
    return hr;
}

HRESULT MediaSource::DoEndOfStream(AsyncOp& op) {
    HRESULT hr = BeginAsyncOp(op);
    if (SUCCEEDED(hr) && m_pendingEos-- == 1)
        hr = LogIfFailed(
            m_eventQueue->QueueEventParamVar(MEEndOfPresentation, GUID_NULL, S_OK, nullptr),
            "hr = m_eventQueue->QueueEventParamVar( MEEndOfPresentation, GUID_NULL, S_OK, NULL )");
    return hr;
}

HRESULT MediaSource::SelectStreams(IMFPresentationDescriptor* presentDesc, const PROPVARIANT& propVar) {
    m_pendingEos = 0;
    HRESULT hr = S_OK;
    DWORD index = 0;
    for (const auto& stream : m_streams) {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> streamDesc;
        hr = LogIfFailed(presentDesc->GetStreamDescriptorByIndex(index++, &selected, &streamDesc),
                         "hr = presentDesc->GetStreamDescriptorByIndex( index++, &selected, &streamDesc )");
        if (FAILED(hr))
            break;
        const bool wasActive = stream->IsActive();
        hr = LogIfFailed(stream->Activate(selected != FALSE), "hr = stream->Activate( selected )");
        if (FAILED(hr))
            break;
        if (!selected)
            continue;
        ++m_pendingEos;
        IUnknown* streamUnk = static_cast<IMFMediaStream*>(stream.Get());
        if (wasActive)
            hr = LogIfFailed(
                m_eventQueue->QueueEventParamUnk(MEUpdatedStream, GUID_NULL, hr, streamUnk),
                "hr = m_eventQueue->QueueEventParamUnk( MEUpdatedStream, GUID_NULL, hr, streamUnk )");
        else
            hr =
                LogIfFailed(m_eventQueue->QueueEventParamUnk(MENewStream, GUID_NULL, hr, streamUnk),
                            "hr = m_eventQueue->QueueEventParamUnk( MENewStream, GUID_NULL, hr, streamUnk )");
        if (SUCCEEDED(hr))
            hr = LogIfFailed(stream->Start(propVar), "hr = stream->Start( propVar )");
        if (FAILED(hr))
            break;
    }
    return hr;
}

HRESULT MediaSource::ValidatePresentationDescriptor(IMFPresentationDescriptor* presentDesc) {
    DWORD streams = 0;
    HRESULT hr = LogIfFailed(presentDesc->GetStreamDescriptorCount(&streams),
                             "hr = presentDesc->GetStreamDescriptorCount( &streams )");
    if (FAILED(hr))
        return hr;
    for (DWORD index = 0; index < streams; ++index) {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> streamDesc;
        hr = LogIfFailed(presentDesc->GetStreamDescriptorByIndex(index, &selected, &streamDesc),
                         "hr = presentDesc->GetStreamDescriptorByIndex( index, &selected, &streamDesc )");
        if (FAILED(hr))
            return hr;
        if (selected)
            return S_OK;
    }
    return LogIfFailed(E_INVALIDARG, "hr = E_INVALIDARG");
}
