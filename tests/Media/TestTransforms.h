#pragma once
// Small transforms that really process samples (every payload byte plus a constant), for driving a media
// session: one synchronous, one asynchronous that answers from its own thread as the hardware codec
// transforms do. Both record their calls and notice calls that overlap or come from more than one thread.

#include <mfobjects.h>
#include <mftransform.h>
#include <wrl/implements.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct TestTransformOptions {
    BYTE add = 1;
    // The input with this index fails with `failure` (counting from 0).
    unsigned failAtInput = ~0u;
    HRESULT failure = E_FAIL;
    std::chrono::milliseconds delay{0};
};

// Samples made by MakeSample (the tests' and the test transforms') that are still alive.
std::int64_t LiveSamples();

std::vector<BYTE> SampleBytes(IMFSample* sample);
ComPtr<IMFSample> MakeSample(const std::vector<BYTE>& bytes, LONGLONG time, LONGLONG duration);
// A new sample with every byte of `input` plus `add`, and its time and duration.
ComPtr<IMFSample> AddToEveryByte(IMFSample* input, BYTE add);

template <class... Extra>
class TestTransformBase : public ComObject<IMFTransform, Extra...> {
public:
    explicit TestTransformBase(TestTransformOptions options) : m_options(options) {}

    std::vector<std::string> Calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    unsigned Inputs() const { return m_inputs.load(); }
    bool Overlapped() const { return m_overlapped.load(); }
    std::size_t CallerThreads() const {
        std::lock_guard lock(m_mutex);
        return m_threads.size();
    }

    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* inMin, DWORD* inMax, DWORD* outMin,
                                              DWORD* outMax) override {
        const Guard guard(*this, "GetStreamLimits");
        *inMin = *inMax = *outMin = *outMax = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* inputs, DWORD* outputs) override {
        const Guard guard(*this, "GetStreamCount");
        *inputs = *outputs = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO* info) override {
        const Guard guard(*this, "GetInputStreamInfo");
        *info = MFT_INPUT_STREAM_INFO{};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD, MFT_OUTPUT_STREAM_INFO* info) override {
        const Guard guard(*this, "GetOutputStreamInfo");
        *info = MFT_OUTPUT_STREAM_INFO{MFT_OUTPUT_STREAM_PROVIDES_SAMPLES, 0, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD, DWORD, IMFMediaType**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD, IMFMediaType*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD, IMFMediaType*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }

protected:
    // Marks one IMFTransform call: records it, and notices overlap and a second calling thread.
    class Guard {
    public:
        Guard(TestTransformBase& owner, const char* name) : m_owner(owner) {
            if (m_owner.m_inside++ != 0)
                m_owner.m_overlapped = true;
            std::lock_guard lock(m_owner.m_mutex);
            m_owner.m_calls.push_back(name);
            m_owner.m_threads.insert(std::this_thread::get_id());
        }
        ~Guard() { --m_owner.m_inside; }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        TestTransformBase& m_owner;
    };

    // The next input's fate: the failure to return for it, S_OK to process it.
    HRESULT CountInput() { return m_inputs++ == m_options.failAtInput ? m_options.failure : S_OK; }
    ComPtr<IMFSample> Process(IMFSample* input) const {
        if (m_options.delay.count() > 0)
            std::this_thread::sleep_for(m_options.delay);
        return AddToEveryByte(input, m_options.add);
    }

    const TestTransformOptions m_options;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::set<std::thread::id> m_threads;
    std::atomic<int> m_inside{0};
    std::atomic<bool> m_overlapped{false};
    std::atomic<unsigned> m_inputs{0};
};

// Holds at most one output; takes the next input once it has been collected.
class SyncTestTransform final : public TestTransformBase<> {
public:
    explicit SyncTestTransform(TestTransformOptions options = {}) : TestTransformBase(options) {}

    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMFSample* sample, DWORD) override;
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                            DWORD* status) override;

private:
    ComPtr<IMFSample> m_output;
};

// Asks for one input at a time; its worker thread processes it, announces the output, then asks again.
// Until MF_TRANSFORM_ASYNC_UNLOCK is set every call answers MF_E_TRANSFORM_ASYNC_LOCKED. A failing input
// becomes an MEError event from the worker.
class AsyncTestTransform final : public TestTransformBase<IMFMediaEventGenerator> {
public:
    explicit AsyncTestTransform(TestTransformOptions options = {});
    ~AsyncTestTransform() override;

    // Stops the worker and the event queue and drops what it holds.
    void Shutdown();
    std::size_t Held() const;

    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** attributes) override;
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMFSample* sample, DWORD) override;
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                            DWORD* status) override;

    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) override;

private:
    bool Unlocked() const;
    void Work();
    void AskForInput();

    ComPtr<IMFAttributes> m_attributes;
    ComPtr<IMFMediaEventQueue> m_events;
    mutable std::mutex m_workMutex;
    std::condition_variable m_workReady;
    std::deque<ComPtr<IMFSample>> m_inputs;
    std::deque<ComPtr<IMFSample>> m_outputs;
    unsigned m_needInput = 0;
    bool m_stop = false;
    std::thread m_worker;
};
