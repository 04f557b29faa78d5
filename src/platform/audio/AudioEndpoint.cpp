#include "AudioEndpoint.h"

#include "AudioClient.h"
#include "DefaultOutput.h"
#include <wrl/implements.h>

#include <utility>

AudioEndpoint::AudioEndpoint(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format)
    : m_server(std::move(server)), m_format(format) {}

AudioEndpoint::AudioEndpoint() : m_format(StandInFormat()) {}

HRESULT AudioEndpoint::Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppInterface) {
    if (ppInterface == nullptr)
        return E_POINTER;
    *ppInterface = nullptr;
    if (iid != __uuidof(IAudioClient))
        return E_NOINTERFACE;
    if (m_server && m_server->IsFailed())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    return CreateObject<AudioClient>(reinterpret_cast<IAudioClient**>(ppInterface), m_server, m_format);
}

bool IsNullAudioEndpoint(IMMDevice* device) {
    const auto* endpoint = dynamic_cast<const AudioEndpoint*>(device);
    return endpoint != nullptr && endpoint->IsNull();
}
