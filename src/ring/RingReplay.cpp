#include "RingReplay.h"

#include "KeyFrameProbe.h"
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

ReplayOutcome ReplayRing(RingFile& ring, SampleWriter& writer) {
    ReplayOutcome outcome;
    uint32_t base = 0;
    bool malformed = false;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    while (!ring.ReadNext(header, payload, size)) {
        if (outcome.samples == 0)
            base = header.timestamp;
        if (RingTimeBefore(header.timestamp, base))
            continue;
        const bool audio = (header.flags & RingFlagAudio) != 0;
        if (!audio && IsRingVideoKeyFrame(header.flags))
            malformed = HasMalformedHevcParameterSets({payload, size});
        if (malformed && !audio)
            ++outcome.malformedPictures;
        if (malformed && (!audio || !outcome.pictures))
            continue;
        ComPtr<IMFSample> sample = CreatePacketSample(payload, size, RingTicksToHns(header.timestamp - base),
                                                      RingTicksToHns(header.duration), nullptr, 0);
        if (!sample)
            continue;
        if (header.flags & RingFlagKeyFrame)
            LogIfFailed(sample->SetUINT32(MFSampleExtension_CleanPoint, 1),
                        "sample->SetUINT32( MFSampleExtension_CleanPoint, 1 )");
        if (audio)
            writer.WriteAudio(sample.Get());
        else
            WriteVideo(writer, sample.Get(), header.timestamp, outcome.pictures);
        ++outcome.samples;
    }
    return outcome;
}
