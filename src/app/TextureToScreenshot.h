#pragma once

#include <d3d11.h>
#include <wingdi.h>

// Reads a BGRA texture back through a staging texture into a new bitmap; throws ComException or
// std::runtime_error. The caller deletes the bitmap.
HBITMAP TextureToScreenshot(ID3D11Device* device, ID3D11Texture2D* texture);
