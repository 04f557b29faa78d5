#pragma once
// Desktop duplication of one monitor: the monitor's area of the root window, grabbed into one desktop texture
// that every acquired frame hands out again. Access is lost when the monitor's area changes.

#include "Texture2D.h"
#include <d3d11.h>
#include <wrl/implements.h>

#include <memory>
#include <mutex>

namespace x11 {
class ScreenSource;
}

class OutputDuplication final : public ComObject<IDXGIOutputDuplication> {
public:
    // DXGI_ERROR_UNSUPPORTED when the display cannot be captured, DXGI_ERROR_NOT_FOUND when the monitor is
    // gone.
    static HRESULT Create(ID3D11Device* device, ComPtr<IDXGIOutput> output, const DXGI_OUTPUT_DESC& desc,
                          ComPtr<IDXGIOutputDuplication>& duplication);
    ~OutputDuplication() override;

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT timeoutInMilliseconds, DXGI_OUTDUPL_FRAME_INFO* frameInfo,
                                               IDXGIResource** desktopResource) override;
    HRESULT STDMETHODCALLTYPE ReleaseFrame() override;

private:
    OutputDuplication(ComPtr<IDXGIOutput> output, std::unique_ptr<x11::ScreenSource> source,
                      ComPtr<Texture2D> image);
    HRESULT WaitForImage(UINT timeoutInMilliseconds);

    ComPtr<IDXGIOutput> m_output;
    std::unique_ptr<x11::ScreenSource> m_source;
    ComPtr<Texture2D> m_image;
    std::mutex m_mutex;
    bool m_frameAcquired = false;
    bool m_accessLost = false;
    bool m_firstImageGiven = false;
};
