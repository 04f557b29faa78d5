#pragma once
// One transform of a session branch. A synchronous transform takes input whenever its output has been
// drained; an asynchronous one takes one input per METransformNeedInput and gives one output per
// METransformHaveOutput. Samples waiting to enter the transform queue here, and the branch asks its source
// for more only once every such queue is empty, so a slow transform never builds a backlog.

#include <mfidl.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <deque>

class TransformStage {
public:
    explicit TransformStage(ComPtr<IMFTransform> transform) : m_transform(std::move(transform)) {}

    // Reads MF_TRANSFORM_ASYNC and unlocks an asynchronous transform.
    HRESULT Prepare();
    bool IsAsync() const { return m_async; }
    IMFTransform* Transform() const { return m_transform.Get(); }

    // Begins streaming (again after a stop) and starts the stream.
    HRESULT Start();
    // As the Windows session does at a stop: flushes the transform, tells it that its input stream has ended
    // and that streaming ends, and forgets the queued input and the pending requests.
    HRESULT Stop();
    // As the Windows session does when it is shut down: an asynchronous transform is shut down through
    // IMFShutdown before its last release. Once only.
    void Shutdown();

    void OnNeedInput() { ++m_needInput; }
    void OnHaveOutput() { ++m_haveOutput; }

    std::deque<ComPtr<IMFSample>>& Input() { return m_input; }
    bool CanTakeInput() const { return !m_async || m_needInput > 0; }

    // Feeds queued input and collects output into `output`; `progressed` tells whether anything moved.
    HRESULT Step(std::deque<ComPtr<IMFSample>>& output, bool& progressed);

private:
    HRESULT FeedOne();
    // One ProcessOutput call; `sample` stays null when the transform had nothing.
    HRESULT PullOne(ComPtr<IMFSample>& sample);
    // Drains a synchronous transform until it needs more input.
    HRESULT Drain(std::deque<ComPtr<IMFSample>>& output, bool& progressed);
    HRESULT AllocateOutputSample(const MFT_OUTPUT_STREAM_INFO& info, ComPtr<IMFSample>& sample);
    HRESULT AdoptNewOutputType();

    const ComPtr<IMFTransform> m_transform;
    bool m_async = false;
    bool m_streaming = false;
    bool m_shutDown = false;
    unsigned m_needInput = 0;
    unsigned m_haveOutput = 0;
    std::deque<ComPtr<IMFSample>> m_input;
};
