#pragma once
// The VA-API display that oneVPL sessions on a Direct3D 11 device work on: the one of the render node behind
// the device's adapter (whose LUID is the node's device number). libva-drm is loaded on first use like the
// vendor runtimes; a display is opened once per node and kept for the life of the process, because the
// sessions made on it may live as long.

#include <d3d11.h>

namespace kiv::intel {

class VaDisplays {
public:
    // Null after one logged line when the adapter has no render node or VA-API cannot open it. Under
    // PYX_TEST_SYSFS_ROOT (GPUs described by a test, served by fake runtimes) a stand-in for every device.
    static void* ForDevice(ID3D11Device* device);

    // For tests only: hand out `display` for every device (null: open the devices' nodes again), for machines
    // without a render node.
    static void useDisplayForTests(void* display);
};

} // namespace kiv::intel
