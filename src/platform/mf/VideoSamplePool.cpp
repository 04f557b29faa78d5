#include "VideoSamplePool.h"

#include <mfapi.h>

HRESULT VideoSamplePool::Allocate(ComPtr<IMFSample>& sample) {
    sample = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_free.empty()) {
            sample = std::move(m_free.back());
            m_free.pop_back();
        }
    }
    HRESULT hr = sample ? S_OK : CreateSample(sample);
    if (SUCCEEDED(hr))
        hr = Track(sample.Get());
    if (SUCCEEDED(hr))
        hr = sample->DeleteAllItems();
    if (FAILED(hr))
        sample = nullptr;
    return hr;
}

void VideoSamplePool::Close() {
    std::vector<ComPtr<IMFSample>> released;
    std::lock_guard lock(m_mutex);
    m_closed = true;
    released.swap(m_free);
}

HRESULT VideoSamplePool::Invoke(IMFAsyncResult* result) {
    if (result == nullptr)
        return E_POINTER;
    ComPtr<IUnknown> object;
    HRESULT hr = result->GetObject(&object);
    ComPtr<IMFSample> sample;
    if (SUCCEEDED(hr))
        hr = object->QueryInterface(&sample);
    if (FAILED(hr))
        return hr;
    std::lock_guard lock(m_mutex);
    if (!m_closed)
        m_free.push_back(std::move(sample));
    return S_OK;
}

HRESULT VideoSamplePool::Track(IMFSample* sample) {
    ComPtr<IMFTrackedSample> tracked;
    HRESULT hr = sample->QueryInterface(&tracked);
    if (SUCCEEDED(hr))
        hr = tracked->SetAllocator(this, nullptr);
    return hr;
}

HRESULT VideoSamplePool::CreateSample(ComPtr<IMFSample>& sample) {
    const bool nv12 = m_format.subtype == MFVideoFormat_NV12;
    if (!m_device) {
        ComPtr<IMFMediaBuffer> buffer;
        HRESULT hr = MFCreateVideoSampleFromSurface(nullptr, &sample);
        if (SUCCEEDED(hr))
            hr = MFCreateAlignedMemoryBuffer(
                static_cast<DWORD>(m_format.Size(static_cast<LONG>(m_format.RowBytes()))),
                MF_64_BYTE_ALIGNMENT, &buffer);
        if (SUCCEEDED(hr))
            hr = sample->AddBuffer(buffer.Get());
        return hr;
    }
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = m_format.width;
    desc.Height = m_format.height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = nv12 ? DXGI_FORMAT_NV12 : DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    ComPtr<ID3D11Texture2D> texture;
    HRESULT hr = m_device->CreateTexture2D(&desc, nullptr, &texture);
    if (SUCCEEDED(hr))
        hr = MFCreateVideoSampleFromSurface(texture.Get(), &sample);
    return hr;
}
