#pragma once
// Audio endpoints: the device enumerator class and the endpoint device, with the Windows identities. The
// default render endpoint records the sound server's default output; while no output is reachable it is a
// silent stand-in (48 kHz stereo float) so that recording goes on. Audio clients for a process tree's
// loopback are activated asynchronously (ActivateAudioInterfaceAsync).

#include <propidl.h>
#include <unknwn.h>

#include <type_traits>

enum EDataFlow { eRender, eCapture, eAll, EDataFlow_enum_count };
enum ERole { eConsole, eMultimedia, eCommunications, ERole_enum_count };

struct IMMDevice : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams,
                                               void** ppInterface) = 0;

    // Any interface pointer's address may be passed, as the Windows smart-pointer address operator allows.
    template <class T>
    HRESULT Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams, T** ppInterface) {
        static_assert(std::is_base_of_v<IUnknown, T>, "Activate hands out interface pointers");
        return Activate(iid, dwClsCtx, pActivationParams, reinterpret_cast<void**>(ppInterface));
    }

protected:
    ~IMMDevice() = default;
};

struct IMMDeviceEnumerator : IUnknown {
    // Only render endpoints exist (E_NOTIMPL for eCapture); every role answers the server's default sink.
    virtual HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                                              IMMDevice** ppEndpoint) = 0;

protected:
    ~IMMDeviceEnumerator() = default;
};

struct IActivateAudioInterfaceAsyncOperation : IUnknown {
    // The outcome: activateResult S_OK with the interface, or the failure with a null interface.
    virtual HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* activateResult,
                                                        IUnknown** activatedInterface) = 0;

protected:
    ~IActivateAudioInterfaceAsyncOperation() = default;
};

struct IActivateAudioInterfaceCompletionHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    ActivateCompleted(IActivateAudioInterfaceAsyncOperation* activateOperation) = 0;

protected:
    ~IActivateAudioInterfaceCompletionHandler() = default;
};

struct MMDeviceEnumerator;

PYX_INTERFACE_ID(IMMDevice, IUnknown, "d666063f-1587-4e43-81f1-b948e807363f");
PYX_INTERFACE_ID(IMMDeviceEnumerator, IUnknown, "a95664d2-9614-4f35-a746-de8db63617e6");
PYX_INTERFACE_ID(IActivateAudioInterfaceAsyncOperation, IUnknown, "72a22d78-cde4-431d-b8cc-843a71199b6d");
PYX_INTERFACE_ID(IActivateAudioInterfaceCompletionHandler, IUnknown, "41d949ab-9862-444a-80f6-c261334da5eb");
PYX_CLASS_ID(MMDeviceEnumerator, "bcde0395-e52f-467c-8e3d-c4579291692e");

inline constexpr IID IID_IMMDevice = UuidOf<IMMDevice>();
inline constexpr IID IID_IMMDeviceEnumerator = UuidOf<IMMDeviceEnumerator>();
inline constexpr CLSID CLSID_MMDeviceEnumerator = UuidOf<MMDeviceEnumerator>();

// Activates `riid` (IAudioClient) on the virtual device VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK with
// AUDIOCLIENT_ACTIVATION_PARAMS in a VT_BLOB; only the include-tree mode of process loopback is offered. The
// client records what the target process and its descendants play on the sound server, mixed at the default
// output's rate and channels; it has no mix format of its own (E_NOTIMPL), so it is initialised with the
// default endpoint's. The handler is called once the operation completes, which on this platform happens
// before the call returns, on the caller's thread. Errors of the request itself are returned; failures to
// activate are the operation's result.
HRESULT ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                    IActivateAudioInterfaceCompletionHandler* completionHandler,
                                    IActivateAudioInterfaceAsyncOperation** activationOperation);

// True for the silent stand-in endpoint: no sound server with an output was reachable. Its audio clients
// report AUDCLNT_E_DEVICE_INVALIDATED once real output appears, so reinitialising finds it.
bool IsNullAudioEndpoint(IMMDevice* device);

// Makes MMDeviceEnumerator creatable through CoCreateInstance. Every file that sees the class registers it,
// so the registration is linked in wherever the class can be named.
bool RegisterMMDeviceEnumeratorClass();
inline const bool g_mmDeviceEnumeratorClassRegistered = RegisterMMDeviceEnumeratorClass();
