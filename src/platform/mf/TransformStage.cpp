#include "TransformStage.h"

#include <mferror.h>
#include <pyx/PlatformTrace.h>

HRESULT TransformStage::Prepare() {
    ComPtr<IMFAttributes> attributes;
    // A transform without attributes is synchronous.
    if (FAILED(m_transform->GetAttributes(&attributes)) || !attributes)
        return S_OK;
    m_async = MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, FALSE) != FALSE;
    return m_async ? attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, TRUE) : S_OK;
}

HRESULT TransformStage::Start() {
    if (!m_streaming) {
        const HRESULT hr = m_transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
        if (FAILED(hr))
            return hr;
        m_streaming = true;
    }
    return m_transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
}

HRESULT TransformStage::Stop() {
    m_input.clear();
    m_needInput = 0;
    m_haveOutput = 0;
    HRESULT hr = m_transform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
    if (!m_streaming)
        return hr;
    m_streaming = false;
    for (const MFT_MESSAGE_TYPE message :
         {MFT_MESSAGE_NOTIFY_END_OF_STREAM, MFT_MESSAGE_NOTIFY_END_STREAMING}) {
        const HRESULT sent = m_transform->ProcessMessage(message, 0);
        if (SUCCEEDED(hr))
            hr = sent;
    }
    return hr;
}

void TransformStage::Shutdown() {
    if (!m_async || m_shutDown)
        return;
    m_shutDown = true;
    ComPtr<IMFShutdown> shutdown;
    if (FAILED(m_transform->QueryInterface(IID_PPV_ARGS(&shutdown))))
        return;
    // Nobody is left to tell: the session is going away.
    if (const HRESULT hr = shutdown->Shutdown(); FAILED(hr))
        TraceFailure(std::source_location::current(), hr);
}

HRESULT TransformStage::Step(std::deque<ComPtr<IMFSample>>& output, bool& progressed) {
    if (!m_async) {
        while (!m_input.empty()) {
            HRESULT hr = FeedOne();
            // A synchronous transform that still holds output takes input again once drained.
            if (hr == MF_E_NOTACCEPTING) {
                hr = Drain(output, progressed);
                if (SUCCEEDED(hr))
                    hr = FeedOne();
            }
            if (FAILED(hr))
                return hr;
            progressed = true;
            hr = Drain(output, progressed);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    while (m_haveOutput > 0) {
        --m_haveOutput;
        ComPtr<IMFSample> sample;
        const HRESULT hr = PullOne(sample);
        if (FAILED(hr) && hr != MF_E_TRANSFORM_NEED_MORE_INPUT)
            return hr;
        if (sample)
            output.push_back(std::move(sample));
        progressed = true;
    }
    while (m_needInput > 0 && !m_input.empty()) {
        const HRESULT hr = FeedOne();
        if (FAILED(hr))
            return hr;
        --m_needInput;
        progressed = true;
    }
    return S_OK;
}

HRESULT TransformStage::FeedOne() {
    const HRESULT hr = m_transform->ProcessInput(0, m_input.front().Get(), 0);
    if (SUCCEEDED(hr))
        m_input.pop_front();
    return hr;
}

HRESULT TransformStage::Drain(std::deque<ComPtr<IMFSample>>& output, bool& progressed) {
    for (;;) {
        ComPtr<IMFSample> sample;
        const HRESULT hr = PullOne(sample);
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
            return S_OK;
        if (FAILED(hr))
            return hr;
        if (sample) {
            output.push_back(std::move(sample));
            progressed = true;
        }
    }
}

HRESULT TransformStage::PullOne(ComPtr<IMFSample>& sample) {
    MFT_OUTPUT_STREAM_INFO info{};
    HRESULT hr = m_transform->GetOutputStreamInfo(0, &info);
    if (FAILED(hr))
        return hr;
    ComPtr<IMFSample> provided;
    const bool transformProvides =
        (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
    if (!transformProvides) {
        hr = AllocateOutputSample(info, provided);
        if (FAILED(hr))
            return hr;
    }
    MFT_OUTPUT_DATA_BUFFER buffer{0, provided.Get(), 0, nullptr};
    DWORD status = 0;
    hr = m_transform->ProcessOutput(0, 1, &buffer, &status);
    if (buffer.pEvents != nullptr)
        buffer.pEvents->Release();
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE)
        return AdoptNewOutputType();
    if (FAILED(hr)) {
        if (transformProvides && buffer.pSample != nullptr)
            buffer.pSample->Release();
        return hr;
    }
    if ((buffer.dwStatus & MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE) == MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE)
        return S_OK;
    if (transformProvides)
        sample.Attach(buffer.pSample);
    else
        sample = std::move(provided);
    return S_OK;
}

HRESULT TransformStage::AllocateOutputSample(const MFT_OUTPUT_STREAM_INFO& info, ComPtr<IMFSample>& sample) {
    ComPtr<IMFSample> created;
    ComPtr<IMFMediaBuffer> buffer;
    const DWORD alignment = info.cbAlignment > 1 ? info.cbAlignment - 1 : 0;
    HRESULT hr = MFCreateSample(&created);
    if (SUCCEEDED(hr))
        hr = MFCreateAlignedMemoryBuffer(info.cbSize, alignment, &buffer);
    if (SUCCEEDED(hr))
        hr = created->AddBuffer(buffer.Get());
    if (SUCCEEDED(hr))
        sample = std::move(created);
    return hr;
}

HRESULT TransformStage::AdoptNewOutputType() {
    ComPtr<IMFMediaType> type;
    HRESULT hr = m_transform->GetOutputAvailableType(0, 0, &type);
    if (SUCCEEDED(hr))
        hr = m_transform->SetOutputType(0, type.Get(), 0);
    return hr;
}
