#pragma once
// Opening the default loopback stream the way the recorder does, and reading its packets.

#include <audioclient.h>
#include <audioclientactivationparams.h>
#include <combaseapi.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// The recorder's buffer request at 60 frames per second.
constexpr REFERENCE_TIME RecorderBufferDuration = 166666;

struct LoopbackStream {
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    ComPtr<IAudioCaptureClient> capture;
    WAVEFORMATEXTENSIBLE format{};
};

// The default render endpoint from a new enumerator created by class id; null on any failure.
ComPtr<IMMDevice> DefaultEndpoint();
// Opens and initialises (not starts) the endpoint's loopback stream; reports failures to the test.
LoopbackStream OpenLoopback(ComPtr<IMMDevice> device, REFERENCE_TIME bufferDuration = RecorderBufferDuration);
// The same on the default endpoint.
LoopbackStream OpenLoopback(REFERENCE_TIME bufferDuration = RecorderBufferDuration);

struct CapturedPacket {
    std::vector<float> samples;
    UINT32 frames;
    DWORD flags;
    UINT64 devicePosition;
    UINT64 qpcPosition;
};

// Waits, consuming nothing, until the stream has a packet. A null sink that wakes from suspension may render
// its first block, up to two seconds, before anything reaches its monitor.
bool WaitForFirstPacket(IAudioCaptureClient* capture,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// Reads packets every few milliseconds for `duration`. Each packet's size must match what
// GetNextPacketSize announced; a failing call ends reading and is returned.
HRESULT ReadPackets(IAudioCaptureClient* capture, UINT32 channels, std::chrono::milliseconds duration,
                    std::vector<CapturedPacket>& packets);

// Activation parameters for the loopback of a process tree (include mode), in the VT_BLOB that carries them.
struct ProcessLoopbackRequest {
    explicit ProcessLoopbackRequest(DWORD process);
    ProcessLoopbackRequest(const ProcessLoopbackRequest&) = delete;
    ProcessLoopbackRequest& operator=(const ProcessLoopbackRequest&) = delete;

    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    PROPVARIANT blob; // points at params
};

// Counts its calls and keeps the operation it was handed.
class CompletionHandler final : public ComObject<IActivateAudioInterfaceCompletionHandler> {
public:
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override;

    int calls = 0;
    ComPtr<IActivateAudioInterfaceAsyncOperation> completed;
};

struct Activation {
    HRESULT call = E_FAIL;   // of ActivateAudioInterfaceAsync
    HRESULT result = E_FAIL; // the operation's
    ComPtr<IUnknown> activated;
    int handlerCalls = 0;
};

// Activates through ActivateAudioInterfaceAsync and reads the operation the handler was given.
Activation Activate(LPCWSTR path, REFIID riid, PROPVARIANT* params);

// Sets an environment variable for the life of the object and puts the previous value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};
