#pragma once
// A shared-mode loopback stream on the default output, of everything it plays or of what one process tree
// plays: Initialize opens the capture buffer and its source, Start and Stop run and pause it, GetService
// hands out the capture client that reads it. Start, Stop and Reset may come from another thread than the
// one reading packets.

#include "CapturePacketQueue.h"
#include "LoopbackSource.h"
#include "platform/pulse/SoundServer.h"
#include <audioclient.h>
#include <wrl/implements.h>

#include <memory>
#include <mutex>
#include <optional>

class AudioClient final : public ComObject<IAudioClient> {
public:
    // Without a server the client belongs to the silent stand-in device.
    AudioClient(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format);
    // The loopback of a process tree, mixed in the output's format. Like its Windows counterpart it has no
    // mix format of its own: it is initialised in the default endpoint's.
    AudioClient(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format,
                DWORD processTree);
    ~AudioClient() override;

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE ShareMode, DWORD StreamFlags,
                                         REFERENCE_TIME hnsBufferDuration, REFERENCE_TIME hnsPeriodicity,
                                         const WAVEFORMATEX* pFormat, LPCGUID AudioSessionGuid) override;
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* pNumBufferFrames) override;
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** ppDeviceFormat) override;
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* phnsDefaultDevicePeriod,
                                              REFERENCE_TIME* phnsMinimumDevicePeriod) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override;

private:
    // With m_mutex held: the result every method gives before its own checks, S_OK when there is none.
    HRESULT StateError(bool needsInitialize) const;

    std::shared_ptr<pulse::SoundServer> m_server;
    const pulse::SinkFormat m_format;
    const WAVEFORMATEXTENSIBLE m_mixFormat;
    const UINT32 m_periodFrames;
    const std::optional<DWORD> m_processTree;

    mutable std::mutex m_mutex;
    // The source writes into the queue, so it goes first.
    std::unique_ptr<CapturePacketQueue> m_queue;
    std::unique_ptr<LoopbackSource> m_source;
    bool m_started = false;
};
