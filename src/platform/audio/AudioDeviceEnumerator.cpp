#include "AudioDeviceEnumerator.h"

#include "AudioEndpoint.h"
#include "platform/pulse/Connection.h"
#include "platform/win/ClassRegistry.h"
#include <combaseapi.h>
#include <wrl/implements.h>

#include <chrono>

namespace {

// A server that accepts the connection but does not answer within this time counts as absent.
constexpr std::chrono::milliseconds ServerTimeout{2000};

} // namespace

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
        auto connection = pulse::Connection::Open(ServerTimeout);
        const auto sink = connection ? connection->DefaultSink(ServerTimeout) : std::nullopt;
        if (!sink)
            return CreateObject<AudioEndpoint>(ppEndpoint);
        return CreateObject<AudioEndpoint>(ppEndpoint, std::move(connection), *sink);
    });
}

bool RegisterMMDeviceEnumeratorClass() {
    RegisterPlatformClass(CLSID_MMDeviceEnumerator, [](REFIID riid, void** ppv) {
        ComPtr<AudioDeviceEnumerator> enumerator = MakeComObject<AudioDeviceEnumerator>();
        return enumerator ? enumerator->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
    });
    return true;
}
