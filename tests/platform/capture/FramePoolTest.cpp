// The frame pool and the thread that fills it, over a window of the test's own making: when frames are
// grabbed, into which texture, and how the capture ends.

#include "platform/capture/FramePoolState.h"
#include "platform/capture/FrameProducer.h"
#include <d3d11.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto RefreshInterval = std::chrono::nanoseconds(1000000000 / 60);

struct GrabRecord {
    int content;
    bool cursor;
    Clock::time_point time;
};

// What the test does to the window and what the capture did with it. Shared by the test and the source,
// which the producer owns.
struct SourceScript {
    std::mutex mutex;
    std::condition_variable progress;
    bool changed = false;
    bool woken = false;
    bool closed = false;
    int content = 0;
    int waits = 0;
    int waitsWhenTaken = 0; // at the wait that took the latest change
    std::vector<GrabRecord> grabs;
    std::size_t arrivals = 0;
    int closedCalls = 0;
    bool released = false;

    void Change() {
        std::lock_guard lock(mutex);
        ++content;
        changed = true;
        progress.notify_all();
    }
    void Close() {
        std::lock_guard lock(mutex);
        closed = true;
        progress.notify_all();
    }
    void Note(auto& count) {
        std::lock_guard lock(mutex);
        ++count;
        progress.notify_all();
    }
    // Generous: the machine may be busy with other builds.
    template <class Predicate>
    bool Await(Predicate done) {
        std::unique_lock lock(mutex);
        return progress.wait_for(lock, 10s, done);
    }
};

// A window that changes when the test says so and is destroyed when it says so, answering Closed from then on
// as a real one does.
class FakeSource final : public x11::FrameSource {
public:
    explicit FakeSource(std::shared_ptr<SourceScript> script) : m_script(std::move(script)) {}
    ~FakeSource() override {
        std::lock_guard lock(m_script->mutex);
        m_script->released = true;
        m_script->progress.notify_all();
    }

    std::uint32_t Width() const override { return 80; }
    std::uint32_t Height() const override { return 48; }

    x11::SourceEvent Wait(int timeoutMs) override {
        SourceScript& s = *m_script;
        std::unique_lock lock(s.mutex);
        ++s.waits;
        s.progress.notify_all();
        s.progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return s.closed || s.woken || s.changed; });
        if (s.closed)
            return x11::SourceEvent::Closed;
        if (s.woken) {
            s.woken = false;
            return x11::SourceEvent::Woken;
        }
        if (!s.changed)
            return x11::SourceEvent::Timeout;
        s.changed = false;
        s.waitsWhenTaken = s.waits;
        return x11::SourceEvent::Changed;
    }

    void Wake() override {
        std::lock_guard lock(m_script->mutex);
        m_script->woken = true;
        m_script->progress.notify_all();
    }

    x11::GrabResult Grab(const x11::FrameTarget& target, bool withCursor) override {
        std::lock_guard lock(m_script->mutex);
        m_script->grabs.push_back({m_script->content, withCursor, Clock::now()});
        m_script->progress.notify_all();
        return target.data != nullptr ? x11::GrabResult::Written : x11::GrabResult::Failed;
    }

private:
    std::shared_ptr<SourceScript> m_script;
};

class FramePoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ComPtr<ID3D11Device> device;
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                    D3D11_SDK_VERSION, &device, nullptr, nullptr),
                  S_OK);
        std::shared_ptr<FramePoolState> state;
        ASSERT_EQ(FramePoolState::Create(device.Get(), DirectXPixelFormat::B8G8R8A8UIntNormalized, 2,
                                         SizeInt32{64, 64}, state),
                  S_OK);
        auto owner = std::make_shared<FramePoolOwner>();
        owner->state = state;
        state->SetOwner(owner);
        m_state = state.get();
        m_pool = Direct3D11CaptureFramePool(std::move(owner));
        m_pool.FrameArrived([script = m_script](const auto&) { script->Note(script->arrivals); });
    }

    std::size_t Arrivals() {
        std::lock_guard lock(m_script->mutex);
        return m_script->arrivals;
    }
    bool AwaitArrivals(std::size_t count) {
        return m_script->Await([&] { return m_script->arrivals == count; });
    }
    // Announces a change and waits for its frame.
    void ChangeAndAwaitFrame() {
        const std::size_t before = Arrivals();
        m_script->Change();
        ASSERT_TRUE(AwaitArrivals(before + 1));
    }
    Direct3D11CaptureFrame NextFrame() {
        Direct3D11CaptureFrame frame;
        EXPECT_EQ(m_pool.TryGetNextFrame(&frame), S_OK);
        return frame;
    }

    std::shared_ptr<SourceScript> m_script = std::make_shared<SourceScript>();
    std::shared_ptr<std::atomic<bool>> m_cursor = std::make_shared<std::atomic<bool>>(true);
    FramePoolState* m_state = nullptr;
    Direct3D11CaptureFramePool m_pool;
};

TEST_F(FramePoolTest, FramesFollowChangesAtMostOncePerRefreshAndWaitForAFreeTexture) {
    ASSERT_EQ(m_state->StartProducing(nullptr, m_cursor, std::make_unique<FakeSource>(m_script)), S_OK);

    // The first frame comes without any change, cut to the texture; it tells the content's own size.
    ASSERT_TRUE(AwaitArrivals(1));
    Direct3D11CaptureFrame first = NextFrame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.ContentSize().Width, 80);
    EXPECT_EQ(first.ContentSize().Height, 48);
    first.Close();
    // Without changes nothing more is grabbed: repeating the image is the capture's business.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Arrivals(), 1u);

    // A burst of changes, faster than the display refreshes, with the pointer switched off.
    m_cursor->store(false);
    for (int i = 0; i < 150; ++i) {
        m_script->Change();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(m_script->Await([&] {
        return m_script->grabs.back().content == m_script->content &&
               m_script->arrivals == m_script->grabs.size();
    }));
    {
        std::lock_guard lock(m_script->mutex);
        const std::vector<GrabRecord> burst(m_script->grabs.begin() + 1, m_script->grabs.end());
        ASSERT_FALSE(burst.empty());
        // After a frame that came late the next may come sooner, but never more than one per refresh over
        // all.
        EXPECT_LE(burst.size(), (burst.back().time - burst.front().time) / RefreshInterval + 2);
        for (const GrabRecord& grab : burst)
            EXPECT_FALSE(grab.cursor);
    }
    while (NextFrame())
        ;

    // Two textures: one held, the next frame lands in the other, and a frame nobody took yet gives way.
    ChangeAndAwaitFrame();
    Direct3D11CaptureFrame held = NextFrame();
    ASSERT_TRUE(held);
    ChangeAndAwaitFrame();
    ChangeAndAwaitFrame();
    Direct3D11CaptureFrame newest = NextFrame();
    ASSERT_TRUE(newest);
    EXPECT_GT(newest.SystemRelativeTime(), held.SystemRelativeTime());
    EXPECT_FALSE(NextFrame());

    // Both held: a change finds no texture, and the producer waits on without grabbing (two waits after the
    // change it has looked for a texture at least once); once one comes free the frame follows by itself.
    const std::size_t arrivals = Arrivals();
    m_script->Change();
    ASSERT_TRUE(m_script->Await(
        [&] { return !m_script->changed && m_script->waits >= m_script->waitsWhenTaken + 2; }));
    EXPECT_EQ(Arrivals(), arrivals);
    {
        std::lock_guard lock(m_script->mutex);
        EXPECT_EQ(m_script->grabs.size(), arrivals);
    }
    held.Close();
    ASSERT_TRUE(AwaitArrivals(arrivals + 1));
    EXPECT_GT(NextFrame().SystemRelativeTime(), newest.SystemRelativeTime());
}

TEST_F(FramePoolTest, ClosingThePoolFromAFrameHandlerEndsTheCaptureAndLetsTheSourceGo) {
    ASSERT_EQ(m_state->StartProducing(nullptr, m_cursor, std::make_unique<FakeSource>(m_script)), S_OK);
    ASSERT_TRUE(AwaitArrivals(1));
    std::atomic<int> handled{0};
    m_pool.FrameArrived([&](const Direct3D11CaptureFramePool& sender) {
        sender.Close();
        ++handled;
    });
    m_script->Change();
    ASSERT_TRUE(m_script->Await([&] { return m_script->released; }));
    EXPECT_EQ(handled.load(), 1);
    Direct3D11CaptureFrame frame;
    EXPECT_EQ(m_pool.TryGetNextFrame(&frame), RO_E_CLOSED);
}

TEST(FrameProducerTest, AClosedSourceIsAnnouncedOnceAndNotWaitedOnAgain) {
    auto script = std::make_shared<SourceScript>();
    std::vector<std::byte> pixels(64 * 48 * 4);
    FrameProducer::Callbacks callbacks;
    callbacks.beginWrite = [&](x11::FrameTarget& target) {
        target = x11::FrameTarget{pixels.data(), 64 * 4, 64, 48};
        return 0;
    };
    callbacks.endWrite = [](int, x11::GrabResult, SizeInt32) {
    };
    callbacks.closed = [&] {
        script->Note(script->closedCalls);
    };
    auto producer = FrameProducer::Start(std::make_unique<FakeSource>(script),
                                         std::make_shared<std::atomic<bool>>(true), callbacks);
    ASSERT_TRUE(script->Await([&] { return script->grabs.size() == 1; }));

    script->Close();
    ASSERT_TRUE(script->Await([&] { return script->closedCalls > 0; }));
    int waits = 0;
    {
        std::lock_guard lock(script->mutex);
        waits = script->waits;
    }
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(script->mutex);
    EXPECT_EQ(script->closedCalls, 1);
    EXPECT_EQ(script->waits, waits);
    EXPECT_EQ(script->grabs.size(), 1u);
}

} // namespace
