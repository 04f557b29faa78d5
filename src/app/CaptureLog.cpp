#include "CaptureLog.h"

#include "ring/RingTime.h"

void CaptureLog::Add(HWND window, const CaptureReport& report, std::uint32_t endRingTime) {
    if (!report.anchor)
        return;
    m_entries.push_back({reinterpret_cast<std::uintptr_t>(window), *report.anchor, endRingTime, report});
}

// Ring times within one capture are a fixed distance from its anchor, shorter than the ring's wrap.
MetadataTime CaptureLog::TimeOf(const Entry& entry, std::uint32_t ringTime) {
    const std::int64_t ticks = static_cast<std::int32_t>(ringTime - entry.anchor.ringTime);
    const std::int64_t ns = entry.anchor.captureNs + ticks * 1'000'000'000 / RingTicksPerSecond;
    return MetadataTimeOf(pyx::CaptureClock::time_point(pyx::CaptureClock::duration(ns)));
}

void CaptureLog::Describe(const PictureSpan& pictures, RecordingMetadata& metadata) const {
    const Entry* last = nullptr;
    for (const Entry& entry : m_entries) {
        // Captures follow each other on the ring's timeline, each from its first packet to its last one's
        // end.
        const std::uint32_t start = entry.anchor.ringTime;
        if (!RingTimeBefore(pictures.first, entry.endRingTime) || RingTimeBefore(pictures.last, start))
            continue;
        const bool holdsFirst = !RingTimeBefore(pictures.first, start);
        const std::uint32_t from = holdsFirst ? pictures.first : start;
        const std::uint32_t to =
            RingTimeBefore(pictures.last, entry.endRingTime) ? pictures.last : entry.endRingTime;
        if (holdsFirst || !metadata.firstPicture)
            metadata.firstPicture = TimeOf(entry, pictures.first);
        // The ring's timeline goes on from a capture's last packet end, which on the clock may lie a packet's
        // duration past the moment the next capture began: that moment ends it.
        const MetadataTime begins = TimeOf(entry, from);
        if (!metadata.captures.empty() && begins.monotonicNs < metadata.captures.back().end.monotonicNs)
            metadata.captures.back().end = begins;
        metadata.captures.push_back({entry.windowId != 0, entry.windowId, begins, TimeOf(entry, to)});
        metadata.framesRepeated += entry.report.framesRepeated;
        metadata.framesDropped += entry.report.framesDropped;
        last = &entry;
    }
    if (last == nullptr)
        return;
    metadata.lastPicture = TimeOf(*last, pictures.last);
    metadata.videoEncoder =
        MetadataEncoder{last->report.videoEncoder.name, last->report.videoEncoder.hardware};
    if (last->report.audioEncoder)
        metadata.audioEncoder =
            MetadataEncoder{last->report.audioEncoder->name, last->report.audioEncoder->hardware};
}
