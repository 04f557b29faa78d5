// A oneVPL dispatcher that makes no loader. Alone it lacks MFXUnload, the second export of the binding's
// table; with the stubs it has every export.

#include <vpl/mfxdispatcher.h>

extern "C" __attribute__((visibility("default"))) mfxLoader MFXLoad() { return nullptr; }
