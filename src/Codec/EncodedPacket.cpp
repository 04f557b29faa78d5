#include "EncodedPacket.h"

#include "CodecReport.h"
#include "SampleAttributes.h"
#include <mfapi.h>
#include <wrl/client.h>

#include <cstring>

namespace kiv::mfcodec {

using Microsoft::WRL::ComPtr;

HRESULT WrapEncodedPacket(const void* bytes, DWORD size, LONGLONG time, LONGLONG duration, bool keyFrame,
                          std::int64_t streamNum, std::int64_t frameNum, IMFSample** sample) {
    ComPtr<IMFMediaBuffer> buffer;
    KIV_RETURN_IF_FAILED(MFCreateMemoryBuffer(size, &buffer));
    BYTE* outPtr = nullptr;
    DWORD outPtrMaxLen = 0;
    DWORD outPtrCurLen = 0;
    KIV_RETURN_IF_FAILED(buffer->Lock(&outPtr, &outPtrMaxLen, &outPtrCurLen));
    KIV_ASSERT(outPtrMaxLen == size);
    KIV_ASSERT(outPtrCurLen == 0);
    std::memcpy(outPtr, bytes, size);
    KIV_RETURN_IF_FAILED(buffer->Unlock());
    KIV_RETURN_IF_FAILED(buffer->SetCurrentLength(size));
    ComPtr<IMFSample> packet;
    KIV_RETURN_IF_FAILED(MFCreateSample(&packet));
    KIV_RETURN_IF_FAILED(packet->AddBuffer(buffer.Get()));
    KIV_RETURN_IF_FAILED(packet->SetSampleTime(time));
    KIV_RETURN_IF_FAILED(packet->SetSampleDuration(duration));
    if (keyFrame)
        KIV_RETURN_IF_FAILED(packet->SetUINT32(MFSampleExtension_CleanPoint, TRUE));
    if (IsSampleNumber(streamNum))
        KIV_RETURN_IF_FAILED(packet->SetUINT32(KIV_GUID_STREAMNUM, UINT32(streamNum)));
    if (IsSampleNumber(frameNum))
        KIV_RETURN_IF_FAILED(packet->SetUINT32(KIV_GUID_FRAMENUM, UINT32(frameNum)));
    *sample = packet.Detach();
    return S_OK;
}

} // namespace kiv::mfcodec
