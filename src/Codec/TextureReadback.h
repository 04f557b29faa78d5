#pragma once
// Reads an input texture on the CPU, for runtimes that take pictures only in host memory: the texture is
// copied into a CPU-readable staging texture of its size, kept for the next picture of that size, and mapped.

#include <d3d11.h>
#include <wrl/client.h>

namespace kiv::mfcodec {

class TextureReadback {
public:
    // Copies the texture's subresource and maps the copy; a success must be followed by unmap().
    HRESULT map(ID3D11Device* device, ID3D11Texture2D* texture, UINT subresource,
                D3D11_MAPPED_SUBRESOURCE& mapped);
    void unmap();
    void reset();

private:
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> m_context;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> m_staging;
};

} // namespace kiv::mfcodec
