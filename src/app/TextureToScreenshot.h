#pragma once

#include <d3d11.h>
#include <wingdi.h>

// Reads a BGRA texture back into a new bitmap: a staging texture the CPU can read is mapped as it is, any
// other goes through a staging copy. Throws ComException or std::runtime_error. The caller deletes the
// bitmap.
HBITMAP TextureToScreenshot(ID3D11Device* device, ID3D11Texture2D* texture);
