#pragma once
// Small sample helpers the transforms share: samples made from bytes, and reading a sample's bytes.

#include <mfobjects.h>
#include <wrl/client.h>

#include <cstddef>
#include <vector>

// A new sample with one memory buffer holding a copy of the bytes.
HRESULT CreateSampleWithData(const void* data, std::size_t size, ComPtr<IMFSample>& sample);

// Time and duration, each set only when given (a negative duration means none).
HRESULT SetSampleTiming(IMFSample* sample, LONGLONG time, LONGLONG duration);

// The sample's bytes, locked for the lifetime of the object (buffers are joined when there are several).
class SampleBytes {
public:
    SampleBytes() = default;
    ~SampleBytes();
    SampleBytes(const SampleBytes&) = delete;
    SampleBytes& operator=(const SampleBytes&) = delete;

    HRESULT Lock(IMFSample* sample);
    const BYTE* Data() const { return m_data; }
    DWORD Size() const { return m_size; }

private:
    ComPtr<IMFMediaBuffer> m_buffer;
    BYTE* m_data = nullptr;
    DWORD m_size = 0;
};
