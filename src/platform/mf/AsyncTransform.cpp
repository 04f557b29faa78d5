#include "AsyncTransform.h"

#include <mferror.h>
#include <wrl/implements.h>

namespace {

// Announced outputs waiting for ProcessOutput beyond which no more input is asked for.
constexpr std::size_t MaxWaitingOutputs = 4;

} // namespace

HRESULT AsyncTransform::Create(ComPtr<IMFTransform> inner, IMFTransform** transform) {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    if (!inner)
        return E_INVALIDARG;
    ComPtr<IMFAttributes> attributes;
    ComPtr<IMFMediaEventQueue> events;
    HRESULT hr = inner->GetAttributes(&attributes);
    if (SUCCEEDED(hr))
        hr = attributes->SetUINT32(MF_TRANSFORM_ASYNC, TRUE);
    if (SUCCEEDED(hr))
        hr = MFCreateEventQueue(&events);
    if (FAILED(hr))
        return hr;
    auto* created = new (std::nothrow) AsyncTransform(std::move(inner), std::move(events));
    if (created == nullptr)
        return E_OUTOFMEMORY;
    *transform = created;
    return S_OK;
}

AsyncTransform::~AsyncTransform() { m_events->Shutdown(); }

bool AsyncTransform::Unlocked() {
    ComPtr<IMFAttributes> attributes;
    return SUCCEEDED(m_inner->GetAttributes(&attributes)) &&
           MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC_UNLOCK, FALSE) != FALSE;
}

HRESULT AsyncTransform::Queue(MediaEventType type, const GUID& key, UINT64 value) {
    ComPtr<IMFMediaEvent> event;
    HRESULT hr = MFCreateMediaEvent(type, GUID_NULL, S_OK, nullptr, &event);
    if (SUCCEEDED(hr))
        hr = key == MF_EVENT_MFT_CONTEXT ? event->SetUINT64(key, value)
                                         : event->SetUINT32(key, static_cast<UINT32>(value));
    if (SUCCEEDED(hr))
        hr = m_events->QueueEvent(event.Get());
    return hr;
}

HRESULT AsyncTransform::AskForInput() {
    if (!m_streaming || m_inputRequests > 0 || m_output.size() >= MaxWaitingOutputs)
        return S_OK;
    ++m_inputRequests;
    return Queue(METransformNeedInput, MF_EVENT_MFT_INPUT_STREAM_ID, 0);
}

HRESULT AsyncTransform::Collect() {
    for (;;) {
        MFT_OUTPUT_DATA_BUFFER buffer{0, nullptr, 0, nullptr};
        DWORD status = 0;
        const HRESULT hr = m_inner->ProcessOutput(0, 1, &buffer, &status);
        if (buffer.pEvents != nullptr)
            buffer.pEvents->Release();
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
            return S_OK;
        if (FAILED(hr))
            return hr;
        ComPtr<IMFSample> sample;
        sample.Attach(buffer.pSample);
        m_output.push_back(std::move(sample));
        const HRESULT queued = Queue(METransformHaveOutput, MF_EVENT_MFT_INPUT_STREAM_ID, 0);
        if (FAILED(queued))
            return queued;
    }
}

HRESULT AsyncTransform::GetEvent(DWORD flags, IMFMediaEvent** event) {
    return m_events->GetEvent(flags, event);
}

HRESULT AsyncTransform::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    return m_events->BeginGetEvent(callback, state);
}

HRESULT AsyncTransform::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    return m_events->EndGetEvent(result, event);
}

HRESULT AsyncTransform::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                   const PROPVARIANT* value) {
    return m_events->QueueEventParamVar(type, extendedType, status, value);
}

HRESULT AsyncTransform::GetInputStatus(DWORD stream, DWORD* flags) {
    if (flags == nullptr)
        return E_POINTER;
    if (stream != 0)
        return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(m_mutex);
    *flags = m_inputRequests > 0 ? MFT_INPUT_STATUS_ACCEPT_DATA : 0;
    return S_OK;
}

HRESULT AsyncTransform::GetOutputStatus(DWORD* flags) {
    if (flags == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *flags = m_output.empty() ? 0 : MFT_OUTPUT_STATUS_SAMPLE_READY;
    return S_OK;
}

HRESULT AsyncTransform::ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR parameter) {
    std::lock_guard lock(m_mutex);
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    return NoThrow([&] {
        switch (message) {
        case MFT_MESSAGE_NOTIFY_START_OF_STREAM: {
            const HRESULT hr = m_inner->ProcessMessage(message, parameter);
            if (FAILED(hr))
                return hr;
            m_streaming = true;
            return AskForInput();
        }
        case MFT_MESSAGE_NOTIFY_END_STREAMING:
            m_streaming = false;
            return m_inner->ProcessMessage(message, parameter);
        case MFT_MESSAGE_COMMAND_FLUSH: {
            const HRESULT hr = m_inner->ProcessMessage(message, parameter);
            m_output.clear();
            m_inputRequests = 0;
            return FAILED(hr) ? hr : AskForInput();
        }
        case MFT_MESSAGE_COMMAND_DRAIN: {
            // Input is no longer asked for; what the inner transform holds comes out, then the drain is done.
            m_streaming = false;
            m_inputRequests = 0;
            HRESULT hr = m_inner->ProcessMessage(message, parameter);
            if (SUCCEEDED(hr))
                hr = Collect();
            if (SUCCEEDED(hr))
                hr = Queue(METransformDrainComplete, MF_EVENT_MFT_INPUT_STREAM_ID, 0);
            return hr;
        }
        case MFT_MESSAGE_COMMAND_MARKER:
            // Everything before the marker has been announced already.
            return Queue(METransformMarker, MF_EVENT_MFT_CONTEXT, parameter);
        default:
            return m_inner->ProcessMessage(message, parameter);
        }
    });
}

HRESULT AsyncTransform::ProcessInput(DWORD stream, IMFSample* sample, DWORD flags) {
    std::lock_guard lock(m_mutex);
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    if (sample == nullptr)
        return E_POINTER;
    // One input per METransformNeedInput.
    if (m_inputRequests == 0)
        return MF_E_NOTACCEPTING;
    return NoThrow([&] {
        HRESULT hr = m_inner->ProcessInput(stream, sample, flags);
        if (FAILED(hr))
            return hr;
        --m_inputRequests;
        hr = Collect();
        return SUCCEEDED(hr) ? AskForInput() : hr;
    });
}

HRESULT AsyncTransform::ProcessOutput(DWORD flags, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                      DWORD* status) {
    if (buffers == nullptr || status == nullptr)
        return E_POINTER;
    *status = 0;
    if (count != 1 || flags != 0 || buffers[0].dwStreamID != 0 || buffers[0].pSample != nullptr)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    // Only as many outputs as METransformHaveOutput announced.
    if (m_output.empty())
        return MF_E_UNEXPECTED;
    buffers[0].pSample = m_output.front().Detach();
    buffers[0].dwStatus = 0;
    buffers[0].pEvents = nullptr;
    m_output.pop_front();
    return NoThrow([&] { return AskForInput(); });
}

namespace {

template <class Call>
HRESULT WithCodecApi(IMFTransform* inner, Call call) {
    ComPtr<ICodecAPI> api;
    if (FAILED(inner->QueryInterface(&api)))
        return NotImplemented();
    return call(api.Get());
}

} // namespace

HRESULT AsyncTransform::IsSupported(const GUID* api) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->IsSupported(api); });
}
HRESULT AsyncTransform::IsModifiable(const GUID* api) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->IsModifiable(api); });
}
HRESULT AsyncTransform::GetParameterRange(const GUID* api, VARIANT* minimum, VARIANT* maximum,
                                          VARIANT* step) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) {
        return codec->GetParameterRange(api, minimum, maximum, step);
    });
}
HRESULT AsyncTransform::GetParameterValues(const GUID* api, VARIANT** values, ULONG* count) {
    return WithCodecApi(m_inner.Get(),
                        [&](ICodecAPI* codec) { return codec->GetParameterValues(api, values, count); });
}
HRESULT AsyncTransform::GetDefaultValue(const GUID* api, VARIANT* value) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->GetDefaultValue(api, value); });
}
HRESULT AsyncTransform::GetValue(const GUID* api, VARIANT* value) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->GetValue(api, value); });
}
HRESULT AsyncTransform::SetValue(const GUID* api, VARIANT* value) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->SetValue(api, value); });
}
HRESULT AsyncTransform::RegisterForEvent(const GUID* api, LONG_PTR data) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->RegisterForEvent(api, data); });
}
HRESULT AsyncTransform::UnregisterForEvent(const GUID* api) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->UnregisterForEvent(api); });
}
HRESULT AsyncTransform::SetAllDefaults() {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->SetAllDefaults(); });
}
HRESULT AsyncTransform::SetValueWithNotify(const GUID* api, VARIANT* value, GUID** changed, ULONG* count) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) {
        return codec->SetValueWithNotify(api, value, changed, count);
    });
}
HRESULT AsyncTransform::SetAllDefaultsWithNotify(GUID** changed, ULONG* count) {
    return WithCodecApi(m_inner.Get(),
                        [&](ICodecAPI* codec) { return codec->SetAllDefaultsWithNotify(changed, count); });
}
HRESULT AsyncTransform::GetAllSettings(IStream* stream) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->GetAllSettings(stream); });
}
HRESULT AsyncTransform::SetAllSettings(IStream* stream) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) { return codec->SetAllSettings(stream); });
}
HRESULT AsyncTransform::SetAllSettingsWithNotify(IStream* stream, GUID** changed, ULONG* count) {
    return WithCodecApi(m_inner.Get(), [&](ICodecAPI* codec) {
        return codec->SetAllSettingsWithNotify(stream, changed, count);
    });
}
