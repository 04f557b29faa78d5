#pragma once
// The encoder search's record of what to look for and of each transform found. The codec library reads the
// query and fills the record for its own transforms, so both live below the capture layer.

#include "CodecKinds.h"
#include <d3d11.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One transform the search found.
struct EncoderInfo {
    ComPtr<IMFTransform> mft;
    ComPtr<IMFAttributes> attrib; // the transform's own attribute store
    std::wstring name;
    std::vector<GUID> inputs; // declared input subtypes
    GUID output = GUID_NULL;  // the query's output subtype
    UINT32 vendorId = 0;      // from "VEN_xxxx"; 0 when not given
    bool async = false;
    bool hardware = false;
    bool d3d11Aware = false;
};

// What to search for.
struct EncoderQuery {
    std::uint8_t decoder = 0;
    std::uint8_t audio = 0;
    std::uint8_t includeSoftware = 0;                          // after hardware transforms, software ones too
    std::uint8_t includeCustomCodecs = 0;                      // the system's own codec transforms first
    VideoCodecChoice videoCodec = VideoCodecChoice::Automatic; // of a video query
    AudioCodecKind audioCodec = AudioCodecKind::Aac;           // of an audio query
    ID3D11Device* device = nullptr;
    UINT32 deviceVendor = 0; // vendor id of the device's adapter, 0 when unknown
    // The adapter's driver version in the packed Windows form (four 16-bit parts, most significant first);
    // 0 when unknown. The codec library compares it with its transforms' minimums.
    UINT64 driverVersion = 0;
    // Read only by the codec library's transforms.
    std::int8_t speedQualityPreset = 0; // below 0 faster, above 0 better pictures
    std::uint8_t longGop = 0;
    std::uint8_t unboundedGop = 0; // with longGop: no periodic key frames
    std::uint16_t codecOptionValue = 0;
    GUID category = GUID_NULL;
    GUID majorType = GUID_NULL;
    GUID inputSubtype = GUID_NULL; // GUID_NULL: any
    GUID outputSubtype = GUID_NULL;
    std::function<bool(const EncoderInfo&)> filter; // empty: keep everything
};
