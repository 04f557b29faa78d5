#pragma once
// A synchronous transform behind the asynchronous protocol that hardware transforms follow: it asks for each
// input with METransformNeedInput and announces each output with METransformHaveOutput, completes a drain
// with METransformDrainComplete, and refuses every processing call until its client has set
// MF_TRANSFORM_ASYNC_UNLOCK. The attribute store is the inner transform's, so what the client sets there
// (MF_LOW_LATENCY) reaches it; ICodecAPI is passed on when the inner transform has it.

#include <codecapi.h>
#include <mfapi.h>
#include <mfobjects.h>
#include <mftransform.h>
#include <wrl/implements.h>

#include <deque>
#include <mutex>

DEFINE_GUID(MF_EVENT_MFT_CONTEXT, 0xb7cd31f1, 0x899e, 0x4b41, 0x80, 0xc9, 0x26, 0xa8, 0x96, 0xd3, 0x29, 0x77);

class AsyncTransform final : public ComObject<IMFTransform, IMFMediaEventGenerator, ICodecAPI> {
public:
    static HRESULT Create(ComPtr<IMFTransform> inner, IMFTransform** transform);

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) override;

    // IMFTransform: stream and type calls go to the inner transform.
    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* a, DWORD* b, DWORD* c, DWORD* d) override {
        return m_inner->GetStreamLimits(a, b, c, d);
    }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* inputs, DWORD* outputs) override {
        return m_inner->GetStreamCount(inputs, outputs);
    }
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD a, DWORD* b, DWORD c, DWORD* d) override {
        return m_inner->GetStreamIDs(a, b, c, d);
    }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD stream, MFT_INPUT_STREAM_INFO* info) override {
        return m_inner->GetInputStreamInfo(stream, info);
    }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD stream, MFT_OUTPUT_STREAM_INFO* info) override {
        return m_inner->GetOutputStreamInfo(stream, info);
    }
    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** attributes) override {
        return m_inner->GetAttributes(attributes);
    }
    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD stream, IMFAttributes** attributes) override {
        return m_inner->GetInputStreamAttributes(stream, attributes);
    }
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD stream, IMFAttributes** attributes) override {
        return m_inner->GetOutputStreamAttributes(stream, attributes);
    }
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD stream) override {
        return m_inner->DeleteInputStream(stream);
    }
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD count, DWORD* ids) override {
        return m_inner->AddInputStreams(count, ids);
    }
    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD stream, DWORD index, IMFMediaType** type) override {
        return m_inner->GetInputAvailableType(stream, index, type);
    }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD stream, DWORD index,
                                                     IMFMediaType** type) override {
        return m_inner->GetOutputAvailableType(stream, index, type);
    }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
        return m_inner->SetInputType(stream, type, flags);
    }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
        return m_inner->SetOutputType(stream, type, flags);
    }
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD stream, IMFMediaType** type) override {
        return m_inner->GetInputCurrentType(stream, type);
    }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD stream, IMFMediaType** type) override {
        return m_inner->GetOutputCurrentType(stream, type);
    }
    // Input is taken when asked for; output is announced by events.
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD stream, DWORD* flags) override;
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* flags) override;
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG lower, LONGLONG upper) override {
        return m_inner->SetOutputBounds(lower, upper);
    }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD stream, IMFMediaEvent* event) override {
        return m_inner->ProcessEvent(stream, event);
    }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR parameter) override;
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD stream, IMFSample* sample, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD flags, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                            DWORD* status) override;

    // ICodecAPI, answered by the inner transform (E_NOTIMPL when it has none).
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* api) override;
    HRESULT STDMETHODCALLTYPE IsModifiable(const GUID* api) override;
    HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID* api, VARIANT* minimum, VARIANT* maximum,
                                                VARIANT* step) override;
    HRESULT STDMETHODCALLTYPE GetParameterValues(const GUID* api, VARIANT** values, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE RegisterForEvent(const GUID* api, LONG_PTR data) override;
    HRESULT STDMETHODCALLTYPE UnregisterForEvent(const GUID* api) override;
    HRESULT STDMETHODCALLTYPE SetAllDefaults() override;
    HRESULT STDMETHODCALLTYPE SetValueWithNotify(const GUID* api, VARIANT* value, GUID** changed,
                                                 ULONG* count) override;
    HRESULT STDMETHODCALLTYPE SetAllDefaultsWithNotify(GUID** changed, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE GetAllSettings(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE SetAllSettings(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE SetAllSettingsWithNotify(IStream* stream, GUID** changed,
                                                       ULONG* count) override;

private:
    AsyncTransform(ComPtr<IMFTransform> inner, ComPtr<IMFMediaEventQueue> events)
        : m_inner(std::move(inner)), m_events(std::move(events)) {}
    ~AsyncTransform() override;

    bool Unlocked();
    // Moves every output of the inner transform into the queue, one METransformHaveOutput each.
    HRESULT Collect();
    // An event with the input stream id, or with the marker's context value.
    HRESULT Queue(MediaEventType type, const GUID& key, UINT64 value);
    HRESULT AskForInput();

    const ComPtr<IMFTransform> m_inner;
    const ComPtr<IMFMediaEventQueue> m_events;
    std::mutex m_mutex;
    std::deque<ComPtr<IMFSample>> m_output;
    unsigned m_inputRequests = 0;
    bool m_streaming = false;
};
