#pragma once
// The 100-ns unit of media times (sample times and durations, REFERENCE_TIME, MFTIME) and its conversions to
// and from counts of frames at a rate. They truncate toward zero unless their name says otherwise, and never
// form the whole product, so they stay exact for captures of any length.

#include <chrono>
#include <cstdint>

namespace pyx {

using HundredNanoseconds = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

inline constexpr std::int64_t HundredNanosecondsPerSecond = HundredNanoseconds::period::den;

namespace detail {

// value × numerator / denominator, truncated toward zero; numerator and denominator are positive.
constexpr std::int64_t Scale(std::int64_t value, std::int64_t numerator, std::int64_t denominator) {
    return value / denominator * numerator + value % denominator * numerator / denominator;
}

} // namespace detail

// The time `frames` take at `rate` frames per second.
constexpr HundredNanoseconds FramesDuration(std::int64_t frames, std::int64_t rate) {
    return HundredNanoseconds(detail::Scale(frames, HundredNanosecondsPerSecond, rate));
}

// The whole frames at `rate` frames per second that fit in `time`.
constexpr std::int64_t FramesWithin(HundredNanoseconds time, std::int64_t rate) {
    return detail::Scale(time.count(), rate, HundredNanosecondsPerSecond);
}

// The frames at `rate` frames per second that cover `time` (not negative): a partial frame counts.
constexpr std::int64_t FramesCovering(HundredNanoseconds time, std::int64_t rate) {
    const bool partial = time.count() % HundredNanosecondsPerSecond * rate % HundredNanosecondsPerSecond != 0;
    return FramesWithin(time, rate) + (partial ? 1 : 0);
}

} // namespace pyx
