#include "RingFile.h"

#include "FreshFile.h"
#include "RingPaths.h"
#include "RingTime.h"

#include "Util/ErrorText.h"
#include "Util/Logger.h"
#include <fileapi.h>

#include <cstring>

namespace {

void CloseFile(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

bool WriteAll(HANDLE file, const void* buffer, uint32_t bytes) {
    DWORD written = 0;
    return WriteFile(file, buffer, bytes, &written, nullptr) && written == bytes;
}

// Moves the file pointer to `offset` and cuts the file there.
bool Truncate(HANDLE file, uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(ERROR_SUCCESS);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        return false;
    }
    return SetEndOfFile(file) != FALSE;
}

// True when `offset` begins a complete record of `data` whose header equals `header`; anything else would
// start playback outside a record.
bool IsRecordAt(const RingMapping& data, uint64_t offset, const RingPacketHeader& header) {
    const uint64_t size = data.Size();
    if (offset > size || size - offset < sizeof(RingPacketHeader)) {
        return false;
    }
    if (!IsRingVideoKeyFrame(header.flags) ||
        std::memcmp(data.Data() + offset, &header, sizeof header) != 0) {
        return false;
    }
    return header.size <= size - offset - sizeof(RingPacketHeader);
}

} // namespace

bool RingFile::OpenForWrite(const std::wstring& name, uint32_t duration) {
    m_name = name;
    m_duration = duration;
    m_currentSegment = 0;
    m_bytesWritten = 0;
    m_indexBytesWritten = 0;
    m_segmentStart = 0;
    m_segmentHasRecords = false;
    m_segmentFirstTime = 0;
    m_openError.clear();
    // New files replace whatever is at the paths: writing through a link would overwrite its target.
    for (unsigned i = 0; i < RingSegmentCount; ++i) {
        CloseFile(m_dataHandles[i]);
        m_dataHandles[i] = CreateReplacingFile(RingDataPath(name, i), m_openError);
        if (m_dataHandles[i] == nullptr) {
            return false;
        }
        CloseFile(m_indexHandles[i]);
        m_indexHandles[i] = CreateReplacingFile(RingIndexPath(name, i), m_openError);
        if (m_indexHandles[i] == nullptr) {
            return false;
        }
    }
    return true;
}

int RingFile::Write(const RingPacketHeader& header, const void* payload, uint32_t size) {
    // A header that disagrees with its payload would make every later record of the segment unreadable.
    if (header.size != size || (payload == nullptr && size != 0)) {
        return 1;
    }
    int result = 0;
    bool indexed = false;
    const bool videoKeyFrame = IsRingVideoKeyFrame(header.flags);
    if (SegmentFull(header.timestamp, videoKeyFrame) && !SwitchSegment(header.timestamp)) {
        result = WriteSwitchFailed;
    }
    if (videoKeyFrame) {
        HANDLE index = m_indexHandles[m_currentSegment];
        if (!WriteAll(index, &m_bytesWritten, sizeof m_bytesWritten) ||
            !WriteAll(index, &header, sizeof header)) {
            Truncate(index, m_indexBytesWritten);
            return 1;
        }
        indexed = true;
    }
    HANDLE data = m_dataHandles[m_currentSegment];
    if (!WriteAll(data, &header, sizeof header) || (size != 0 && !WriteAll(data, payload, size))) {
        // Cut the partial record, and the index entry that points at it, so later records stay reachable.
        Truncate(data, m_bytesWritten);
        if (indexed) {
            Truncate(m_indexHandles[m_currentSegment], m_indexBytesWritten);
        }
        return 1;
    }
    if (indexed) {
        m_indexBytesWritten += sizeof(RingIndexEntry);
    }
    if (!m_segmentHasRecords) {
        m_segmentHasRecords = true;
        m_segmentFirstTime = header.timestamp;
    }
    m_bytesWritten += uint64_t{size} + sizeof header;
    return result;
}

// A video key frame ends the segment once it holds more than the duration. Audio ends it too when it has
// gone a key-frame interval beyond that without one, so a stopped video branch cannot grow the ring without
// bound; the older segment still begins with a key frame for the export. The differences wrap with the
// 32-bit timeline; the limits do not, so a duration beyond the timeline's range never switches instead of
// switching at a wrapped limit.
bool RingFile::SegmentFull(uint32_t timestamp, bool videoKeyFrame) const {
    const uint64_t limit = uint64_t{m_duration} * RingTicksPerSecond;
    if (videoKeyFrame) {
        return uint32_t(timestamp - m_segmentStart) > limit;
    }
    return m_segmentHasRecords && uint32_t(timestamp - m_segmentFirstTime) > limit + KeyFrameIntervalTicks &&
           !RingTimeBefore(timestamp, m_segmentFirstTime);
}

// Empties the other segment and makes it current. When it cannot be emptied the current segment stays in
// use (and keeps growing) rather than appending after stale records; the next key frame tries again.
bool RingFile::SwitchSegment(uint32_t timestamp) {
    const unsigned next = (m_currentSegment + 1) % RingSegmentCount;
    if (!Truncate(m_dataHandles[next], 0) || !Truncate(m_indexHandles[next], 0)) {
        return false;
    }
    m_currentSegment = next;
    m_bytesWritten = 0;
    m_indexBytesWritten = 0;
    m_segmentStart = timestamp;
    m_segmentHasRecords = false;
    return true;
}

void RingFile::CloseWriteHandles() {
    for (unsigned i = 0; i < RingSegmentCount; ++i) {
        CloseFile(m_dataHandles[i]);
        CloseFile(m_indexHandles[i]);
    }
}

void RingFile::Close() {
    CloseWriteHandles();
    for (RingMapping& mapping : m_mappings) {
        mapping.Close();
    }
    m_keyFrames.clear();
    m_indexedRecords.clear();
    m_check.Reset();
    m_readSegment = 0;
    m_startSegment = 0;
    m_readOffset = 0;
    m_readStartTime = 0;
}

bool RingFile::OpenForRead(const std::wstring& name) {
    Close();
    m_name = name;
    for (unsigned i = 0; i < RingSegmentCount; ++i) {
        for (const auto& [mapping, path] :
             {std::pair{&m_mappings[i], RingDataPath(name, i)},
              std::pair{&m_mappings[RingSegmentCount + i], RingIndexPath(name, i)}}) {
            if (!mapping->Open(RingPathToWide(path))) {
                m_openError = path.string() + ": " + Win32ErrorText(GetLastError());
                Close();
                return true;
            }
        }
        LoadIndex(i);
    }
    if (const KeyFrame* oldest = OldestKeyFrame()) {
        m_readSegment = oldest->segment;
        m_startSegment = oldest->segment;
        m_readOffset = oldest->entry.offset;
        m_readStartTime = oldest->entry.header.timestamp;
    }
    return false;
}

// Entries go into the map in file order; an equal timestamp replaces the earlier entry, so segment 1 wins
// over segment 0 and later entries over earlier ones. A trailing partial entry is ignored.
void RingFile::LoadIndex(unsigned segment) {
    const RingMapping& index = m_mappings[RingSegmentCount + segment];
    const RingMapping& data = m_mappings[segment];
    const uint64_t count = index.Size() / sizeof(RingIndexEntry);
    uint64_t ignored = 0;
    for (uint64_t i = 0; i < count; ++i) {
        RingIndexEntry entry;
        std::memcpy(&entry, index.Data() + i * sizeof(RingIndexEntry), sizeof entry);
        if (!IsRecordAt(data, entry.offset, entry.header)) {
            // The key frame being written when the writer stopped is indexed before its record is complete.
            const bool cutOff = i + 1 == count && entry.offset <= data.Size() &&
                                entry.offset + sizeof(RingPacketHeader) + entry.header.size > data.Size();
            if (!cutOff)
                ++ignored;
            continue;
        }
        m_keyFrames.insert_or_assign(entry.header.timestamp, KeyFrame{segment, entry});
        m_indexedRecords.emplace(segment, entry.offset);
    }
    if (ignored != 0) {
        LogWarn("ringfile index entries ignored: segment(%u), count(%llu)", segment,
                static_cast<unsigned long long>(ignored));
        m_check.CountIgnoredIndexEntries(ignored);
    }
}

// Ordered by wrap-aware comparison, which is a true order here: all key frames of a ring lie within half the
// 32-bit range of each other.
const RingFile::KeyFrame* RingFile::OldestKeyFrame() const {
    const KeyFrame* oldest = nullptr;
    for (const auto& [timestamp, keyFrame] : m_keyFrames) {
        if (oldest == nullptr || RingTimeBefore(timestamp, oldest->entry.header.timestamp)) {
            oldest = &keyFrame;
        }
    }
    return oldest;
}

// The next readable record of the read segment, skipping damage; false when the segment has none left.
bool RingFile::FindRecord(RingPacketHeader& record) {
    const unsigned segment = m_readSegment;
    const unsigned next = (segment + 1) % RingSegmentCount;
    const bool lastPlayed = next == StartSegment() || m_mappings[next].Size() == 0;
    return m_check.Find(
        m_mappings[segment], m_readOffset, lastPlayed,
        [&](uint64_t offset) {
            return m_indexedRecords.count({segment, offset}) != 0;
        },
        record);
}

// With no key frame indexed, playback starts at segment 0 and still goes on into segment 1.
unsigned RingFile::StartSegment() const {
    const KeyFrame* oldest = OldestKeyFrame();
    return oldest == nullptr ? 0 : oldest->segment;
}

bool RingFile::ReadNext(RingPacketHeader& header, const uint8_t*& payload, uint32_t& size) {
    RingPacketHeader record;
    while (!FindRecord(record)) {
        // A start segment whose end is unreadable still leads on to the later ones.
        const unsigned next = (m_readSegment + 1) % RingSegmentCount;
        if (next == StartSegment()) {
            return true;
        }
        m_readSegment = next;
        m_readOffset = 0;
    }
    const RingMapping& data = m_mappings[m_readSegment];
    const uint64_t dataSize = data.Size();
    const uint64_t payloadOffset = m_readOffset + sizeof record;
    header = record;
    payload = data.Data() + payloadOffset;
    size = record.size;
    m_readOffset = payloadOffset + record.size;
    // Playback goes on through the later segments and ends before coming round to the first. With no key
    // frame indexed it starts at segment 0 and still goes on into segment 1.
    const unsigned next = (m_readSegment + 1) % RingSegmentCount;
    if (m_readOffset == dataSize && next != m_startSegment) {
        m_readSegment = next;
        m_readOffset = 0;
    }
    return false;
}
