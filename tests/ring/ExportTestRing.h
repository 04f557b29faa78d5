#pragma once
// Small rings with hand-placed records carrying real encoded payloads, and a sample writer that records what
// a replay hands it.

#include "ring/RingFile.h"
#include "ring/SampleWriter.h"

#include "TestEncoders.h"

#include <mfapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct ReplayedSample {
    bool audio = false;
    LONGLONG time = 0;
    LONGLONG duration = 0;
    bool cleanPoint = false;
    DWORD size = 0;
};

class RecordingWriter : public SampleWriter {
public:
    void WriteVideo(IMFSample* sample) override { Record(sample, false); }
    void WriteAudio(IMFSample* sample) override { Record(sample, true); }
    std::vector<ReplayedSample> samples;

private:
    void Record(IMFSample* sample, bool audio) {
        ReplayedSample replayed;
        replayed.audio = audio;
        EXPECT_EQ(sample->GetSampleTime(&replayed.time), S_OK);
        EXPECT_EQ(sample->GetSampleDuration(&replayed.duration), S_OK);
        replayed.cleanPoint = MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
        sample->GetTotalLength(&replayed.size);
        samples.push_back(replayed);
    }
};

// Real packets of a short 320x180 H.264 + AAC capture: the first key frame, then its delta frames and audio.
struct SmallContent {
    SmallContent() {
        for (EncodedPacket& packet : EncodeCapture({"libx264", 320, 180, 60, 120, 0}, {}, 1.0))
            (packet.kind == EncodedPacket::Audio ? audio : video).push_back(std::move(packet));
    }
    std::vector<EncodedPacket> video;
    std::vector<EncodedPacket> audio;
};

// A record to place: which payload, with which ring header values.
struct PlacedRecord {
    const EncodedPacket* packet;
    uint32_t timestamp;
    uint32_t duration;
};

inline void WriteRing(const std::wstring& name, const std::vector<PlacedRecord>& records,
                      uint32_t duration = 60) {
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(name, duration));
    for (const PlacedRecord& record : records) {
        const bool audio = record.packet->kind == EncodedPacket::Audio;
        const uint32_t flags = (audio ? 0x09u : 0x00u) | (record.packet->cleanPoint ? 0x10u : 0x00u);
        const RingPacketHeader header{record.timestamp, record.duration, uint32_t(record.packet->data.size()),
                                      flags};
        ASSERT_EQ(ring.Write(header, record.packet->data.data(), header.size), 0);
    }
    ring.Close();
}

inline void EmptyIndexFiles(const std::filesystem::path& folder, const std::string& stem) {
    for (const char* segment : {"0", "1"})
        std::filesystem::resize_file(folder / (stem + segment + ".idx"), 0);
}
