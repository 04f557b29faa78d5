#pragma once
// Reading captured textures back and collecting what capture sources report.

#include "Util/ErrorSink.h"
#include <d3d11.h>
#include <wrl/client.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The BGRA pixel at (x, y) as one little-endian value, 0xAARRGGBB; read through a staging copy.
std::uint32_t ReadPixel(ID3D11Device* device, ID3D11Texture2D* texture, std::uint32_t x, std::uint32_t y);

struct SinkReport {
    int kind;
    std::uint32_t code;
    HRESULT hr;
    std::string text;
};

// Installs itself as the error sink for its lifetime.
class ReportCollector {
public:
    ReportCollector();
    std::vector<SinkReport> Reports();

private:
    std::mutex m_mutex;
    std::vector<SinkReport> m_reports;
    ErrorSink::Slot m_slot;
};
