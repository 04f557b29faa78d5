#include "DecodedPicture.h"

#include "CodecReport.h"
#include "SampleAttributes.h"
#include <mfapi.h>
#include <mfidl.h>

namespace kiv::mfcodec {

using Microsoft::WRL::ComPtr;

HRESULT CreateDecodedPictureTextures(ID3D11Device* device, UINT width, UINT height, UINT outputMiscFlags,
                                     ComPtr<ID3D11Texture2D>& output, ComPtr<ID3D11Texture2D>& staging) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_NV12;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.MiscFlags = outputMiscFlags;
    KIV_RETURN_IF_FAILED(device->CreateTexture2D(&desc, nullptr, output.ReleaseAndGetAddressOf()));
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    desc.MiscFlags = 0;
    KIV_RETURN_IF_FAILED(device->CreateTexture2D(&desc, nullptr, staging.ReleaseAndGetAddressOf()));
    return S_OK;
}

HRESULT WrapDecodedPicture(ID3D11Texture2D* texture, LONGLONG time, LONGLONG duration, std::int64_t streamNum,
                           std::int64_t frameNum, IMFSample** sample) {
    ComPtr<IMFMediaBuffer> buffer;
    KIV_RETURN_IF_FAILED(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture, 0, FALSE, &buffer));
    ComPtr<IMFSample> wrapped;
    KIV_RETURN_IF_FAILED(MFCreateSample(&wrapped));
    KIV_RETURN_IF_FAILED(wrapped->AddBuffer(buffer.Get()));
    KIV_RETURN_IF_FAILED(wrapped->SetSampleTime(time));
    KIV_RETURN_IF_FAILED(wrapped->SetSampleDuration(duration));
    KIV_RETURN_IF_FAILED(wrapped->SetUINT32(MFSampleExtension_Interlaced, 0));
    if (IsSampleNumber(frameNum))
        KIV_RETURN_IF_FAILED(wrapped->SetUINT32(KIV_GUID_FRAMENUM, UINT32(frameNum)));
    if (IsSampleNumber(streamNum))
        KIV_RETURN_IF_FAILED(wrapped->SetUINT32(KIV_GUID_STREAMNUM, UINT32(streamNum)));
    *sample = wrapped.Detach();
    return S_OK;
}

} // namespace kiv::mfcodec
