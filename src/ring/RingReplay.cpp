#include "RingReplay.h"

#include "PacketSample.h"
#include "RingTime.h"

#include "Util/HResultCheck.h"

namespace {

void WriteVideo(SampleWriter& writer, IMFSample* sample, uint32_t time, std::optional<PictureSpan>& span) {
    writer.WriteVideo(sample);
    if (!span)
        span = PictureSpan{time, time};
    else if (RingTimeBefore(span->last, time))
        span->last = time;
}

} // namespace

int ReplayRing(RingFile& ring, SampleWriter& writer, std::optional<PictureSpan>* pictures) {
    std::optional<PictureSpan> span;
    uint32_t base = 0;
    int count = 0;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    while (!ring.ReadNext(header, payload, size)) {
        if (count == 0)
            base = header.timestamp;
        if (RingTimeBefore(header.timestamp, base))
            continue;
        ComPtr<IMFSample> sample = CreatePacketSample(payload, size, RingTicksToHns(header.timestamp - base),
                                                      RingTicksToHns(header.duration), nullptr, 0);
        if (!sample)
            continue;
        if (header.flags & RingFlagKeyFrame)
            LogIfFailed(sample->SetUINT32(MFSampleExtension_CleanPoint, 1),
                        "sample->SetUINT32( MFSampleExtension_CleanPoint, 1 )");
        if (header.flags & RingFlagAudio)
            writer.WriteAudio(sample.Get());
        else
            WriteVideo(writer, sample.Get(), header.timestamp, span);
        ++count;
    }
    if (pictures != nullptr)
        *pictures = span;
    return count;
}
