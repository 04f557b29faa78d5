#include "platform/audio/CapturePacketQueue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

// One float per frame at 1000 frames per second: a frame lasts 10000 units of 100 ns.
constexpr UINT32 Capacity = 10;
constexpr UINT32 Packet = 4;
constexpr UINT32 Rate = 1000;
constexpr INT64 FrameTime = 10000;

std::vector<float> Ramp(float first, std::size_t count) {
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

struct Taken {
    HRESULT hr;
    std::vector<float> values;
    DWORD flags;
    UINT64 position;
    UINT64 time;
};

class CapturePacketQueueTest : public ::testing::Test {
protected:
    void Write(float first, std::size_t count, INT64 endTime = 0) {
        const auto values = Ramp(first, count);
        m_queue.Write(reinterpret_cast<const BYTE*>(values.data()), count, endTime);
    }

    Taken Take(bool release = true) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        Taken taken{};
        taken.hr = m_queue.GetBuffer(&data, &frames, &taken.flags, &taken.position, &taken.time);
        if (data != nullptr)
            taken.values.assign(reinterpret_cast<float*>(data), reinterpret_cast<float*>(data) + frames);
        if (taken.hr == S_OK && release) {
            EXPECT_EQ(m_queue.ReleaseBuffer(frames), S_OK);
        }
        return taken;
    }

    CapturePacketQueue m_queue{Capacity, Packet, sizeof(float), Rate};
};

TEST_F(CapturePacketQueueTest, HandsOutWholePacketsInOrderAcrossTheRingEnd) {
    Write(1, 3);
    EXPECT_EQ(m_queue.NextPacketSize(), 0u);
    const Taken empty = Take();
    EXPECT_EQ(empty.hr, AUDCLNT_S_BUFFER_EMPTY);
    EXPECT_TRUE(empty.values.empty());
    EXPECT_EQ(empty.flags, 0u);

    Write(4, 5);
    EXPECT_EQ(m_queue.NextPacketSize(), Packet);
    EXPECT_EQ(Take().values, Ramp(1, 4));
    const Taken second = Take();
    EXPECT_EQ(second.values, Ramp(5, 4));
    EXPECT_EQ(second.position, 4u);
    EXPECT_EQ(second.flags, 0u);
    EXPECT_EQ(m_queue.NextPacketSize(), 0u);

    // Frames 9 to 16 wrap past the ring's end.
    Write(9, 8);
    EXPECT_EQ(Take().values, Ramp(9, 4));
    const Taken wrapped = Take();
    EXPECT_EQ(wrapped.values, Ramp(13, 4));
    EXPECT_EQ(wrapped.position, 12u);
}

TEST_F(CapturePacketQueueTest, ReleasingNothingHandsTheSamePacketOutAgain) {
    Write(1, 8, 100 * FrameTime);
    const Taken first = Take(false);
    ASSERT_EQ(m_queue.ReleaseBuffer(0), S_OK);
    const Taken again = Take(false);
    EXPECT_EQ(again.values, first.values);
    EXPECT_EQ(again.position, first.position);
    EXPECT_EQ(again.time, first.time);
    ASSERT_EQ(m_queue.ReleaseBuffer(Packet), S_OK);
    EXPECT_EQ(Take().values, Ramp(5, 4));
}

TEST_F(CapturePacketQueueTest, CallsOutOfOrderAreRefusedWithoutLosingThePacket) {
    EXPECT_EQ(m_queue.ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);
    Write(1, 8);
    ASSERT_EQ(Take(false).hr, S_OK);

    const Taken twice = Take(false);
    EXPECT_EQ(twice.hr, AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_TRUE(twice.values.empty());
    EXPECT_EQ(m_queue.Clear(), AUDCLNT_E_BUFFER_OPERATION_PENDING);
    EXPECT_EQ(m_queue.ReleaseBuffer(Packet - 1), AUDCLNT_E_INVALID_SIZE);

    // Still held after the refused release: the full count releases it.
    EXPECT_EQ(m_queue.ReleaseBuffer(Packet), S_OK);
    EXPECT_EQ(m_queue.ReleaseBuffer(Packet), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(Take().values, Ramp(5, 4));
}

TEST_F(CapturePacketQueueTest, OverflowDropsTheOldestFramesAndMarksOnlyTheNextPacket) {
    Write(1, 14);
    const Taken first = Take();
    EXPECT_EQ(first.values, Ramp(5, 4));
    EXPECT_EQ(first.position, 4u);
    EXPECT_EQ(first.flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
    const Taken next = Take();
    EXPECT_EQ(next.values, Ramp(9, 4));
    EXPECT_EQ(next.flags, 0u);
}

TEST_F(CapturePacketQueueTest, OverflowWhileAPacketIsHeldLeavesItsDataIntact) {
    Write(1, 8);
    const Taken held = Take(false);
    Write(9, 10);
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    EXPECT_EQ(m_queue.GetBuffer(&data, &frames, &flags, nullptr, nullptr), AUDCLNT_E_OUT_OF_ORDER);
    EXPECT_EQ(held.values, Ramp(1, 4));
    ASSERT_EQ(m_queue.ReleaseBuffer(Packet), S_OK);

    const Taken after = Take();
    EXPECT_EQ(after.position, 8u);
    EXPECT_EQ(after.values, Ramp(9, 4));
    EXPECT_EQ(after.flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
}

TEST_F(CapturePacketQueueTest, AGapMarksThePacketThatContainsIt) {
    Write(1, 6);
    m_queue.MarkDiscontinuity();
    Write(7, 4);
    EXPECT_EQ(Take().flags, 0u);
    EXPECT_EQ(Take().flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
}

TEST_F(CapturePacketQueueTest, OnlyAllZeroPacketsAreSilent) {
    m_queue.Write(nullptr, 4, 0);
    const Taken silence = Take();
    EXPECT_EQ(silence.flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_SILENT));
    EXPECT_EQ(silence.values, std::vector<float>(4, 0.0f));

    const std::vector<float> almost = {0.0f, 0.0f, 0.0f, 1e-30f};
    m_queue.Write(reinterpret_cast<const BYTE*>(almost.data()), 4, 0);
    EXPECT_EQ(Take().flags, 0u);
}

TEST_F(CapturePacketQueueTest, TimesCountBackFromWhenTheFramesArrivedAndNeverGoBack) {
    Write(1, 4, 100 * FrameTime);
    EXPECT_EQ(Take().time, static_cast<UINT64>(96 * FrameTime));

    // Eight frames arriving together, one frame's time later: measured from their arrival they would start
    // before the packet already handed out.
    Write(5, 8, 101 * FrameTime);
    const UINT64 second = Take().time;
    const UINT64 third = Take().time;
    EXPECT_EQ(second, static_cast<UINT64>(100 * FrameTime));
    EXPECT_EQ(third, static_cast<UINT64>(104 * FrameTime));

    // After a pause the arrival time counts again.
    Write(13, 4, 500 * FrameTime);
    EXPECT_EQ(Take().time, static_cast<UINT64>(496 * FrameTime));
}

TEST_F(CapturePacketQueueTest, ClearStartsThePositionsAgain) {
    Write(1, 9);
    Take();
    ASSERT_EQ(m_queue.Clear(), S_OK);
    EXPECT_EQ(m_queue.NextPacketSize(), 0u);
    Write(20, 4);
    const Taken first = Take();
    EXPECT_EQ(first.position, 0u);
    EXPECT_EQ(first.values, Ramp(20, 4));
    EXPECT_EQ(first.flags, 0u);
}

TEST_F(CapturePacketQueueTest, AnHourOfSilenceAtOnceKeepsOnlyTheNewestFrames) {
    constexpr UINT64 Frames = UINT64{3600} * Rate;
    m_queue.Write(nullptr, Frames, 0);
    const Taken first = Take();
    EXPECT_EQ(first.position, Frames - Capacity);
    EXPECT_EQ(first.flags,
              static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_SILENT | AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
    EXPECT_EQ(Take().flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_SILENT));
}

} // namespace
