#pragma once
// Turns captured textures into video samples the session can carry: each frame is copied into a texture of
// the allocator's pool and handed out in a tracked sample, which comes back to the pool when its last holder
// releases it. Steady-state capture allocates nothing; the pool grows whenever it is empty. A texture back in
// the pool discards its picture, so the pool's spare textures, grown while the encoder lagged, cost no
// memory.

#include <d3d11_1.h>
#include <mfidl.h>
#include <wrl/implements.h>

#include <mutex>
#include <vector>

class D3DSampleAllocator final : public ComObject<IMFAsyncCallback> {
public:
    explicit D3DSampleAllocator(ID3D11Device* device);

    // A sample whose single buffer wraps a pool texture holding a copy of `sourceTexture`. The caller holds
    // the device's multithread lock.
    HRESULT Allocate(ID3D11Texture2D* sourceTexture, IMFSample** sample);

    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return NotImplemented(); }
    // A tracked sample was released by its last holder: back into the pool.
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* pAsyncResult) override;

    std::size_t PoolSize() const;

private:
    struct PoolEntry {
        ComPtr<IMFSample> sample;
        ComPtr<ID3D11Texture2D> texture;
    };

    HRESULT AllocateNewSample(ID3D11Texture2D* sourceTexture, ID3D11Texture2D** texture, IMFSample** sample);
    HRESULT TrackSample(IMFSample* sample);
    HRESULT WrapTexture(ID3D11Texture2D* sampleTexture, IMFSample* sample);

    const ComPtr<ID3D11Device> m_device;
    ComPtr<ID3D11DeviceContext> m_context;
    ComPtr<ID3D11DeviceContext1> m_context1; // null where the device has no 11.1 context
    mutable std::mutex m_mutex;
    std::vector<PoolEntry> m_pool;
};
