#pragma once
// The default render endpoint: the sound server's default sink over a connection of its own, or, without a
// server, the silent stand-in device.

#include "platform/pulse/SoundServer.h"
#include <mmdeviceapi.h>
#include <wrl/implements.h>

#include <memory>

class AudioEndpoint final : public ComObject<IMMDevice> {
public:
    AudioEndpoint(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format);
    // The stand-in device: 48 kHz stereo.
    AudioEndpoint();

    // Hands out IAudioClient (the activation parameters are not used); E_NOINTERFACE for anything else.
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams,
                                       void** ppInterface) override;

    bool IsNull() const { return !m_server; }

private:
    std::shared_ptr<pulse::SoundServer> m_server;
    pulse::SinkFormat m_format;
};
