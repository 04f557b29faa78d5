#include "SampleData.h"

#include <cstring>
#include <limits>

HRESULT CreateSampleWithData(const void* data, std::size_t size, ComPtr<IMFSample>& sample) {
    if (size > std::numeric_limits<DWORD>::max())
        return E_INVALIDARG;
    ComPtr<IMFSample> created;
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* target = nullptr;
    HRESULT hr = MFCreateSample(&created);
    if (SUCCEEDED(hr))
        hr = MFCreateMemoryBuffer(static_cast<DWORD>(size), &buffer);
    if (SUCCEEDED(hr))
        hr = buffer->Lock(&target, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    if (size > 0)
        std::memcpy(target, data, size);
    hr = buffer->Unlock();
    if (SUCCEEDED(hr))
        hr = buffer->SetCurrentLength(static_cast<DWORD>(size));
    if (SUCCEEDED(hr))
        hr = created->AddBuffer(buffer.Get());
    if (SUCCEEDED(hr))
        sample = std::move(created);
    return hr;
}

HRESULT SetSampleTiming(IMFSample* sample, LONGLONG time, LONGLONG duration) {
    HRESULT hr = sample->SetSampleTime(time);
    if (SUCCEEDED(hr) && duration >= 0)
        hr = sample->SetSampleDuration(duration);
    return hr;
}

SampleBytes::~SampleBytes() {
    if (m_data != nullptr)
        m_buffer->Unlock();
}

HRESULT SampleBytes::Lock(IMFSample* sample) {
    if (sample == nullptr)
        return E_POINTER;
    HRESULT hr = sample->ConvertToContiguousBuffer(&m_buffer);
    if (SUCCEEDED(hr))
        hr = m_buffer->Lock(&m_data, nullptr, &m_size);
    if (FAILED(hr)) {
        m_data = nullptr;
        m_size = 0;
    }
    return hr;
}
