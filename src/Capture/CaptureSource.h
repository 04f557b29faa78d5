#pragma once
// The producer of captured frames: owns the capture device, a capture thread and the frame pacer, and calls
// its owner back with each frame and when the captured size changes or the capture ends by itself.

#include "CaptureSettings.h"
#include "FramePacer.h"
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class CaptureSource {
public:
    // Creates the device for the settings' monitor with multithread protection on; throws ComException.
    explicit CaptureSource(const CaptureSettings& settings);
    virtual ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    // Sets the stop flag and joins the capture thread. From the source's own callbacks (or its capture
    // thread) it only sets the flag: such a thread cannot wait for the capture thread, which the owner's next
    // Stop or the destructor joins instead.
    virtual void Stop();

    // Launches the capture thread; once per source (std::logic_error on a second call).
    void Start();

    // A frame is wanted by this time of the capture clock (100-ns units) even if nothing changes, e.g. for
    // the next key frame; sources that repeat their latest image deliver it again by then. Any thread.
    virtual void DeliverBy(std::int64_t time) { m_deliverBy.store(time); }
    // Started, and neither stopped nor ended by itself.
    bool Running() const { return m_started.load() && !m_stop.load(); }

    ID3D11Device* Device() const { return m_device.Get(); }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    DXGI_MODE_ROTATION Rotation() const { return m_rotation; }
    // Frames delivered again because nothing new arrived.
    std::uint64_t FramesRepeated() const { return m_framesRepeated; }

protected:
    // The capture thread's body.
    virtual void Run() = 0;

    // Joins the thread; derived destructors call it before their members go. A source destroyed from its own
    // callbacks would return into freed memory, so that ends the process.
    void JoinCaptureThread();
    // True on the capture thread and inside this source's frame callback, wherever it runs.
    bool InOwnCallback() const;
    // Hands a frame to the owner under the device's multithread lock, with the time of the pacer's tick that
    // let it through; `repeat`: the one delivered last time.
    void DeliverFrame(ID3D11Texture2D* texture, bool repeat = false);

    // Holds the device's multithread lock for a scope, however the scope ends.
    class DeviceLock {
    public:
        explicit DeviceLock(ID3D11Multithread* multithread) : m_multithread(multithread) {
            m_multithread->Enter();
        }
        ~DeviceLock() { m_multithread->Leave(); }
        DeviceLock(const DeviceLock&) = delete;
        DeviceLock& operator=(const DeviceLock&) = delete;

    private:
        ID3D11Multithread* m_multithread;
    };

    FrameCallback m_frameCallback;
    SizeChangeCallback m_sizeChangeCallback;
    HMONITOR m_hmon;
    HWND m_hwnd;
    std::int32_t m_frameRate;
    std::uint8_t m_hideCursor;
    std::uint8_t m_noBorder;
    ComPtr<ID3D11Device> m_device;
    ComPtr<ID3D11DeviceContext> m_context;
    ComPtr<ID3D11Multithread> m_multithread;
    FramePacer m_pacer;
    DXGI_MODE_ROTATION m_rotation = DXGI_MODE_ROTATION_IDENTITY;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_deliverBy{INT64_MAX};

private:
    std::atomic<std::uint64_t> m_framesRepeated{0};
    std::atomic<bool> m_started{false};
    // Start, Stop and the destructor may come from different threads.
    std::mutex m_threadMutex;
    std::thread m_thread;
};
