#include "CaptureTestSupport.h"

#include <cstring>

std::uint32_t ReadPixel(ID3D11Device* device, ID3D11Texture2D* texture, std::uint32_t x, std::uint32_t y) {
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    desc.Width = 1;
    desc.Height = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging)))
        return 0;
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    const D3D11_BOX box{x, y, 0, x + 1, y + 1, 1};
    context->CopySubresourceRegion(staging.Get(), 0, 0, 0, 0, texture, 0, &box);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped)))
        return 0;
    std::uint32_t pixel;
    std::memcpy(&pixel, mapped.pData, 4);
    context->Unmap(staging.Get(), 0);
    return pixel;
}

ReportCollector::ReportCollector()
    : m_slot([this](int kind, std::uint32_t code, HRESULT hr, const char* text) {
          std::lock_guard lock(m_mutex);
          m_reports.push_back(SinkReport{kind, code, hr, text});
      }) {
    ErrorSink::install(&m_slot);
}

std::vector<SinkReport> ReportCollector::Reports() {
    std::lock_guard lock(m_mutex);
    return m_reports;
}
