#include "TextureReadback.h"

#include "CodecReport.h"

namespace kiv::mfcodec {

HRESULT TextureReadback::map(ID3D11Device* device, ID3D11Texture2D* texture, UINT subresource,
                             D3D11_MAPPED_SUBRESOURCE& mapped) {
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    D3D11_TEXTURE2D_DESC stagingDesc{};
    if (m_staging)
        m_staging->GetDesc(&stagingDesc);
    if (!m_staging || stagingDesc.Width != desc.Width || stagingDesc.Height != desc.Height ||
        stagingDesc.Format != desc.Format) {
        m_staging = nullptr;
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        desc.MiscFlags = 0;
        KIV_RETURN_IF_FAILED(device->CreateTexture2D(&desc, nullptr, &m_staging));
    }
    m_context = nullptr;
    device->GetImmediateContext(&m_context);
    KIV_RETURN_UNLESS(m_context, E_UNEXPECTED);
    m_context->CopySubresourceRegion(m_staging.Get(), 0, 0, 0, 0, texture, subresource, nullptr);
    KIV_RETURN_IF_FAILED(m_context->Map(m_staging.Get(), 0, D3D11_MAP_READ, 0, &mapped));
    return S_OK;
}

void TextureReadback::unmap() { m_context->Unmap(m_staging.Get(), 0); }

void TextureReadback::reset() {
    m_staging = nullptr;
    m_context = nullptr;
}

} // namespace kiv::mfcodec
