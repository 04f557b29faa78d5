#pragma once
// A DXGI output: one monitor as its adapter saw it when the output was enumerated.

#include <dxgi.h>
#include <wrl/implements.h>

class Output final : public ComObject<IDXGIOutput1> {
public:
    Output(ComPtr<IDXGIAdapter> adapter, const DXGI_OUTPUT_DESC& desc);

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE DuplicateOutput(IUnknown* device,
                                              IDXGIOutputDuplication** duplication) override;

private:
    ComPtr<IDXGIAdapter> m_adapter;
    DXGI_OUTPUT_DESC m_desc;
};
