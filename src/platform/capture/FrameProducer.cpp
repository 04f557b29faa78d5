#include "FrameProducer.h"

#include "platform/x11/CaptureExtensions.h"
#include "platform/x11/ScreenSource.h"
#include "platform/x11/WindowSource.h"
#include <dxgitype.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Frames are composed at most once per refresh of a 60 Hz display, as the desktop compositor does.
constexpr auto RefreshInterval = std::chrono::nanoseconds(1000000000 / 60);
// Waits are bounded so that a stop is never missed for long, even without a wake-up.
constexpr int IdleWaitMs = 250;

// One window or one monitor, behind one face.
struct Source {
    std::unique_ptr<x11::WindowSource> window;
    std::unique_ptr<x11::ScreenSource> screen;

    x11::SourceEvent Wait(int timeoutMs) {
        return window ? window->Wait(timeoutMs) : screen->Wait(timeoutMs);
    }
    void Wake() { window ? window->Wake() : screen->Wake(); }
    x11::GrabResult Grab(const x11::FrameTarget& target, bool cursor) {
        return window ? window->Grab(target, cursor) : screen->Grab(target);
    }
    SizeInt32 Size() const {
        return window ? SizeInt32{std::int32_t(window->Width()), std::int32_t(window->Height())}
                      : SizeInt32{std::int32_t(screen->Width()), std::int32_t(screen->Height())};
    }
};

} // namespace

struct FrameProducer::Work {
    GraphicsCaptureItem item;
    std::shared_ptr<std::atomic<bool>> cursorEnabled;
    Callbacks callbacks;
    Source source;
    std::atomic<bool> stop{false};
    std::thread thread;

    void Run() {
        bool pending = true;
        auto next = Clock::now();
        while (!stop.load()) {
            int timeoutMs = IdleWaitMs;
            if (pending) {
                const auto now = Clock::now();
                if (now >= next) {
                    if (Produce()) {
                        pending = false;
                        next = std::max(next + RefreshInterval, now);
                    }
                } else {
                    timeoutMs =
                        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
                }
            }
            switch (source.Wait(timeoutMs)) {
            case x11::SourceEvent::Changed:
                pending = true;
                break;
            case x11::SourceEvent::Closed:
                item.NotifyClosed();
                pending = false;
                break;
            case x11::SourceEvent::Broken:
                return;
            default:
                break;
            }
        }
    }

    // True when the frame was written or cannot be (then only a change brings the next one).
    bool Produce() {
        x11::FrameTarget target;
        const int index = callbacks.beginWrite(target);
        if (index < 0)
            return false;
        const x11::GrabResult result = source.Grab(target, cursorEnabled->load());
        const SizeInt32 size = source.Size();
        callbacks.endWrite(index, result,
                           SizeInt32{std::min<std::int32_t>(size.Width, std::int32_t(target.width)),
                                     std::min<std::int32_t>(size.Height, std::int32_t(target.height))});
        return true;
    }
};

HRESULT FrameProducer::Start(const GraphicsCaptureItem& item,
                             std::shared_ptr<std::atomic<bool>> cursorEnabled, Callbacks callbacks,
                             std::unique_ptr<FrameProducer>& producer) {
    producer.reset();
    auto work = std::make_shared<Work>();
    if (item.IsWindow())
        work->source.window = x11::WindowSource::Open(item.TargetId());
    else
        work->source.screen = x11::ScreenSource::Open(item.TargetId());
    if (!work->source.window && !work->source.screen)
        return x11::QueryCaptureExtensions().AllPresent() ? E_INVALIDARG : DXGI_ERROR_UNSUPPORTED;
    work->item = item;
    work->cursorEnabled = std::move(cursorEnabled);
    work->callbacks = std::move(callbacks);
    work->thread = std::thread([work] { work->Run(); });
    producer.reset(new FrameProducer(std::move(work)));
    return S_OK;
}

FrameProducer::FrameProducer(std::shared_ptr<Work> work) : m_work(std::move(work)) {}

FrameProducer::~FrameProducer() { Stop(); }

void FrameProducer::Stop() {
    m_work->stop.store(true);
    m_work->source.Wake();
    if (!m_work->thread.joinable())
        return;
    // From its own callback the thread cannot be joined; it ends by itself, keeping its work alive.
    if (m_work->thread.get_id() == std::this_thread::get_id())
        m_work->thread.detach();
    else
        m_work->thread.join();
}

void FrameProducer::Wake() { m_work->source.Wake(); }
