// Every export the oneVPL dispatcher looks for in an implementation: the dispatcher takes a library for an
// implementation only when all of them are there. Those the fake does not implement refuse the call loudly.

#include "FakeRuntime.h"

#define PYX_FAKE_RUNTIME_NAME "oneVPL"
#define PYX_FAKE_UNSUPPORTED_RESULT (-3) // MFX_ERR_UNSUPPORTED
#define PYX_FAKE_VPL_EXPORT(name) PYX_FAKE_UNSUPPORTED_ENTRY(name, name, void)

// clang-format off
#define PYX_FAKE_VPL_EXPORTS(X)                                                                                \
    X(MFXInit) X(MFXInitEx) X(MFXClose) X(MFXJoinSession) X(MFXDisjoinSession) X(MFXCloneSession)              \
    X(MFXSetPriority) X(MFXGetPriority) X(MFXQueryIMPL) X(MFXQueryVersion)                                     \
    X(MFXVideoCORE_SetFrameAllocator) X(MFXVideoCORE_SetHandle) X(MFXVideoCORE_GetHandle)                      \
    X(MFXVideoCORE_QueryPlatform) X(MFXVideoCORE_SyncOperation)                                                \
    X(MFXVideoENCODE_Query) X(MFXVideoENCODE_QueryIOSurf) X(MFXVideoENCODE_Init) X(MFXVideoENCODE_Reset)       \
    X(MFXVideoENCODE_Close) X(MFXVideoENCODE_GetVideoParam) X(MFXVideoENCODE_GetEncodeStat)                    \
    X(MFXVideoENCODE_EncodeFrameAsync)                                                                         \
    X(MFXVideoDECODE_Query) X(MFXVideoDECODE_DecodeHeader) X(MFXVideoDECODE_QueryIOSurf) X(MFXVideoDECODE_Init) \
    X(MFXVideoDECODE_Reset) X(MFXVideoDECODE_Close) X(MFXVideoDECODE_GetVideoParam)                            \
    X(MFXVideoDECODE_GetDecodeStat) X(MFXVideoDECODE_SetSkipMode) X(MFXVideoDECODE_GetPayload)                 \
    X(MFXVideoDECODE_DecodeFrameAsync)                                                                         \
    X(MFXVideoVPP_Query) X(MFXVideoVPP_QueryIOSurf) X(MFXVideoVPP_Init) X(MFXVideoVPP_Reset)                   \
    X(MFXVideoVPP_Close) X(MFXVideoVPP_GetVideoParam) X(MFXVideoVPP_GetVPPStat) X(MFXVideoVPP_RunFrameVPPAsync) \
    X(MFXQueryImplsDescription) X(MFXReleaseImplDescription) X(MFXInitialize)                                  \
    X(MFXMemory_GetSurfaceForVPP) X(MFXMemory_GetSurfaceForVPPOut) X(MFXMemory_GetSurfaceForEncode)            \
    X(MFXMemory_GetSurfaceForDecode)                                                                           \
    X(MFXVideoDECODE_VPP_Init) X(MFXVideoDECODE_VPP_DecodeFrameAsync) X(MFXVideoDECODE_VPP_Reset)              \
    X(MFXVideoDECODE_VPP_GetChannelParam) X(MFXVideoDECODE_VPP_Close) X(MFXVideoVPP_ProcessFrameAsync)
// clang-format on

PYX_FAKE_VPL_EXPORTS(PYX_FAKE_VPL_EXPORT)
