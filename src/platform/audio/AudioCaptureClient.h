#pragma once
// Reads an audio client's capture buffer packet by packet. Used from one thread; it keeps its client alive.

#include "CapturePacketQueue.h"
#include "LoopbackSource.h"
#include <audioclient.h>
#include <wrl/implements.h>

class AudioCaptureClient final : public ComObject<IAudioCaptureClient> {
public:
    AudioCaptureClient(ComPtr<IAudioClient> owner, CapturePacketQueue& queue, LoopbackSource& source);

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppData, UINT32* pNumFramesToRead, DWORD* pdwFlags,
                                        UINT64* pu64DevicePosition, UINT64* pu64QPCPosition) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 NumFramesRead) override;
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* pNumFramesInNextPacket) override;

private:
    ComPtr<IAudioClient> m_owner;
    CapturePacketQueue& m_queue;
    LoopbackSource& m_source;
};
