#include "CaptureLog.h"

#include "ring/RingTime.h"

#include <sstream>

namespace {

constexpr const char* NotesHeader = "pyx-video clock notes 1";

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

// An encoder's name as one field: no tab or line break of its own.
std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

template <class Number>
bool ParseNumber(const std::string& text, Number& value) {
    std::istringstream in(text);
    return static_cast<bool>(in >> value) && in.peek() == std::char_traits<char>::eof();
}

} // namespace

CaptureLog::Entry CaptureLog::MakeEntry(HWND window, const CaptureReport& report,
                                        std::optional<std::uint32_t> end) {
    // The wall clock is read with the anchor's moment, so that an export later on, even after a restart of
    // the machine, places the pictures where they were.
    const MetadataTime anchor =
        MetadataTimeOf(pyx::CaptureClock::time_point(pyx::CaptureClock::duration(report.anchor->captureNs)));
    return {reinterpret_cast<std::uintptr_t>(window), *report.anchor, anchor.utcMs, end, report};
}

void CaptureLog::Add(HWND window, const CaptureReport& report, std::uint32_t endRingTime) {
    if (report.anchor)
        m_entries.push_back(MakeEntry(window, report, endRingTime));
}

// Ring times within one capture are a fixed distance from its anchor, shorter than the ring's wrap.
MetadataTime CaptureLog::TimeOf(const Entry& entry, std::uint32_t ringTime) {
    const std::int64_t ticks = static_cast<std::int32_t>(ringTime - entry.anchor.ringTime);
    const std::int64_t sinceAnchorNs = ticks * 1'000'000'000 / RingTicksPerSecond;
    const std::int64_t sinceAnchorMs =
        sinceAnchorNs >= 0 ? sinceAnchorNs / 1'000'000 : (sinceAnchorNs - 999'999) / 1'000'000;
    return {entry.anchor.captureNs + sinceAnchorNs, entry.anchorUtcMs + sinceAnchorMs};
}

void CaptureLog::Describe(const PictureSpan& pictures, RecordingMetadata& metadata) const {
    const Entry* last = nullptr;
    for (const Entry& entry : m_entries) {
        // Captures follow each other on the ring's timeline, each from its first packet to its last one's
        // end.
        const std::uint32_t start = entry.anchor.ringTime;
        const bool endsBefore = entry.endRingTime && !RingTimeBefore(pictures.first, *entry.endRingTime);
        if (endsBefore || RingTimeBefore(pictures.last, start))
            continue;
        const bool holdsFirst = !RingTimeBefore(pictures.first, start);
        const std::uint32_t from = holdsFirst ? pictures.first : start;
        const std::uint32_t to = !entry.endRingTime || RingTimeBefore(pictures.last, *entry.endRingTime)
                                     ? pictures.last
                                     : *entry.endRingTime;
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

// capture, window id, anchor ring time, capture-clock ns and UTC ms, end ring time or "running", frames
// repeated and dropped, video encoder and whether hardware, audio encoder ("" for none) and whether hardware;
// separated by tabs.
std::string CaptureLog::FormatEntry(const Entry& entry) {
    const CaptureReport& report = entry.report;
    std::string line = "capture\t" + std::to_string(entry.windowId) + "\t" +
                       std::to_string(entry.anchor.ringTime) + "\t" + std::to_string(entry.anchor.captureNs) +
                       "\t" + std::to_string(entry.anchorUtcMs) + "\t" +
                       (entry.endRingTime ? std::to_string(*entry.endRingTime) : "running") + "\t" +
                       std::to_string(report.framesRepeated) + "\t" + std::to_string(report.framesDropped);
    line += "\t" + Field(report.videoEncoder.name) + "\t" + (report.videoEncoder.hardware ? "1" : "0");
    line += "\t" + (report.audioEncoder ? Field(report.audioEncoder->name) : std::string()) + "\t" +
            (report.audioEncoder && report.audioEncoder->hardware ? "1" : "0");
    return line + "\n";
}

std::string CaptureLog::Format(std::uint32_t pid, HWND runningWindow, const CaptureReport& running) const {
    std::string text = std::string(NotesHeader) + "\npid\t" + std::to_string(pid) + "\n";
    for (const Entry& entry : m_entries)
        text += FormatEntry(entry);
    if (running.anchor)
        text += FormatEntry(MakeEntry(runningWindow, running, std::nullopt));
    return text;
}

bool CaptureLog::Parse(const std::string& text, CaptureLog& log, std::uint32_t& pid) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != NotesHeader || !std::getline(in, line))
        return false;
    const std::vector<std::string> pidFields = Fields(line);
    if (pidFields.size() != 2 || pidFields[0] != "pid" || !ParseNumber(pidFields[1], pid))
        return false;
    CaptureLog parsed;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = Fields(line);
        if (f.size() != 12 || f[0] != "capture")
            return false;
        Entry entry;
        RingClockAnchor anchor;
        std::uint32_t end = 0;
        int videoHardware = 0;
        int audioHardware = 0;
        if (!ParseNumber(f[1], entry.windowId) || !ParseNumber(f[2], anchor.ringTime) ||
            !ParseNumber(f[3], anchor.captureNs) || !ParseNumber(f[4], entry.anchorUtcMs) ||
            (f[5] != "running" && !ParseNumber(f[5], end)) ||
            !ParseNumber(f[6], entry.report.framesRepeated) ||
            !ParseNumber(f[7], entry.report.framesDropped) || !ParseNumber(f[9], videoHardware) ||
            !ParseNumber(f[11], audioHardware))
            return false;
        entry.anchor = anchor;
        entry.report.anchor = anchor;
        if (f[5] != "running")
            entry.endRingTime = end;
        entry.report.videoEncoder = {f[8], videoHardware != 0};
        if (!f[10].empty())
            entry.report.audioEncoder = EncoderDescription{f[10], audioHardware != 0};
        parsed.m_entries.push_back(entry);
    }
    log = std::move(parsed);
    return true;
}
