#include "AudioDeviceEnumerator.h"

#include "AudioEndpoint.h"
#include "DefaultOutput.h"
#include "platform/win/ClassRegistry.h"
#include <combaseapi.h>
#include <wrl/implements.h>

HRESULT AudioDeviceEnumerator::GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                                       IMMDevice** ppEndpoint) {
    if (ppEndpoint == nullptr)
        return E_POINTER;
    *ppEndpoint = nullptr;
    if (dataFlow < eRender || dataFlow >= eAll || role < eConsole || role >= ERole_enum_count)
        return E_INVALIDARG;
    if (dataFlow == eCapture)
        return NotImplemented();
    return NoThrow([&] {
        auto output = FindDefaultOutput();
        if (!output)
            return CreateObject<AudioEndpoint>(ppEndpoint);
        return CreateObject<AudioEndpoint>(ppEndpoint, std::move(output->server), output->format);
    });
}

bool RegisterMMDeviceEnumeratorClass() {
    RegisterPlatformClass(CLSID_MMDeviceEnumerator, [](REFIID riid, void** ppv) {
        ComPtr<AudioDeviceEnumerator> enumerator = MakeComObject<AudioDeviceEnumerator>();
        return enumerator ? enumerator->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
    });
    return true;
}
