#pragma once
// The live media source of a capture session: one MediaStream per elementary stream. The capture side queues
// samples into a stream, the media session requests them; the source keeps no history. Source-level commands
// run one at a time through the source's AsyncQueue. The source and its streams share one recursive lock.

#include "AsyncOp.h"
#include "AsyncQueue.h"
#include "EventGeneratorBase.h"
#include "MediaStream.h"
#include <mfidl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

enum class MediaSourceType : std::int32_t {
    // At most the newest sample waits in a stream between two requests.
    Server = 1,
};

class MediaSource final : public EventGeneratorBase<ComObject<IMFMediaSource>> {
public:
    using AsyncOpType = ::AsyncOpType;

    enum class State : std::int32_t {
        Uninitialized = 0,
        Stopped = 2,
        Paused = 3,
        Started = 4,
        Shutdown = 5,
    };

    // One stream per media type, in order, stream i with identifier i. `*source` stays null on failure.
    static HRESULT CreateInstance(MediaSourceType type, int count, IMFMediaType** mediaTypes,
                                  MediaSource** source);

    // Stream `index` with a reference added; E_INVALIDARG past the last stream, MF_E_SHUTDOWN after shutdown.
    HRESULT GetStream(DWORD index, MediaStream** stream);

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;

    // IMFMediaSource
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) override;
    HRESULT STDMETHODCALLTYPE
    CreatePresentationDescriptor(IMFPresentationDescriptor** ppPresentationDescriptor) override;
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* pPresentationDescriptor,
                                    const GUID* pguidTimeFormat,
                                    const PROPVARIANT* pvarStartPosition) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;

    // For the streams, under the shared lock.
    HRESULT QueueAsyncOp(AsyncOpType type);
    MediaSourceType Type() const { return m_type; }
    const std::shared_ptr<std::recursive_mutex>& SharedLock() const { return m_lock; }
    State CurrentState() const;

private:
    explicit MediaSource(MediaSourceType type);
    ~MediaSource() override;

    HRESULT Initialize(int count, IMFMediaType** mediaTypes);
    bool IsShutdown() const override { return m_state == State::Shutdown; }
    HRESULT CheckInitialized() const;
    HRESULT QueueAsyncOp(const AsyncOp& op);

    // AsyncQueue callbacks.
    HRESULT ValidateOperation(AsyncOp& op);
    HRESULT DispatchOperation(AsyncOp& op);

    HRESULT BeginAsyncOp(AsyncOp& op);
    void CompleteAsyncOp();
    HRESULT DoStart(AsyncOp& op);
    HRESULT DoStop(AsyncOp& op);
    HRESULT DoPause(AsyncOp& op);
    // Stop and Pause: `change` on every active stream, then the state `next` and the `completion` event.
    HRESULT LeaveStarted(AsyncOp& op, HRESULT (MediaStream::*change)(), const char* changeText, State next,
                         MediaEventType completion);
    HRESULT DoEndOfStream(AsyncOp& op);
    HRESULT SelectStreams(IMFPresentationDescriptor* presentDesc, const PROPVARIANT& propVar);
    HRESULT ValidatePresentationDescriptor(IMFPresentationDescriptor* presentDesc);

    State m_state = State::Uninitialized;
    ComPtr<IMFPresentationDescriptor> m_presentDesc;
    ComPtr<AsyncQueue<AsyncOp, MediaSource>> m_asyncQueue;
    std::vector<ComPtr<MediaStream>> m_streams;
    AsyncOp* m_currentOp = nullptr;
    std::int32_t m_pendingEos = 0;
    const MediaSourceType m_type;
};
