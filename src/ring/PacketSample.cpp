#include "PacketSample.h"

#include "Util/HResultCheck.h"

#include <cstring>

ComPtr<IMFSample> CreatePacketSample(const BYTE* pData, DWORD dwSampleSize, LONGLONG llSampleTime,
                                     LONGLONG llSampleDuration, IMFAttributes* pAttributes,
                                     DWORD dwSampleFlags) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(LogIfFailed(MFCreateMemoryBuffer(dwSampleSize, &buffer),
                           "MFCreateMemoryBuffer( dwSampleSize, &buffer )")))
        return nullptr;

    BYTE* databuf = nullptr;
    DWORD maxlen = 0;
    DWORD curlen = 0;
    if (FAILED(LogIfFailed(buffer->Lock(&databuf, &maxlen, &curlen),
                           "buffer->Lock( &databuf, &maxlen, &curlen )")))
        return nullptr;
    if (dwSampleSize > 0)
        std::memcpy(databuf, pData, dwSampleSize);
    const HRESULT lengthResult =
        LogIfFailed(buffer->SetCurrentLength(dwSampleSize), "buffer->SetCurrentLength( dwSampleSize )");
    if (FAILED(LogIfFailed(buffer->Unlock(), "buffer->Unlock()")) || FAILED(lengthResult))
        return nullptr;

    ComPtr<IMFSample> sample;
    if (FAILED(LogIfFailed(MFCreateSample(&sample), "MFCreateSample( &sample )")) ||
        FAILED(LogIfFailed(sample->AddBuffer(buffer.Get()), "sample->AddBuffer( buffer )")) ||
        FAILED(LogIfFailed(sample->SetSampleTime(llSampleTime), "sample->SetSampleTime( llSampleTime )")) ||
        FAILED(LogIfFailed(sample->SetSampleDuration(llSampleDuration),
                           "sample->SetSampleDuration( llSampleDuration )")))
        return nullptr;
    // The given attributes are the source: copying them onto the sample keeps the caller's store intact.
    if (pAttributes != nullptr &&
        FAILED(LogIfFailed(pAttributes->CopyAllItems(sample.Get()), "sample->CopyAllItems( pAttributes )")))
        return nullptr;
    if (FAILED(LogIfFailed(sample->SetSampleFlags(dwSampleFlags), "sample->SetSampleFlags( dwSampleFlags )")))
        return nullptr;
    return sample;
}
