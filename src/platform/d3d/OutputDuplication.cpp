#include "OutputDuplication.h"

#include "platform/x11/ScreenSource.h"

#include <pyx/CaptureClock.h>

#include <chrono>
#include <utility>

HRESULT OutputDuplication::Create(ID3D11Device* device, ComPtr<IDXGIOutput> output,
                                  const DXGI_OUTPUT_DESC& desc, ComPtr<IDXGIOutputDuplication>& duplication) {
    duplication = nullptr;
    auto source =
        x11::ScreenSource::Open(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(desc.Monitor)));
    if (!source)
        return DXGI_ERROR_UNSUPPORTED;
    const CD3D11_TEXTURE2D_DESC imageDesc(DXGI_FORMAT_B8G8R8A8_UNORM, source->Width(), source->Height(), 1, 1,
                                          0);
    ComPtr<Texture2D> image;
    const HRESULT hr = Texture2D::Create(device, imageDesc, nullptr, image, Texture2D::Backing::SharedMemory);
    if (FAILED(hr))
        return hr;
    duplication.Attach(new (std::nothrow)
                           OutputDuplication(std::move(output), std::move(source), std::move(image)));
    return duplication ? S_OK : E_OUTOFMEMORY;
}

OutputDuplication::OutputDuplication(ComPtr<IDXGIOutput> output, std::unique_ptr<x11::ScreenSource> source,
                                     ComPtr<Texture2D> image)
    : m_output(std::move(output)), m_source(std::move(source)), m_image(std::move(image)) {}

OutputDuplication::~OutputDuplication() = default;

HRESULT OutputDuplication::GetParent(REFIID riid, void** parent) {
    if (parent == nullptr)
        return E_POINTER;
    *parent = nullptr;
    return m_output->QueryInterface(riid, parent);
}

void OutputDuplication::GetDesc(DXGI_OUTDUPL_DESC* desc) {
    if (desc == nullptr)
        return;
    *desc = DXGI_OUTDUPL_DESC{};
    desc->ModeDesc.Width = m_source->Width();
    desc->ModeDesc.Height = m_source->Height();
    desc->ModeDesc.RefreshRate = DXGI_RATIONAL{60, 1};
    desc->ModeDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc->ModeDesc.ScanlineOrdering = DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE;
    desc->Rotation = DXGI_MODE_ROTATION_IDENTITY;
    desc->DesktopImageInSystemMemory = FALSE;
}

HRESULT OutputDuplication::WaitForImage(UINT timeoutInMilliseconds) {
    // The first acquisition always gets the current desktop.
    if (!m_firstImageGiven)
        return S_OK;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutInMilliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        switch (m_source->Wait(static_cast<int>(std::max<std::int64_t>(0, left.count())))) {
        case x11::SourceEvent::Changed:
            return S_OK;
        case x11::SourceEvent::LayoutChanged:
        case x11::SourceEvent::Broken:
        case x11::SourceEvent::Closed:
            m_accessLost = true;
            return DXGI_ERROR_ACCESS_LOST;
        case x11::SourceEvent::Timeout:
        case x11::SourceEvent::Woken:
            if (left.count() <= 0)
                return DXGI_ERROR_WAIT_TIMEOUT;
            break;
        }
    }
}

HRESULT OutputDuplication::AcquireNextFrame(UINT timeoutInMilliseconds, DXGI_OUTDUPL_FRAME_INFO* frameInfo,
                                            IDXGIResource** desktopResource) {
    if (desktopResource != nullptr)
        *desktopResource = nullptr;
    if (frameInfo == nullptr || desktopResource == nullptr)
        return E_INVALIDARG;
    *frameInfo = DXGI_OUTDUPL_FRAME_INFO{};
    std::lock_guard lock(m_mutex);
    if (m_frameAcquired)
        return DXGI_ERROR_INVALID_CALL;
    if (m_accessLost)
        return DXGI_ERROR_ACCESS_LOST;
    const HRESULT hr = WaitForImage(timeoutInMilliseconds);
    if (FAILED(hr))
        return hr;
    const D3D11_TEXTURE2D_DESC& desc = m_image->Desc();
    m_image->PrepareForWrite();
    const x11::GrabResult grabbed =
        m_source->Grab(x11::FrameTarget{m_image->Storage(), m_image->RowPitch(), desc.Width, desc.Height,
                                        m_image->SharedMemoryId()},
                       false);
    if (grabbed == x11::GrabResult::Failed) {
        m_accessLost = true;
        return DXGI_ERROR_ACCESS_LOST;
    }
    m_image->OweOpaqueAlpha(grabbed == x11::GrabResult::WrittenWithoutAlpha);
    m_firstImageGiven = true;
    m_frameAcquired = true;
    // In performance-counter units, which are the capture clock's.
    frameInfo->LastPresentTime.QuadPart = pyx::CaptureClock::now().time_since_epoch().count();
    frameInfo->AccumulatedFrames = 1;
    *desktopResource = static_cast<IDXGIResource*>(m_image.Get());
    (*desktopResource)->AddRef();
    return S_OK;
}

HRESULT OutputDuplication::ReleaseFrame() {
    std::lock_guard lock(m_mutex);
    if (!m_frameAcquired)
        return DXGI_ERROR_INVALID_CALL;
    m_frameAcquired = false;
    return S_OK;
}
