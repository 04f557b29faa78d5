// The tone the test window plays on request, as heard on the monitor of the default sink, and its answers
// when there is no sound server.

#include "TestWindowProcess.h"

#include <gtest/gtest.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;

struct Heard {
    double peak = 0;
    double hz = 0; // from the median distance between rising zero crossings; 0 without any
};

// Records `seconds` of the default sink's monitor (one channel) and measures it, leaving out the first 50 ms,
// which the server may have had buffered from before.
Heard Listen(double seconds) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 1};
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "tone-test", PA_STREAM_RECORD, "@DEFAULT_MONITOR@", "listen",
                                      &spec, nullptr, nullptr, &error);
    if (stream == nullptr) {
        ADD_FAILURE() << "cannot record the monitor: " << pa_strerror(error);
        return {};
    }
    std::vector<float> samples(std::size_t((seconds + 0.05) * kRate));
    const bool read = pa_simple_read(stream, samples.data(), samples.size() * sizeof(float), &error) == 0;
    pa_simple_free(stream);
    if (!read) {
        ADD_FAILURE() << "cannot read the monitor: " << pa_strerror(error);
        return {};
    }
    samples.erase(samples.begin(), samples.begin() + kRate / 20);
    Heard heard;
    std::vector<std::size_t> crossings;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        heard.peak = std::max(heard.peak, double(std::fabs(samples[i])));
        if (i > 0 && samples[i - 1] < 0 && samples[i] >= 0)
            crossings.push_back(i);
    }
    if (crossings.size() > 2) {
        std::vector<std::size_t> distances;
        for (std::size_t i = 1; i < crossings.size(); ++i)
            distances.push_back(crossings[i] - crossings[i - 1]);
        std::nth_element(distances.begin(), distances.begin() + distances.size() / 2, distances.end());
        heard.hz = double(kRate) / double(distances[distances.size() / 2]);
    }
    return heard;
}

TEST(ToneTest, PlaysChangesAndStops) {
    TestWindowProcess window;
    ASSERT_EQ(window.Command("tone 440"), "ok");
    Heard heard = Listen(0.3);
    EXPECT_NEAR(heard.hz, 440, 5);
    EXPECT_NEAR(heard.peak, 0.3, 0.03);

    ASSERT_EQ(window.Command("tone 1000"), "ok");
    heard = Listen(0.3);
    EXPECT_NEAR(heard.hz, 1000, 25);
    EXPECT_NEAR(heard.peak, 0.3, 0.03);

    ASSERT_EQ(window.Command("tone 0"), "ok");
    EXPECT_LT(Listen(0.3).peak, 0.001);
    EXPECT_EQ(window.Command("tone 0"), "ok");

    // After a stop the stream opens anew.
    ASSERT_EQ(window.Command("tone 600"), "ok");
    EXPECT_NEAR(Listen(0.3).hz, 600, 10);
    EXPECT_EQ(window.Command("sync"), "ok");
}

TEST(ToneTest, RefusesBadFrequencies) {
    TestWindowProcess window;
    for (const char* text : {"tone", "tone abc", "tone -5", "tone 24000", "tone 440x"})
        EXPECT_EQ(window.Command(text).rfind("error bad frequency", 0), 0u) << text;
}

TEST(ToneTest, WithoutSoundServerSaysSoAndEverythingElseWorks) {
    const std::string server = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/native", 1);
    TestWindowProcess window;
    if (server.empty())
        unsetenv("PULSE_SERVER");
    else
        setenv("PULSE_SERVER", server.c_str(), 1);
    EXPECT_EQ(window.Command("tone 440"), "error no sound server");
    EXPECT_EQ(window.Command("tone 0"), "ok");
    EXPECT_NE(window.Create("main 100 100 0 0 ff0000"), 0u);
    EXPECT_EQ(window.Command("tone 440"), "error no sound server");
    EXPECT_EQ(window.Command("sync"), "ok");
}

} // namespace
