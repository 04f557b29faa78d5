#pragma once
// The exports of the oneVPL dispatcher that the binding resolves, listed once in the order they are resolved:
// X(name) binds the member `name` to the export "MFX" name, typed as Debian's libvpl-dev declares it. All of
// them must be present for the binding to load, although the transforms call only some. The last one is the
// Linux encoder's own: it fills system-memory surfaces of the runtime where Windows imports textures.

#include <vpl/mfxdispatcher.h>
#include <vpl/mfxvideo.h>

#define KIV_INTEL_VPL_EXPORTS(X)                                                                             \
    X(Load)                                                                                                  \
    X(Unload)                                                                                                \
    X(CreateConfig)                                                                                          \
    X(SetConfigFilterProperty)                                                                               \
    X(EnumImplementations)                                                                                   \
    X(DispReleaseImplDescription)                                                                            \
    X(CreateSession)                                                                                         \
    X(Close)                                                                                                 \
    X(VideoCORE_GetHandle)                                                                                   \
    X(VideoCORE_SetHandle)                                                                                   \
    X(VideoCORE_SyncOperation)                                                                               \
    X(VideoDECODE_Close)                                                                                     \
    X(VideoDECODE_DecodeFrameAsync)                                                                          \
    X(VideoDECODE_DecodeHeader)                                                                              \
    X(VideoDECODE_GetDecodeStat)                                                                             \
    X(VideoDECODE_GetPayload)                                                                                \
    X(VideoDECODE_GetVideoParam)                                                                             \
    X(VideoDECODE_Init)                                                                                      \
    X(VideoDECODE_Query)                                                                                     \
    X(VideoDECODE_QueryIOSurf)                                                                               \
    X(VideoDECODE_Reset)                                                                                     \
    X(VideoDECODE_SetSkipMode)                                                                               \
    X(VideoENCODE_Close)                                                                                     \
    X(VideoENCODE_EncodeFrameAsync)                                                                          \
    X(VideoENCODE_GetEncodeStat)                                                                             \
    X(VideoENCODE_GetVideoParam)                                                                             \
    X(VideoENCODE_Init)                                                                                      \
    X(VideoENCODE_Query)                                                                                     \
    X(VideoENCODE_QueryIOSurf)                                                                               \
    X(VideoENCODE_Reset)                                                                                     \
    X(Memory_GetSurfaceForEncode)

// The two VA-API calls that turn an adapter's render node into the display oneVPL works on, from libva-drm
// (which brings libva): X(name).
#define KIV_INTEL_VA_EXPORTS(X)                                                                              \
    X(vaGetDisplayDRM)                                                                                       \
    X(vaInitialize)
