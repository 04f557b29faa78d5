// A oneVPL dispatcher without MFXUnload, the second export of the binding's table.

#include <vpl/mfxdispatcher.h>

extern "C" __attribute__((visibility("default"))) mfxLoader MFXLoad() { return nullptr; }
