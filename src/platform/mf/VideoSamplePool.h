#pragma once
// Output samples of one picture format that come back when their last holder lets go, so steady streaming
// allocates no pictures. With a device the samples wrap textures of it; without one, memory buffers.

#include "VideoPicture.h"
#include <d3d11.h>
#include <mfobjects.h>
#include <wrl/implements.h>

#include <mutex>
#include <vector>

class VideoSamplePool final : public ComObject<IMFAsyncCallback> {
public:
    VideoSamplePool(ComPtr<ID3D11Device> device, const PictureFormat& format)
        : m_device(std::move(device)), m_format(format) {}

    // A free sample, or a new one when all are out. Its attributes, time and flags are the caller's to set.
    HRESULT Allocate(ComPtr<IMFSample>& sample);
    // Samples that come back later are let go instead of kept.
    void Close();

    // IMFAsyncCallback: a sample came back.
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override;

private:
    HRESULT CreateSample(ComPtr<IMFSample>& sample);
    HRESULT Track(IMFSample* sample);

    const ComPtr<ID3D11Device> m_device;
    const PictureFormat m_format;
    std::mutex m_mutex;
    std::vector<ComPtr<IMFSample>> m_free;
    bool m_closed = false;
};
