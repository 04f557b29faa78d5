#pragma once
// The device enumerator: the default render endpoint, looked up on the sound server at every request.

#include <mmdeviceapi.h>
#include <wrl/implements.h>

class AudioDeviceEnumerator final : public ComObject<IMMDeviceEnumerator> {
public:
    // The server's default sink; the silent stand-in when no server with a sink answers.
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                                      IMMDevice** ppEndpoint) override;
};
