// Every entry point of the CUDA driver and NVDEC tables, refused unless the fake implements it.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeRuntime.h"

#define PYX_FAKE_UNSUPPORTED_RESULT 801 // CUDA_ERROR_NOT_SUPPORTED

#ifdef PYX_FAKE_NVDEC
#define PYX_FAKE_RUNTIME_NAME "NVDEC"
KIV_NV_NVDEC_ENTRY_POINTS(PYX_FAKE_UNSUPPORTED_ENTRY)
#else
#define PYX_FAKE_RUNTIME_NAME "CUDA"
KIV_NV_CUDA_ENTRY_POINTS(PYX_FAKE_UNSUPPORTED_ENTRY)
#endif
