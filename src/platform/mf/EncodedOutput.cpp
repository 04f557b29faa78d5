#include "EncodedOutput.h"

#include "CodecResult.h"

HRESULT CollectPackets(const std::function<av::CodecStatus(const av::PacketConsumer&)>& receive,
                       const std::function<HRESULT(const av::EncodedPacketView&, ComPtr<IMFSample>&)>& make,
                       SampleQueue& queue) {
    for (;;) {
        ComPtr<IMFSample> sample;
        HRESULT hr = S_OK;
        const av::CodecStatus status =
            receive([&](const av::EncodedPacketView& packet) { hr = make(packet, sample); });
        if (status == av::CodecStatus::Again || status == av::CodecStatus::EndOfStream)
            return S_OK;
        if (status != av::CodecStatus::Ok)
            return HResultFromCodecStatus(status);
        if (FAILED(hr))
            return hr;
        queue.push_back(std::move(sample));
    }
}

bool HandOut(SampleQueue& queue, MFT_OUTPUT_DATA_BUFFER& buffer) {
    if (queue.empty())
        return false;
    buffer.pSample = queue.front().Detach();
    queue.pop_front();
    if (!queue.empty())
        buffer.dwStatus |= MFT_OUTPUT_DATA_BUFFER_INCOMPLETE;
    return true;
}
