#pragma once
// The result code a transform returns for a backend's status.

#include "platform/av/CodecTypes.h"
#include <mferror.h>

inline HRESULT HResultFromCodecStatus(av::CodecStatus status) {
    switch (status) {
    case av::CodecStatus::Ok:
        return S_OK;
    case av::CodecStatus::Again:
    case av::CodecStatus::EndOfStream:
        return MF_E_TRANSFORM_NEED_MORE_INPUT;
    case av::CodecStatus::OutOfMemory:
        return E_OUTOFMEMORY;
    case av::CodecStatus::InvalidArgument:
        return E_INVALIDARG;
    case av::CodecStatus::Unsupported:
        return MF_E_INVALIDMEDIATYPE;
    case av::CodecStatus::Failed:
        break;
    }
    return E_FAIL;
}
