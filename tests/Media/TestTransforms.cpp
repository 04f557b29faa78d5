#include "TestTransforms.h"

#include <mferror.h>
#include <mfidl.h>

#include <cstring>

namespace {

std::atomic<std::int64_t> g_liveSamples{0};

// Counts a tracked sample out when its last reference goes, and lets it be freed.
class SampleCounter final : public ComObject<IMFAsyncCallback> {
public:
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult*) override {
        --g_liveSamples;
        return S_OK;
    }
};

} // namespace

std::int64_t LiveSamples() { return g_liveSamples.load(); }

std::vector<BYTE> SampleBytes(IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer)) || FAILED(buffer->Lock(&data, nullptr, &length)))
        return {};
    std::vector<BYTE> bytes(data, data + length);
    buffer->Unlock();
    return bytes;
}

ComPtr<IMFSample> MakeSample(const std::vector<BYTE>& bytes, LONGLONG time, LONGLONG duration) {
    static const ComPtr<SampleCounter> counter = MakeComObject<SampleCounter>();
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFTrackedSample> tracked;
    BYTE* data = nullptr;
    if (FAILED(MFCreateVideoSampleFromSurface(nullptr, &sample)) ||
        FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(bytes.size()), &buffer)) ||
        FAILED(buffer->Lock(&data, nullptr, nullptr)))
        return nullptr;
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(time);
    sample->SetSampleDuration(duration);
    sample->QueryInterface(IID_PPV_ARGS(&tracked));
    tracked->SetAllocator(counter.Get(), nullptr);
    ++g_liveSamples;
    return sample;
}

ComPtr<IMFSample> AddToEveryByte(IMFSample* input, BYTE add) {
    std::vector<BYTE> bytes = SampleBytes(input);
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(byte + add);
    LONGLONG time = 0;
    LONGLONG duration = 0;
    input->GetSampleTime(&time);
    input->GetSampleDuration(&duration);
    return MakeSample(bytes, time, duration);
}

HRESULT SyncTestTransform::ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) {
    const Guard guard(*this, "ProcessMessage");
    if (message == MFT_MESSAGE_COMMAND_FLUSH)
        m_output = nullptr;
    return S_OK;
}

HRESULT SyncTestTransform::ProcessInput(DWORD, IMFSample* sample, DWORD) {
    const Guard guard(*this, "ProcessInput");
    if (m_output)
        return MF_E_NOTACCEPTING;
    const HRESULT hr = CountInput();
    if (FAILED(hr))
        return hr;
    m_output = Process(sample);
    return S_OK;
}

HRESULT SyncTestTransform::ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) {
    const Guard guard(*this, "ProcessOutput");
    if (count != 1 || buffers == nullptr || status == nullptr)
        return E_INVALIDARG;
    *status = 0;
    if (!m_output)
        return MF_E_TRANSFORM_NEED_MORE_INPUT;
    buffers[0].pSample = m_output.Detach();
    buffers[0].dwStatus = 0;
    return S_OK;
}

AsyncTestTransform::AsyncTestTransform(TestTransformOptions options) : TestTransformBase(options) {
    MFCreateAttributes(&m_attributes, 2);
    m_attributes->SetUINT32(MF_TRANSFORM_ASYNC, TRUE);
    MFCreateEventQueue(&m_events);
    m_worker = std::thread([this] { Work(); });
}

AsyncTestTransform::~AsyncTestTransform() { Shutdown(); }

void AsyncTestTransform::Shutdown() {
    std::deque<ComPtr<IMFSample>> inputs;
    std::deque<ComPtr<IMFSample>> outputs;
    {
        std::lock_guard lock(m_workMutex);
        m_stop = true;
        inputs.swap(m_inputs);
        outputs.swap(m_outputs);
    }
    m_workReady.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    m_events->Shutdown();
}

std::size_t AsyncTestTransform::Held() const {
    std::lock_guard lock(m_workMutex);
    return m_inputs.size() + m_outputs.size();
}

bool AsyncTestTransform::Unlocked() const {
    return MFGetAttributeUINT32(m_attributes.Get(), MF_TRANSFORM_ASYNC_UNLOCK, 0) != 0;
}

HRESULT AsyncTestTransform::GetAttributes(IMFAttributes** attributes) {
    const Guard guard(*this, "GetAttributes");
    return m_attributes.CopyTo(attributes);
}

void AsyncTestTransform::AskForInput() {
    ++m_needInput;
    m_events->QueueEventParamVar(METransformNeedInput, GUID_NULL, S_OK, nullptr);
}

HRESULT AsyncTestTransform::ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) {
    const Guard guard(*this, "ProcessMessage");
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    std::lock_guard lock(m_workMutex);
    if (message == MFT_MESSAGE_NOTIFY_START_OF_STREAM)
        AskForInput();
    if (message == MFT_MESSAGE_COMMAND_FLUSH) {
        m_inputs.clear();
        m_outputs.clear();
    }
    return S_OK;
}

HRESULT AsyncTestTransform::ProcessInput(DWORD, IMFSample* sample, DWORD) {
    const Guard guard(*this, "ProcessInput");
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    {
        std::lock_guard lock(m_workMutex);
        if (m_needInput == 0)
            return MF_E_NOTACCEPTING;
        --m_needInput;
        m_inputs.emplace_back(sample);
    }
    m_workReady.notify_one();
    return S_OK;
}

HRESULT AsyncTestTransform::ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                          DWORD* status) {
    const Guard guard(*this, "ProcessOutput");
    if (!Unlocked())
        return MF_E_TRANSFORM_ASYNC_LOCKED;
    if (count != 1 || buffers == nullptr || status == nullptr)
        return E_INVALIDARG;
    *status = 0;
    std::lock_guard lock(m_workMutex);
    if (m_outputs.empty())
        return MF_E_TRANSFORM_NEED_MORE_INPUT;
    buffers[0].pSample = m_outputs.front().Detach();
    buffers[0].dwStatus = 0;
    m_outputs.pop_front();
    return S_OK;
}

void AsyncTestTransform::Work() {
    std::unique_lock lock(m_workMutex);
    for (;;) {
        m_workReady.wait(lock, [&] { return m_stop || !m_inputs.empty(); });
        if (m_stop)
            return;
        ComPtr<IMFSample> input = std::move(m_inputs.front());
        m_inputs.pop_front();
        lock.unlock();
        const HRESULT hr = CountInput();
        ComPtr<IMFSample> output = SUCCEEDED(hr) ? Process(input.Get()) : nullptr;
        input = nullptr;
        lock.lock();
        if (m_stop)
            return;
        if (FAILED(hr)) {
            m_events->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr);
            continue;
        }
        m_outputs.push_back(std::move(output));
        m_events->QueueEventParamVar(METransformHaveOutput, GUID_NULL, S_OK, nullptr);
        AskForInput();
    }
}

HRESULT AsyncTestTransform::GetEvent(DWORD flags, IMFMediaEvent** event) {
    return m_events->GetEvent(flags, event);
}

HRESULT AsyncTestTransform::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    return m_events->BeginGetEvent(callback, state);
}

HRESULT AsyncTestTransform::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    return m_events->EndGetEvent(result, event);
}

HRESULT AsyncTestTransform::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                       const PROPVARIANT* value) {
    return m_events->QueueEventParamVar(type, extendedType, status, value);
}
