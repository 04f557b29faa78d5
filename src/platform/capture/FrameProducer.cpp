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

} // namespace

struct FrameProducer::Work {
    std::unique_ptr<x11::FrameSource> source;
    std::shared_ptr<std::atomic<bool>> cursorEnabled;
    Callbacks callbacks;
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
            switch (source->Wait(timeoutMs)) {
            case x11::SourceEvent::Changed:
                pending = true;
                break;
            // A source that closed says so at every wait from then on; nothing more can come of it.
            case x11::SourceEvent::Closed:
            case x11::SourceEvent::LayoutChanged:
                callbacks.closed();
                return;
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
        const x11::GrabResult result = source->Grab(target, cursorEnabled->load());
        // The content's own size, also where the texture cut it: a capture learns of a resize from it.
        callbacks.endWrite(index, result,
                           SizeInt32{static_cast<std::int32_t>(source->Width()),
                                     static_cast<std::int32_t>(source->Height())});
        return true;
    }
};

HRESULT FrameProducer::Start(const GraphicsCaptureItem& item,
                             std::shared_ptr<std::atomic<bool>> cursorEnabled, Callbacks callbacks,
                             std::unique_ptr<FrameProducer>& producer) {
    producer.reset();
    std::unique_ptr<x11::FrameSource> source;
    if (item.IsWindow())
        source = x11::WindowSource::Open(item.TargetId());
    else
        source = x11::ScreenSource::Open(item.TargetId());
    if (!source)
        return x11::QueryCaptureExtensions().AllPresent() ? E_INVALIDARG : DXGI_ERROR_UNSUPPORTED;
    producer = Start(std::move(source), std::move(cursorEnabled), std::move(callbacks));
    return S_OK;
}

std::unique_ptr<FrameProducer> FrameProducer::Start(std::unique_ptr<x11::FrameSource> source,
                                                    std::shared_ptr<std::atomic<bool>> cursorEnabled,
                                                    Callbacks callbacks) {
    auto work = std::make_shared<Work>();
    work->source = std::move(source);
    work->cursorEnabled = std::move(cursorEnabled);
    work->callbacks = std::move(callbacks);
    work->thread = std::thread([work] { work->Run(); });
    return std::unique_ptr<FrameProducer>(new FrameProducer(std::move(work)));
}

FrameProducer::FrameProducer(std::shared_ptr<Work> work) : m_work(std::move(work)) {}

FrameProducer::~FrameProducer() { Stop(); }

void FrameProducer::Stop() {
    m_work->stop.store(true);
    m_work->source->Wake();
    if (!m_work->thread.joinable())
        return;
    // From its own callback the thread cannot be joined; it ends by itself, keeping its work alive.
    if (m_work->thread.get_id() == std::this_thread::get_id())
        m_work->thread.detach();
    else
        m_work->thread.join();
}

void FrameProducer::Wake() { m_work->source->Wake(); }
