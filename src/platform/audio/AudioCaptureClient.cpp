#include "AudioCaptureClient.h"

#include <wrl/implements.h>

#include <utility>

namespace {

template <class T>
void ClearIfGiven(T* out) {
    if (out != nullptr)
        *out = T{};
}

} // namespace

AudioCaptureClient::AudioCaptureClient(ComPtr<IAudioClient> owner, CapturePacketQueue& queue,
                                       LoopbackSource& source)
    : m_owner(std::move(owner)), m_queue(queue), m_source(source) {}

HRESULT AudioCaptureClient::GetBuffer(BYTE** ppData, UINT32* pNumFramesToRead, DWORD* pdwFlags,
                                      UINT64* pu64DevicePosition, UINT64* pu64QPCPosition) {
    ClearIfGiven(ppData);
    ClearIfGiven(pNumFramesToRead);
    ClearIfGiven(pdwFlags);
    ClearIfGiven(pu64DevicePosition);
    ClearIfGiven(pu64QPCPosition);
    if (ppData == nullptr || pNumFramesToRead == nullptr || pdwFlags == nullptr)
        return E_POINTER;
    if (m_source.IsInvalidated())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    return NoThrow([&] {
        m_source.Produce();
        return m_queue.GetBuffer(ppData, pNumFramesToRead, pdwFlags, pu64DevicePosition, pu64QPCPosition);
    });
}

HRESULT AudioCaptureClient::ReleaseBuffer(UINT32 NumFramesRead) {
    if (m_source.IsInvalidated())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    return m_queue.ReleaseBuffer(NumFramesRead);
}

HRESULT AudioCaptureClient::GetNextPacketSize(UINT32* pNumFramesInNextPacket) {
    if (pNumFramesInNextPacket == nullptr)
        return E_POINTER;
    *pNumFramesInNextPacket = 0;
    if (m_source.IsInvalidated())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    return NoThrow([&] {
        m_source.Produce();
        *pNumFramesInNextPacket = m_queue.NextPacketSize();
        return S_OK;
    });
}
