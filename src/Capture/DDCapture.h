#pragma once
// The capture source of a whole monitor through desktop duplication. The latest desktop image is kept in a
// cached texture and delivered at the frame rate whether or not the desktop changed.

#include "CaptureSource.h"

class DDCapture : public CaptureSource {
public:
    // Opens the duplication of the settings' monitor; throws ComException, or std::runtime_error
    // "Monitor not found".
    explicit DDCapture(const CaptureSettings& settings);
    ~DDCapture() override;

protected:
    void Run() override;

private:
    void Initialize();
    void ReleaseDuplication();
    void CaptureFrame();
    void CopyToCache(const ComPtr<IDXGIResource>& desktopResource);
    // Re-runs Initialize after access loss, up to five times.
    void Reinitialize();
    void CaptureLoop();

    ComPtr<IDXGIOutputDuplication> m_outputDuplication;
    ComPtr<ID3D11Texture2D> m_cachedTexture;
    bool m_cacheDelivered = false; // the cached image went out already
};
