// The packet handler between the grabber sinks and the ring: start gate, flags, rebasing, and stop.

#include "Capture/PacketHandler.h"
#include "Capture/SinkNodeHolder.h"
#include "LogCapture.h"
#include "RingTestSupport.h"
#include <mfapi.h>

#include <gtest/gtest.h>

namespace {

constexpr RingStreamKind Video = RingStreamKind::Video;
constexpr RingStreamKind Sound = RingStreamKind::Audio;

class PacketHandlerTest : public ::testing::Test {
protected:
    PacketHandlerTest() { EXPECT_TRUE(m_ring.OpenForWrite(m_folder.Wide("ring"), 3600)); }

    // One packet of `size` bytes whose first byte is `tag`; times in 100-ns units.
    void Packet(RingStreamKind kind, LONGLONG time, LONGLONG duration, bool cleanPoint, BYTE tag = 0) {
        ComPtr<IMFAttributes> attributes;
        MFCreateAttributes(&attributes, 1);
        if (cleanPoint)
            attributes->SetUINT32(MFSampleExtension_CleanPoint, 1);
        const std::vector<BYTE> payload{tag, 2, 3};
        m_handler.OnPacket(kind, time, duration, payload.data(), DWORD(payload.size()), attributes.Get());
    }

    std::vector<Record> Written() {
        m_ring.Close();
        RingFile reader;
        EXPECT_FALSE(reader.OpenForRead(m_folder.Wide("ring")));
        return ReadAll(reader);
    }

    TempDirectory m_folder;
    RingFile m_ring;
    PacketHandler m_handler;
};

TEST_F(PacketHandlerTest, TheRecordingStartsWithTheFirstVideoPacketAfterAudio) {
    m_handler.Start(&m_ring, 0);
    Packet(Video, 0, 166666, true, 1);       // no audio yet: dropped
    Packet(Sound, 100000, 213333, false, 2); // no video written yet: dropped
    Packet(Video, 166666, 166666, true, 3);
    Packet(Sound, 313333, 213333, false, 4);
    Packet(Video, 333332, 166666, false, 5);
    const auto records = Written();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].payload[0], 3);
    EXPECT_EQ(records[1].payload[0], 4);
    EXPECT_EQ(records[2].payload[0], 5);
}

TEST_F(PacketHandlerTest, DeltaFramesBeforeTheFirstKeyFrameAreHeldAndOneKeyFrameIsAskedForOnceAudioFlows) {
    int requests = 0;
    m_handler.SetKeyFrameRequest([&] { ++requests; });
    m_handler.Start(&m_ring, 0);
    Packet(Video, 0, 166666, false, 1); // no audio yet: dropped, nothing asked
    EXPECT_EQ(requests, 0);
    Packet(Sound, 100000, 213333, false, 2); // audio flows: the key frame is asked for at once
    EXPECT_EQ(requests, 1);
    Packet(Video, 166666, 166666, false, 3); // undecodable without its key frame
    Packet(Video, 333332, 166666, false, 4);
    EXPECT_EQ(requests, 1);
    Packet(Video, 499998, 166666, true, 5);
    Packet(Video, 666664, 166666, false, 6);
    const auto records = Written();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].payload[0], 5);
    EXPECT_EQ(records[1].payload[0], 6);
    EXPECT_EQ(requests, 1);
}

TEST_F(PacketHandlerTest, FlagsCarryTheKindTheAudioBitAndTheCleanPoint) {
    m_handler.Start(&m_ring, 0);
    Packet(Sound, 0, 213333, false);
    Packet(Video, 0, 166666, true);
    Packet(Video, 166666, 166666, false);
    Packet(Sound, 213333, 213333, false);
    Packet(Sound, 426666, 213333, true);
    const auto records = Written();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].header.flags, 0x10u);
    EXPECT_EQ(records[1].header.flags, 0x00u);
    EXPECT_EQ(records[2].header.flags, 0x09u);
    EXPECT_EQ(records[3].header.flags, 0x19u);
    // 100-ns units to 90 kHz ticks, truncated: 213333 → 1919.997 → 1919.
    EXPECT_EQ(records[2].header.duration, 1919u);
    EXPECT_EQ(records[2].header.timestamp, 1919u);
    EXPECT_EQ(records[2].header.size, 3u);
}

TEST_F(PacketHandlerTest, TheFirstWrittenPacketMovesToThePendingBaseAndTheRestFollow) {
    m_handler.Start(&m_ring, 9000);
    Packet(Sound, 0, 213333, false);      // gated
    Packet(Video, 50001, 166666, true);   // 450 ticks → 9000
    Packet(Video, 100001, 166666, false); // 900 ticks → 9450
    Packet(Sound, 150001, 213333, false); // 1350 ticks → 9900
    const auto records = Written();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].header.timestamp, 9000u);
    EXPECT_EQ(records[1].header.timestamp, 9450u);
    EXPECT_EQ(records[2].header.timestamp, 9900u);
    // Latest end: 9900 + 1919; the stop (3600 ticks → 12150) is later than the last picture may stand
    // (100001 + 200000 → 11250), so the packets' end holds.
    EXPECT_EQ(m_handler.Stop(400001, 200000), 11819u);
}

TEST_F(PacketHandlerTest, TheLatestEndFollowsTheTimelineAcrossTheWrapUpToTheStop) {
    // 4096 ticks before the 32-bit timeline wraps.
    m_handler.Start(&m_ring, 0xFFFFF000u);
    Packet(Sound, 0, 213333, false);
    Packet(Video, 0, 166666, true);
    Packet(Video, 500000, 166666, false); // 4500 ticks on: 404 after the wrap
    // A still picture stands until the stop: 18000 ticks on, 13904 after the wrap.
    const std::uint32_t end = m_handler.Stop(2000000, 5000000);
    EXPECT_EQ(end, 13904u);
    const auto records = Written();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].header.timestamp, 0xFFFFF000u);
    EXPECT_EQ(records[1].header.timestamp, 404u);
}

TEST_F(PacketHandlerTest, ASegmentSwitchThatFailsIsReportedAsSuchOnce) {
    LogCapture log;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(m_folder.Wide("short"), 1));
    m_handler.Start(&ring, 0);
    Packet(Sound, 0, 213333, false);
    Packet(Video, 0, 166666, true);
    Packet(Video, 15000000, 166666, true); // 1.5 s: segment 1
    {
        // Segment 0 cannot be emptied while it is mapped here: the packets stay in segment 1.
        RingFile reader;
        ASSERT_FALSE(reader.OpenForRead(m_folder.Wide("short")));
        Packet(Video, 30000000, 166666, true);
        Packet(Video, 45000000, 166666, true);
    }
    m_handler.Stop();
    EXPECT_EQ(log.Lines(), std::vector<std::string>{
                               "ERROR ring segment switch failed, the segment grows on: timestamp(270000)"});
}

TEST_F(PacketHandlerTest, PacketsAfterStopAreDiscardedAndTheNextStartBeginsAfresh) {
    m_handler.Start(&m_ring, 0);
    Packet(Sound, 0, 213333, false);
    Packet(Video, 0, 166666, true, 1);
    Packet(Video, 500000, 166666, false, 2);
    EXPECT_EQ(m_handler.Stop(), 4500u + 1499u);
    Packet(Video, 900000, 166666, true, 3);
    Packet(Sound, 900000, 213333, false, 4);
    // A new start gates again and keeps the previous capture's end as its base.
    m_handler.Start(&m_ring, 5999);
    Packet(Video, 0, 166666, true, 5);
    Packet(Sound, 0, 213333, false, 6);
    Packet(Video, 166666, 166666, true, 7);
    const auto records = Written();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].payload[0], 1);
    EXPECT_EQ(records[1].payload[0], 2);
    EXPECT_EQ(records[2].payload[0], 7);
    EXPECT_EQ(records[2].header.timestamp, 5999u);
}

TEST_F(PacketHandlerTest, AGrabberSinkNodeFeedsTheHandlerThroughItsSinkFunction) {
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    {
        ComPtr<IMFMediaType> type;
        MFCreateMediaType(&type);
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        SinkNodeHolder holder(type.Get(), true);
        EXPECT_EQ(holder.MediaType(), type.Get());
        holder.SetSinkFunction(m_handler.SinkFunction(Video));
        SinkNodeHolder audioHolder(type.Get(), true);
        audioHolder.SetSinkFunction(m_handler.SinkFunction(Sound));
        m_handler.Start(&m_ring, 0);
        for (IMFStreamSink* sink : {audioHolder.StreamSink(), holder.StreamSink()}) {
            ComPtr<IMFMediaSink> mediaSink;
            ComPtr<IMFClockStateSink> clock;
            ASSERT_EQ(sink->GetMediaSink(&mediaSink), S_OK);
            ASSERT_EQ(mediaSink->QueryInterface(IID_PPV_ARGS(&clock)), S_OK);
            clock->OnClockStart(0, 0);
            ComPtr<IMFSample> sample;
            ComPtr<IMFMediaBuffer> buffer;
            MFCreateSample(&sample);
            MFCreateMemoryBuffer(4, &buffer);
            buffer->SetCurrentLength(4);
            sample->AddBuffer(buffer.Get());
            sample->SetSampleTime(0);
            sample->SetSampleDuration(1000);
            sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
            ASSERT_EQ(sink->ProcessSample(sample.Get()), S_OK);
            mediaSink->Shutdown();
        }
    }
    MFShutdown();
    const auto records = Written();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].header.flags, 0x10u);
    EXPECT_EQ(records[0].header.size, 4u);
}

} // namespace
