#pragma once
// How each texture format lies in memory: planes, bytes per pixel and the row divisor of chroma planes.

#include <dxgitype.h>

struct PlaneLayout {
    UINT bytesPerPixel; // bytes per luma-column pixel in this plane's rows
    UINT rowDivisor;    // 2 for a chroma plane of half height
};

struct FormatLayout {
    UINT planeCount;
    PlaneLayout planes[2];
    bool evenSize; // width and height must be even

    // Rows of all planes for an image of `height` rows.
    UINT TotalRows(UINT height) const {
        UINT rows = 0;
        for (UINT p = 0; p < planeCount; ++p)
            rows += height / planes[p].rowDivisor;
        return rows;
    }
};

// Null for a format textures do not support.
const FormatLayout* LookUpFormatLayout(DXGI_FORMAT format);
