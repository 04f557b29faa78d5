#include "FormatLayout.h"

const FormatLayout* LookUpFormatLayout(DXGI_FORMAT format) {
    static constexpr FormatLayout FourBytes{1, {{4, 1}, {0, 1}}, false};
    static constexpr FormatLayout OneByte{1, {{1, 1}, {0, 1}}, false};
    static constexpr FormatLayout Nv12{2, {{1, 1}, {1, 2}}, true};
    static constexpr FormatLayout P010{2, {{2, 1}, {2, 2}}, true};
    switch (format) {
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R10G10B10A2_UNORM:
    case DXGI_FORMAT_AYUV:
        return &FourBytes;
    case DXGI_FORMAT_R8_UNORM:
        return &OneByte;
    case DXGI_FORMAT_NV12:
        return &Nv12;
    case DXGI_FORMAT_P010:
        return &P010;
    default:
        return nullptr;
    }
}
