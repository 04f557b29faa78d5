#pragma once
// The default render endpoint: the sound server's default sink over a connection of its own, or, without a
// connection, the silent stand-in device.

#include "platform/pulse/Connection.h"
#include <mmdeviceapi.h>
#include <wrl/implements.h>

#include <memory>

class AudioEndpoint final : public ComObject<IMMDevice> {
public:
    AudioEndpoint(std::shared_ptr<pulse::Connection> connection, const pulse::SinkFormat& format);
    // The stand-in device: 48 kHz stereo.
    AudioEndpoint();

    // Hands out IAudioClient (the activation parameters are not used); E_NOINTERFACE for anything else.
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams,
                                       void** ppInterface) override;

    bool IsNull() const { return !m_connection; }

private:
    std::shared_ptr<pulse::Connection> m_connection;
    pulse::SinkFormat m_format;
};
