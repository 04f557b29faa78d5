// Every export of the binding's dispatcher table, refused unless the fake dispatcher defines it. The stubs
// take the exports' names by assembler label, since the real declarations are in sight.

#include "Codec/IntelEntryPoints.h"
#include "FakeRuntime.h"

#define PYX_FAKE_DISPATCHER_STUB(name)                                                                       \
    extern "C" __attribute__((weak, visibility("default"))) int fakeStub##name(...) __asm__("MFX" #name);    \
    extern "C" int fakeStub##name(...) {                                                                     \
        FakeRuntimeComplaint("oneVPL dispatcher", "MFX%s is not implemented", #name);                        \
        return MFX_ERR_UNSUPPORTED;                                                                          \
    }

KIV_INTEL_VPL_EXPORTS(PYX_FAKE_DISPATCHER_STUB)
