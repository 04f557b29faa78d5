#pragma once
// The two-segment ring of encoded packets on disk. The write side appends records to the current segment and
// switches to the other one (discarding its old contents) at the first video key frame after the segment
// has held more than `duration` seconds; every video key frame is listed in the segment's index file. The
// read side maps both segments and plays them back from the oldest indexed key frame.

#include "RingIndexEntry.h"
#include "RingMapping.h"
#include "RingPacketHeader.h"
#include "RingPaths.h"
#include "RingRecordCheck.h"

#include <handleapi.h>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

class RingFile {
public:
    RingFile() = default;
    ~RingFile() { Close(); }
    RingFile(const RingFile&) = delete;
    RingFile& operator=(const RingFile&) = delete;

    // Creates both segments' data and index files new, replacing what was at their paths. False at the first
    // file that cannot be created; the files created before it are left on disk.
    bool OpenForWrite(const std::wstring& name, uint32_t duration);
    // Why the last OpenForWrite or OpenForRead failed, in words with the path.
    const std::string& OpenError() const { return m_openError; }

    // Appends one record; 0 on success, 1 when a file operation failed. A record that cannot be written in
    // full is cut off again, so the files always end with a complete record; when the other segment cannot
    // be emptied the packet stays in the current one and the result is WriteSwitchFailed. header.size must
    // equal size.
    int Write(const RingPacketHeader& header, const void* payload, uint32_t size);
    static constexpr int WriteSwitchFailed = 2;

    // How long past its duration a segment may grow while no video key frame comes (video stopped, audio
    // going on) before an audio packet switches instead: one key-frame interval of the capture.
    static constexpr uint32_t KeyFrameIntervalTicks = 2 * RingTicksPerSecond;

    // Closes the write files and the read mappings; payload pointers from ReadNext become invalid.
    void Close();

    // Maps both segments for reading. Returns true on FAILURE: a data or index file is missing or cannot be
    // read. Index entries that do not describe a complete record of their data file are ignored.
    [[nodiscard]] bool OpenForRead(const std::wstring& name);

    // The next record in playback order. Returns true at the END; otherwise the payload points into the
    // mapped data file and stays valid until Close. Damaged stretches are skipped and counted in Damage().
    [[nodiscard]] bool ReadNext(RingPacketHeader& header, const uint8_t*& payload, uint32_t& size);

    // What reading has left out so far because it was damaged.
    const RingDamage& Damage() const { return m_check.Damage(); }

private:
    struct KeyFrame {
        uint32_t segment;
        RingIndexEntry entry;
    };

    bool SwitchSegment(uint32_t timestamp);
    // Whether the record at `timestamp` ends the current segment; `videoKeyFrame` tells which rule applies.
    bool SegmentFull(uint32_t timestamp, bool videoKeyFrame) const;
    void CloseWriteHandles();
    void LoadIndex(unsigned segment);
    // The oldest indexed key frame on the wrapping timeline; null when none is indexed.
    const KeyFrame* OldestKeyFrame() const;
    unsigned StartSegment() const;
    bool FindRecord(RingPacketHeader& record);

    std::wstring m_name;
    std::string m_openError;
    uint32_t m_duration = 10;
    unsigned m_currentSegment = 0;
    uint64_t m_bytesWritten = 0;
    uint64_t m_indexBytesWritten = 0;
    uint32_t m_segmentStart = 0;
    // The time of the current segment's first record, once it has one.
    bool m_segmentHasRecords = false;
    uint32_t m_segmentFirstTime = 0;
    std::array<HANDLE, RingSegmentCount> m_dataHandles{};
    std::array<HANDLE, RingSegmentCount> m_indexHandles{};

    // The data files, then the index files, in segment order.
    std::array<RingMapping, 2 * RingSegmentCount> m_mappings;
    std::map<uint32_t, KeyFrame> m_keyFrames;
    unsigned m_readSegment = 0;
    unsigned m_startSegment = 0;
    uint64_t m_readOffset = 0;
    uint32_t m_readStartTime = 0;
    // Where the index vouches for a key frame: (segment, offset).
    std::set<std::pair<unsigned, uint64_t>> m_indexedRecords;
    RingRecordCheck m_check;
};
