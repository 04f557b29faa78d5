#include "RingSurvey.h"

#include "RingFile.h"
#include "RingTime.h"

std::optional<RingSurvey> SurveyRing(const std::wstring& name, std::string& error) {
    RingFile ring;
    if (ring.OpenForRead(name)) {
        error = ring.OpenError();
        return std::nullopt;
    }
    RingSurvey survey;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    bool first = true;
    uint32_t base = 0;
    while (!ring.ReadNext(header, payload, size)) {
        // The replay skips what is older than its first record.
        if (first)
            base = header.timestamp;
        first = false;
        if (RingTimeBefore(header.timestamp, base))
            continue;
        if (header.flags & RingFlagAudio) {
            ++survey.audioPackets;
            continue;
        }
        ++survey.videoPackets;
        if (!survey.keyFrame && IsRingVideoKeyFrame(header.flags))
            survey.keyFrame = ProbeKeyFrame({payload, size});
    }
    ring.Close();
    return survey;
}
