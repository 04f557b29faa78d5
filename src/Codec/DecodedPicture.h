#pragma once
// What the three vendors' decoders share: the NV12 texture a decoded picture is handed out in, the staging
// texture it is filled through, and the sample that carries it.

#include <d3d11.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <cstdint>

namespace kiv::mfcodec {

// The output texture (DEFAULT usage, with outputMiscFlags) and a CPU-writable staging twin of the same size.
HRESULT CreateDecodedPictureTextures(ID3D11Device* device, UINT width, UINT height, UINT outputMiscFlags,
                                     Microsoft::WRL::ComPtr<ID3D11Texture2D>& output,
                                     Microsoft::WRL::ComPtr<ID3D11Texture2D>& staging);

// A progressive sample holding the texture, with the input's time and duration and, where they were known
// (0 to 0xFFFFFFFE), its frame and stream numbers.
HRESULT WrapDecodedPicture(ID3D11Texture2D* texture, LONGLONG time, LONGLONG duration, std::int64_t streamNum,
                           std::int64_t frameNum, IMFSample** sample);

} // namespace kiv::mfcodec
