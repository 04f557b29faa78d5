#include "D3DSampleAllocator.h"

#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <wrl/implements.h>

D3DSampleAllocator::D3DSampleAllocator(ID3D11Device* device) : m_device(device) {
    m_device->GetImmediateContext(&m_context);
    if (FAILED(m_context.As(&m_context1)))
        LogInfo("D3DSampleAllocator: no Direct3D 11.1 context, spare textures keep their pictures");
}

std::size_t D3DSampleAllocator::PoolSize() const {
    std::lock_guard lock(m_mutex);
    return m_pool.size();
}

HRESULT D3DSampleAllocator::Allocate(ID3D11Texture2D* sourceTexture, IMFSample** sample) {
    if (sourceTexture == nullptr || sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    PoolEntry entry;
    {
        std::lock_guard lock(m_mutex);
        // Last in, first out: the most recently used texture is the likeliest to be warm.
        if (!m_pool.empty()) {
            entry = std::move(m_pool.back());
            m_pool.pop_back();
        }
    }
    if (entry.sample) {
        // A frame's marks (a requested key frame above all) belong to that frame, not to the next one the
        // sample carries: a still window's frames would all become key frames.
        HRESULT hr = LogIfFailed(entry.sample->DeleteAllItems(), "hr = sample->DeleteAllItems()");
        if (FAILED(hr))
            return hr;
        ComPtr<IMFTrackedSample> trackedSample;
        hr = LogIfFailed(entry.sample->QueryInterface(IID_PPV_ARGS(&trackedSample)),
                         "hr = sample->QueryInterface<IMFTrackedSample>( &trackedSample )");
        if (SUCCEEDED(hr))
            LogIfFailed(trackedSample->SetAllocator(this, nullptr),
                        "trackedSample->SetAllocator( this, NULL )");
    } else {
        // Outside the lock: a half-made sample released on failure must not find it held.
        const HRESULT hr = AllocateNewSample(sourceTexture, &entry.texture, &entry.sample);
        if (FAILED(hr))
            return LogIfFailed(hr, "hr = AllocateNewSample( sourceTexture, &texture, &sample )");
    }
    *sample = ComPtr<IMFSample>(entry.sample).Detach();
    m_context->CopyResource(entry.texture.Get(), sourceTexture);
    return S_OK;
}

HRESULT D3DSampleAllocator::AllocateNewSample(ID3D11Texture2D* sourceTexture, ID3D11Texture2D** texture,
                                              IMFSample** sample) {
    D3D11_TEXTURE2D_DESC desc{};
    sourceTexture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> sampleTexture;
    HRESULT hr = LogIfFailed(m_device->CreateTexture2D(&desc, nullptr, &sampleTexture),
                             "hr = m_device->CreateTexture2D( &desc, NULL, &sampleTexture )");
    if (FAILED(hr))
        return hr;
    ComPtr<IMFSample> created;
    hr = LogIfFailed(MFCreateVideoSampleFromSurface(nullptr, &created),
                     "hr = MFCreateVideoSampleFromSurface( NULL, &sample )");
    // Tracked last, so a sample that fails half-way is simply freed.
    if (SUCCEEDED(hr))
        hr = WrapTexture(sampleTexture.Get(), created.Get());
    if (SUCCEEDED(hr))
        hr = LogIfFailed(TrackSample(created.Get()), "hr = TrackSample( sample )");
    if (FAILED(hr))
        return hr;
    *texture = sampleTexture.Detach();
    *sample = created.Detach();
    return S_OK;
}

HRESULT D3DSampleAllocator::TrackSample(IMFSample* sample) {
    ComPtr<IMFTrackedSample> trackedSample;
    const HRESULT hr = LogIfFailed(sample->QueryInterface(IID_PPV_ARGS(&trackedSample)),
                                   "hr = sample->QueryInterface<IMFTrackedSample>( &trackedSample )");
    if (FAILED(hr))
        return hr;
    // Without the allocator the sample still works; it just does not come back to the pool.
    LogIfFailed(trackedSample->SetAllocator(this, nullptr), "trackedSample->SetAllocator( this, NULL )");
    return S_OK;
}

HRESULT D3DSampleAllocator::WrapTexture(ID3D11Texture2D* sampleTexture, IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMF2DBuffer> buffer2D;
    DWORD length = 0;
    HRESULT hr =
        LogIfFailed(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), sampleTexture, 0, FALSE, &buffer),
                    "hr = MFCreateDXGISurfaceBuffer( __uuidof(ID3D11Texture2D), sampleTexture, 0, FALSE, "
                    "&buffer )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(buffer->QueryInterface(IID_PPV_ARGS(&buffer2D)),
                         "hr = buffer->QueryInterface<IMF2DBuffer>( &buffer2D )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(buffer2D->GetContiguousLength(&length),
                         "hr = buffer2D->GetContiguousLength( &length )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(buffer->SetCurrentLength(length), "hr = buffer->SetCurrentLength( length )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(sample->AddBuffer(buffer.Get()), "hr = sample->AddBuffer( buffer )");
    return hr;
}

HRESULT D3DSampleAllocator::Invoke(IMFAsyncResult* pAsyncResult) {
    ComPtr<IUnknown> unknown;
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFDXGIBuffer> dxgiBuffer;
    ComPtr<ID3D11Texture2D> texture;
    HRESULT hr = LogIfFailed(pAsyncResult->GetObject(&unknown), "hr = pAsyncResult->GetObject( &unknown )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(unknown->QueryInterface(IID_PPV_ARGS(&sample)),
                         "hr = unknown->QueryInterface<IMFSample>( &sample )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(sample->GetBufferByIndex(0, &buffer), "hr = sample->GetBufferByIndex( 0, &buffer )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(buffer->QueryInterface(IID_PPV_ARGS(&dxgiBuffer)),
                         "hr = buffer->QueryInterface<IMFDXGIBuffer>( &dxgiBuffer )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(dxgiBuffer->GetResource(IID_PPV_ARGS(&texture)),
                         "hr = dxgiBuffer->GetResource( IID_PPV_ARGS( &texture ) )");
    if (FAILED(hr))
        return hr;
    // The next Allocate overwrites it anyway; until then it neither holds memory nor takes a copy of its
    // source's bytes when the capture writes the source again.
    if (m_context1)
        m_context1->DiscardResource(texture.Get());
    return NoThrow([&] {
        std::lock_guard lock(m_mutex);
        m_pool.push_back({std::move(sample), std::move(texture)});
        return S_OK;
    });
}
