#include "ProcessLoopbackActivation.h"

#include "Util/HResultCheck.h"
#include <audioclientactivationparams.h>
#include <mmdeviceapi.h>
#include <propidl.h>
#include <wrl/implements.h>

#include <condition_variable>
#include <mutex>

namespace {

// Tells the waiting thread that the activation completed; the result is read from the operation.
class ActivationWaiter final : public ComObject<IActivateAudioInterfaceCompletionHandler> {
public:
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation*) override {
        {
            std::lock_guard lock(m_mutex);
            m_completed = true;
        }
        m_done.notify_all();
        return S_OK;
    }

    void Wait() {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_completed; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_completed = false;
};

} // namespace

ComPtr<IAudioClient> ActivateProcessLoopbackClient(std::uint32_t processId) {
    AUDIOCLIENT_ACTIVATION_PARAMS activationParams{};
    activationParams.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    activationParams.ProcessLoopbackParams.TargetProcessId = processId;
    activationParams.ProcessLoopbackParams.ProcessLoopbackMode =
        PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE;
    PROPVARIANT activateParams;
    PropVariantInit(&activateParams);
    activateParams.vt = VT_BLOB;
    activateParams.blob.cbSize = sizeof(activationParams);
    activateParams.blob.pBlobData = reinterpret_cast<BYTE*>(&activationParams);

    ComPtr<ActivationWaiter> waiter = MakeComObject<ActivationWaiter>();
    if (!waiter)
        ThrowIfFailed(E_OUTOFMEMORY, "MakeComObject<ActivationWaiter>()");
    ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
    ThrowIfFailed(
        ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient),
                                    &activateParams, waiter.Get(), &operation),
        "ActivateAudioInterfaceAsync( VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient), "
        "&activateParams, waiter.Get(), &operation )");
    waiter->Wait();
    HRESULT activateResult = E_FAIL;
    ComPtr<IUnknown> activated;
    ThrowIfFailed(operation->GetActivateResult(&activateResult, &activated),
                  "operation->GetActivateResult( &activateResult, &activated )");
    ThrowIfFailed(activateResult,
                  "ActivateAudioInterfaceAsync( VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK ) activation");
    ComPtr<IAudioClient> client;
    ThrowIfFailed(activated.As(&client), "activated.As( &client )");
    return client;
}
