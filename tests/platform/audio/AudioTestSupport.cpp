#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

ComPtr<IMMDevice> DefaultEndpoint() {
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(
            CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator))))
        return nullptr;
    ComPtr<IMMDevice> device;
    if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device)))
        return nullptr;
    return device;
}

LoopbackStream OpenLoopback(REFERENCE_TIME bufferDuration) {
    return OpenLoopback(DefaultEndpoint(), bufferDuration);
}

LoopbackStream OpenLoopback(ComPtr<IMMDevice> device, REFERENCE_TIME bufferDuration) {
    LoopbackStream stream;
    stream.device = std::move(device);
    EXPECT_TRUE(stream.device);
    if (!stream.device)
        return stream;
    EXPECT_EQ(stream.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &stream.client), S_OK);
    WAVEFORMATEX* mix = nullptr;
    EXPECT_EQ(stream.client->GetMixFormat(&mix), S_OK);
    if (mix == nullptr)
        return stream;
    EXPECT_EQ(mix->wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    stream.format = *reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix);
    EXPECT_EQ(stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                        bufferDuration, 0, mix, nullptr),
              S_OK);
    CoTaskMemFree(mix);
    EXPECT_EQ(stream.client->GetService(IID_PPV_ARGS(&stream.capture)), S_OK);
    return stream;
}

bool WaitForFirstPacket(IAudioCaptureClient* capture, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    UINT32 frames = 0;
    while (SUCCEEDED(capture->GetNextPacketSize(&frames)) && frames == 0 &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    return frames != 0;
}

HRESULT ReadPackets(IAudioCaptureClient* capture, UINT32 channels, std::chrono::milliseconds duration,
                    std::vector<CapturedPacket>& packets) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        UINT32 announced = 0;
        HRESULT hr = capture->GetNextPacketSize(&announced);
        while (SUCCEEDED(hr) && announced != 0) {
            BYTE* data = nullptr;
            CapturedPacket packet{};
            hr = capture->GetBuffer(&data, &packet.frames, &packet.flags, &packet.devicePosition,
                                    &packet.qpcPosition);
            if (hr != S_OK)
                return FAILED(hr) ? hr : E_UNEXPECTED;
            EXPECT_EQ(packet.frames, announced);
            const auto* samples = reinterpret_cast<const float*>(data);
            packet.samples.assign(samples, samples + std::size_t{packet.frames} * channels);
            packets.push_back(std::move(packet));
            hr = capture->ReleaseBuffer(packets.back().frames);
            if (SUCCEEDED(hr))
                hr = capture->GetNextPacketSize(&announced);
        }
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

ProcessLoopbackRequest::ProcessLoopbackRequest(DWORD process) {
    params.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    params.ProcessLoopbackParams.TargetProcessId = process;
    params.ProcessLoopbackParams.ProcessLoopbackMode = PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE;
    PropVariantInit(&blob);
    blob.vt = VT_BLOB;
    blob.blob.cbSize = sizeof(params);
    blob.blob.pBlobData = reinterpret_cast<BYTE*>(&params);
}

HRESULT CompletionHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) {
    ++calls;
    completed = operation;
    return S_OK;
}

Activation Activate(LPCWSTR path, REFIID riid, PROPVARIANT* params) {
    Activation activation;
    ComPtr<CompletionHandler> handler = MakeComObject<CompletionHandler>();
    ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
    activation.call = ActivateAudioInterfaceAsync(path, riid, params, handler.Get(), &operation);
    activation.handlerCalls = handler->calls;
    if (SUCCEEDED(activation.call)) {
        EXPECT_EQ(operation.Get(), handler->completed.Get());
        EXPECT_EQ(operation->GetActivateResult(&activation.result, &activation.activated), S_OK);
    }
    return activation;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
    if (const char* previous = std::getenv(name))
        m_previous = previous;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_previous)
        ::setenv(m_name.c_str(), m_previous->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}
