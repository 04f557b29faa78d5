#include "DDCapture.h"

#include "Util/ComException.h"
#include "Util/ErrorSink.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <processthreadsapi.h>

#include <stdexcept>

namespace {

constexpr int ReinitializeAttempts = 5;
constexpr DWORD ReinitializeDelayMs = 500;
constexpr char CaptureFailedText[] = "Failed to capture frame from Desktop Duplication";

} // namespace

DDCapture::DDCapture(const CaptureSettings& settings) : CaptureSource(settings) { Initialize(); }

DDCapture::~DDCapture() {
    m_stop.exchange(true);
    JoinCaptureThread();
}

void DDCapture::ReleaseDuplication() {
    if (!m_outputDuplication)
        return;
    m_outputDuplication->ReleaseFrame();
    m_outputDuplication = nullptr;
}

void DDCapture::Initialize() {
    LogInfo("DDCapture - Initializing");
    ReleaseDuplication();
    const std::int32_t previousWidth = m_width;
    const std::int32_t previousHeight = m_height;

    ComPtr<IDXGIDevice> dxgiDevice;
    ThrowIfFailed(m_device->QueryInterface(IID_PPV_ARGS(&dxgiDevice)), "m_device.As( &dxgiDevice )");
    ComPtr<IDXGIAdapter> dxgiAdapter;
    ThrowIfFailed(dxgiDevice->GetParent(IID_PPV_ARGS(&dxgiAdapter)),
                  "dxgiDevice->GetParent( IID_PPV_ARGS( &dxgiAdapter ) )");
    ComPtr<IDXGIOutput1> dxgiOutput1;
    ComPtr<IDXGIOutput> dxgiOutput;
    for (UINT index = 0; SUCCEEDED(dxgiAdapter->EnumOutputs(index, &dxgiOutput)); ++index) {
        DXGI_OUTPUT_DESC desc{};
        if (FAILED(dxgiOutput->GetDesc(&desc)) || desc.Monitor != m_hmon)
            continue;
        ThrowIfFailed(dxgiOutput->QueryInterface(IID_PPV_ARGS(&dxgiOutput1)),
                      "dxgiOutput.As( &dxgiOutput1 )");
        m_width = desc.DesktopCoordinates.right - desc.DesktopCoordinates.left;
        m_height = desc.DesktopCoordinates.bottom - desc.DesktopCoordinates.top;
        m_rotation = desc.Rotation;
        break;
    }
    if (!dxgiOutput1)
        throw std::runtime_error("Monitor not found");

    if ((previousWidth != 0 || previousHeight != 0) &&
        (previousWidth != m_width || previousHeight != m_height)) {
        ReleaseDuplication();
        if (m_sizeChangeCallback)
            m_sizeChangeCallback(m_width, m_height);
        LogInfo("DDCapture - Stopping capture thread from resolution change");
        m_stop.exchange(true);
        return;
    }
    ThrowIfFailed(dxgiOutput1->DuplicateOutput(m_device.Get(), &m_outputDuplication),
                  "dxgiOutput1->DuplicateOutput( m_device.Get(), &m_outputDuplication )");
}

void DDCapture::CopyToCache(const ComPtr<IDXGIResource>& desktopResource) {
    ComPtr<ID3D11Texture2D> texture;
    ThrowIfFailed(desktopResource->QueryInterface(IID_PPV_ARGS(&texture)), "desktopResource.As( &texture )");
    if (!m_cachedTexture) {
        D3D11_TEXTURE2D_DESC desc{};
        texture->GetDesc(&desc);
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = 0;
        desc.MiscFlags = 0;
        ThrowIfFailed(m_device->CreateTexture2D(&desc, nullptr, &m_cachedTexture),
                      "m_device->CreateTexture2D( &desc, nullptr, &m_cachedTexture )");
    }
    {
        const DeviceLock lock(m_multithread.Get());
        m_context->CopyResource(m_cachedTexture.Get(), texture.Get());
    }
    m_cacheDelivered = false;
    m_outputDuplication->ReleaseFrame();
}

void DDCapture::CaptureFrame() {
    DXGI_OUTDUPL_FRAME_INFO info{};
    ComPtr<IDXGIResource> desktopResource;
    const HRESULT hr = m_outputDuplication->AcquireNextFrame(0, &info, &desktopResource);
    if (SUCCEEDED(hr)) {
        if (info.LastPresentTime.QuadPart != 0 || info.AccumulatedFrames != 0 ||
            info.TotalMetadataBufferSize != 0)
            CopyToCache(desktopResource);
        else
            m_outputDuplication->ReleaseFrame();
    } else if (hr != DXGI_ERROR_WAIT_TIMEOUT) {
        throw ComException("hr failed", hr);
    }
    if (m_cachedTexture && m_pacer.Tick()) {
        DeliverFrame(m_cachedTexture.Get(), m_cacheDelivered);
        m_cacheDelivered = true;
    }
}

void DDCapture::Reinitialize() {
    for (int attempt = 1;; ++attempt) {
        try {
            Initialize();
            return;
        } catch (...) {
            if (attempt == ReinitializeAttempts || m_stop.load())
                throw;
        }
        Sleep(ReinitializeDelayMs);
    }
}

void DDCapture::CaptureLoop() {
    while (!m_stop.load()) {
        try {
            CaptureFrame();
        } catch (const ComException& e) {
            if (e.Error() != DXGI_ERROR_ACCESS_LOST)
                throw;
            ErrorSink::notice(0, e.Error(), "%s", CaptureFailedText);
            if (!m_stop.load())
                Reinitialize();
            continue;
        }
        Sleep(1);
    }
}

void DDCapture::Run() {
    try {
        CaptureLoop();
    } catch (const ComException& e) {
        LogError("%s. A COM exception was thrown: %s", CaptureFailedText, e.what());
        ErrorSink::report(0, e.Error(), "%s. A COM exception was thrown: %s", CaptureFailedText, e.what());
    } catch (const std::exception& e) {
        LogError("%s. An exception was thrown: %s", CaptureFailedText, e.what());
        ErrorSink::reportFailure(1, "%s. An exception was thrown: %s", CaptureFailedText, e.what());
    }
    LogInfo("DDCapture - thread stopped");
    if (!m_stop.load() && m_sizeChangeCallback)
        m_sizeChangeCallback(m_width, m_height);
}
