#pragma once
// IMFVideoProcessorControl: per-stream settings of the video processor transform.

#include "platform/win/Unknown.h"
#include "platform/win/User.h"

enum MF_VIDEO_PROCESSOR_ROTATION : UINT32 {
    ROTATION_NONE = 0,   // keep the frame as stored
    ROTATION_NORMAL = 1, // turn the frame upright as its input type's MF_MT_VIDEO_ROTATION says
};

enum MF_VIDEO_PROCESSOR_MIRROR : UINT32 {
    MIRROR_NONE = 0,
    MIRROR_HORIZONTAL = 1,
    MIRROR_VERTICAL = 2,
};

struct MFARGB {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbAlpha;
};

struct SIZE;

struct IMFVideoProcessorControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetBorderColor(MFARGB* pBorderColor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourceRectangle(RECT* pSrcRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDestinationRectangle(RECT* pDstRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMirror(MF_VIDEO_PROCESSOR_MIRROR eMirror) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRotation(MF_VIDEO_PROCESSOR_ROTATION eRotation) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConstrictionSize(SIZE* pConstrictionSize) = 0;

protected:
    ~IMFVideoProcessorControl() = default;
};

PYX_INTERFACE_ID(IMFVideoProcessorControl, IUnknown, "a3f675d5-6119-4f7f-a100-1d8b280f0efb");
