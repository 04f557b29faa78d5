#pragma once
// What the fake AMF runtime saw of its latest component, for tests to compare with what a transform should
// have asked for. Read through the fake's export fakeAmfObservations().

#include "Codec/AmfInterfaces.h"

#include <string>
#include <utility>
#include <vector>

struct FakeAmfObservations {
    int complaints = 0;     // misuses refused since the fake was loaded
    int liveObjects = 0;    // contexts, components, buffers and surfaces not yet released
    std::wstring component; // the latest component created
    // Every property set on it, in order, with its value.
    std::vector<std::pair<std::wstring, amf::AMFVariantStruct>> propertiesSet;
    amf::AMF_SURFACE_FORMAT initFormat = amf::AMF_SURFACE_UNKNOWN;
    int initWidth = 0;
    int initHeight = 0;
    // Encoders: the picture type each submitted surface forced (0: none).
    std::vector<std::int64_t> forcedPictureTypes;

    // The latest value set of `name`, or an empty variant.
    amf::AMFVariantStruct Latest(const std::wstring& name) const {
        for (auto it = propertiesSet.rbegin(); it != propertiesSet.rend(); ++it)
            if (it->first == name)
                return it->second;
        return {};
    }
};

using FakeAmfObservationsFunction = FakeAmfObservations (*)();
