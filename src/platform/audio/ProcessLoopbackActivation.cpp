// Asynchronous activation of audio clients on the virtual process-loopback device.

#include "AudioClient.h"
#include "DefaultOutput.h"
#include <audioclientactivationparams.h>
#include <mmdeviceapi.h>
#include <wrl/implements.h>

#include <cstring>
#include <string_view>

namespace {

class ActivationOperation final : public ComObject<IActivateAudioInterfaceAsyncOperation> {
public:
    ActivationOperation(HRESULT result, ComPtr<IUnknown> activated)
        : m_result(result), m_activated(std::move(activated)) {}

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* activateResult,
                                                IUnknown** activatedInterface) override {
        if (activateResult == nullptr || activatedInterface == nullptr)
            return E_POINTER;
        *activateResult = m_result;
        *activatedInterface = ComPtr<IUnknown>(m_activated).Detach();
        return S_OK;
    }

private:
    const HRESULT m_result;
    const ComPtr<IUnknown> m_activated;
};

// The activation itself; its failures are the operation's result.
HRESULT ActivateProcessLoopback(REFIID riid, const PROPVARIANT* activationParams,
                                ComPtr<IUnknown>& activated) {
    if (riid != __uuidof(IAudioClient))
        return E_NOINTERFACE;
    if (activationParams == nullptr || activationParams->vt != VT_BLOB ||
        activationParams->blob.cbSize != sizeof(AUDIOCLIENT_ACTIVATION_PARAMS) ||
        activationParams->blob.pBlobData == nullptr)
        return E_INVALIDARG;
    AUDIOCLIENT_ACTIVATION_PARAMS params;
    std::memcpy(&params, activationParams->blob.pBlobData, sizeof(params));
    if (params.ActivationType != AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK ||
        params.ProcessLoopbackParams.TargetProcessId == 0)
        return E_INVALIDARG;
    if (params.ProcessLoopbackParams.ProcessLoopbackMode != PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE)
        return NotImplemented();
    const DWORD processTree = params.ProcessLoopbackParams.TargetProcessId;

    ComPtr<IAudioClient> client;
    const HRESULT hr = NoThrow([&] {
        // Without a server the client records silence until one with an output appears, as the stand-in
        // endpoint's clients do.
        auto output = FindDefaultOutput();
        if (!output)
            return CreateObject<AudioClient>(client.ReleaseAndGetAddressOf(), nullptr, StandInFormat(),
                                             processTree);
        return CreateObject<AudioClient>(client.ReleaseAndGetAddressOf(), std::move(output->server),
                                         output->format, processTree);
    });
    if (SUCCEEDED(hr))
        activated = client;
    return hr;
}

} // namespace

HRESULT ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                    IActivateAudioInterfaceCompletionHandler* completionHandler,
                                    IActivateAudioInterfaceAsyncOperation** activationOperation) {
    if (activationOperation == nullptr)
        return E_POINTER;
    *activationOperation = nullptr;
    if (deviceInterfacePath == nullptr || completionHandler == nullptr)
        return E_POINTER;
    // Endpoints named by their interface paths are not offered: the system only records through the default
    // endpoint or a process tree.
    if (std::wstring_view(deviceInterfacePath) != VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK)
        return NotImplemented();
    ComPtr<IUnknown> activated;
    const HRESULT result = ActivateProcessLoopback(riid, activationParams, activated);
    ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
    if (const HRESULT hr = CreateObject<ActivationOperation>(operation.GetAddressOf(), result, activated);
        FAILED(hr))
        return hr;
    // The handler's own result is for its caller's bookkeeping; the activation has completed either way.
    completionHandler->ActivateCompleted(operation.Get());
    *activationOperation = operation.Detach();
    return S_OK;
}
