// CaptureSource: the capture thread's lifetime when the owner's callbacks stop the source.

#include "Capture/CaptureSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Delivers a frame on its capture thread and one on a second thread, as a frame pool does; then runs until
// stopped and takes a while to end.
class TwoThreadSource final : public CaptureSource {
public:
    using CaptureSource::CaptureSource;
    ~TwoThreadSource() override {
        m_stop.exchange(true);
        JoinCaptureThread();
    }

    bool Ended() const { return m_ended.load(); }

protected:
    void Run() override {
        DeliverFrame(nullptr);
        std::thread pool([this] { DeliverFrame(nullptr); });
        pool.join();
        while (!m_stop.load())
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms);
        m_ended = true;
    }

private:
    std::atomic<bool> m_ended{false};
};

TEST(CaptureSourceTest, StopFromTheSourcesOwnCallbacksLeavesTheJoinToTheOwner) {
    std::atomic<int> calls{0};
    TwoThreadSource* self = nullptr;
    CaptureSettings settings;
    // Neither the capture thread nor the pool's may wait for the capture thread here.
    settings.frameCallback = [&](ID3D11Texture2D*, std::int64_t, std::int64_t) {
        ++calls;
        self->Stop();
    };
    TwoThreadSource source(settings);
    self = &source;
    source.Start();
    for (int i = 0; i < 500 && calls.load() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(calls.load(), 2);

    // The owner's Stop joins the thread the callbacks could not.
    source.Stop();
    EXPECT_TRUE(source.Ended());
    source.Stop();
    EXPECT_THROW(source.Start(), std::logic_error);
}

} // namespace
