#pragma once
// Creating the capture device on the adapter that drives the captured monitor.

#include <d3d11.h>

class D3DUtil {
public:
    // With a monitor, the device is made on the first listed GPU that has it as an output; otherwise (or
    // with no match) on the default hardware adapter. Logs the outcome.
    static HRESULT CreateD3D11Device(ID3D11Device** device, HMONITOR monitor);

    // The vendor id of the device's adapter; 0 for no device or a failed query.
    static UINT GetDeviceVendor(ID3D11Device* device);
    // The user-mode driver version of the device's adapter (four 16-bit parts); 0 when it cannot be read.
    static UINT64 GetDeviceDriverVersion(ID3D11Device* device);
};
