#pragma once
// The thread that fills a frame pool: it waits for changes of the window or monitor, grabs at most once per
// display refresh into a texture the pool lends it, and announces the frame. Its first frame comes at once.

#include "platform/x11/FrameSource.h"
#include <winrt/Windows.Graphics.Capture.h>

#include <atomic>
#include <functional>
#include <memory>

class FrameProducer {
public:
    struct Callbacks {
        // Lends a texture to write into; -1 when none is free.
        std::function<int(x11::FrameTarget& target)> beginWrite;
        // Returns it, finished or not (Failed); a finished frame is then announced.
        std::function<void(int index, x11::GrabResult result, SizeInt32 contentSize)> endWrite;
        // Once, when the window is destroyed or the monitor changed; no frame follows.
        std::function<void()> closed;
    };

    // Over the item's window or monitor. DXGI_ERROR_UNSUPPORTED without a capturable display; E_INVALIDARG
    // when the target no longer exists.
    static HRESULT Start(const GraphicsCaptureItem& item, std::shared_ptr<std::atomic<bool>> cursorEnabled,
                         Callbacks callbacks, std::unique_ptr<FrameProducer>& producer);
    // Over a source already open.
    static std::unique_ptr<FrameProducer> Start(std::unique_ptr<x11::FrameSource> source,
                                                std::shared_ptr<std::atomic<bool>> cursorEnabled,
                                                Callbacks callbacks);
    ~FrameProducer();
    FrameProducer(const FrameProducer&) = delete;
    FrameProducer& operator=(const FrameProducer&) = delete;

    // No callback runs once Stop returns, unless it is called from a callback itself.
    void Stop();
    // A texture came free.
    void Wake();

private:
    struct Work;
    explicit FrameProducer(std::shared_ptr<Work> work);
    std::shared_ptr<Work> m_work;
};
