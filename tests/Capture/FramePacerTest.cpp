#include "Capture/FramePacer.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t Ms = 1000000; // nanoseconds

TEST(FramePacerTest, PeriodIsTheTruncatedFrameTimeInHundredNanoseconds) {
    EXPECT_EQ(FramePacer(60).Period(), 166666);
    EXPECT_EQ(FramePacer(30).Period(), 333333);
    EXPECT_EQ(FramePacer(1).Period(), 10000000);
    // No rate given means 60 frames/s rather than a division by zero.
    EXPECT_EQ(FramePacer(0).Period(), 166666);
    EXPECT_EQ(FramePacer(-5).Period(), 166666);
}

TEST(FramePacerTest, FirstTickFiresAndTwoTicksWithinOnePeriodFireOnce) {
    FramePacer pacer(60);
    EXPECT_EQ(pacer.NextFiring(), 0);
    EXPECT_TRUE(pacer.Tick(1000 * Ms));
    EXPECT_FALSE(pacer.Tick(1000 * Ms + 10 * Ms));
    EXPECT_FALSE(pacer.Tick(1000 * Ms + 16666599));
    EXPECT_EQ(pacer.NextFiring(), 1000 * Ms + 16666600);
    EXPECT_TRUE(pacer.Tick(1000 * Ms + 16666600));
}

TEST(FramePacerTest, MeasuresFromTheLastFiringNotTheLastTick) {
    FramePacer pacer(60);
    ASSERT_TRUE(pacer.Tick(0));
    EXPECT_FALSE(pacer.Tick(10 * Ms));
    EXPECT_TRUE(pacer.Tick(17 * Ms));
    EXPECT_FALSE(pacer.Tick(30 * Ms));
    EXPECT_TRUE(pacer.Tick(34 * Ms));
}

TEST(FramePacerTest, FastArrivalsAreBoundedToTheFrameRate) {
    FramePacer pacer(60);
    int fired = 0;
    // One second of arrivals every millisecond.
    for (std::int64_t t = 0; t < 1000 * Ms; t += Ms)
        fired += pacer.Tick(t) ? 1 : 0;
    EXPECT_GE(fired, 55);
    EXPECT_LE(fired, 60);
}

TEST(FramePacerTest, ASourceAtTheFrameRateKeepsEveryFrameThoughFiringsComeLate) {
    FramePacer pacer(60);
    const std::int64_t period = pacer.Period() * 100;
    // Every other frame is handled almost a millisecond late; the one after it is on time again.
    int fired = 0;
    for (std::int64_t k = 0; k < 600; ++k)
        fired += pacer.Tick(k * period + (k % 2 == 1 ? 900000 : 0)) ? 1 : 0;
    EXPECT_EQ(fired, 600);
    // Lateness that builds up over many frames does not cost frames either.
    FramePacer drifting(60);
    fired = 0;
    for (std::int64_t k = 0; k < 600; ++k)
        fired += drifting.Tick(k * period + (k % 20) * 400000) ? 1 : 0;
    EXPECT_EQ(fired, 600);
}

TEST(FramePacerTest, AfterAVeryLateFiringTheNextComesNoSoonerThanHalfAPeriod) {
    FramePacer pacer(60);
    const std::int64_t period = pacer.Period() * 100;
    ASSERT_TRUE(pacer.Tick(0));
    ASSERT_TRUE(pacer.Tick(period + 12 * Ms));
    EXPECT_FALSE(pacer.Tick(2 * period));
    EXPECT_EQ(pacer.NextFiring(), period + 12 * Ms + period / 2);
    EXPECT_TRUE(pacer.Tick(period + 12 * Ms + period / 2));
    // Frames are stamped with the firings, not the refused tick between them.
    EXPECT_EQ(pacer.LastFiringTime(), (period + 12 * Ms + period / 2) / 100);
}

TEST(FramePacerTest, ATickAfterALongPauseFiresAtOnce) {
    FramePacer pacer(60);
    ASSERT_TRUE(pacer.Tick(0));
    EXPECT_TRUE(pacer.Tick(5000 * Ms));
    EXPECT_FALSE(pacer.Tick(5001 * Ms));
}

} // namespace
