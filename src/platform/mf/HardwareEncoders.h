#pragma once
// The hardware encoders the platform offers: H.264 and HEVC on every VA-API render node that can encode,
// listed as asynchronous hardware transforms with the node's PCI vendor id.

#include "TransformRegistry.h"
#include "platform/av/CodecTypes.h"
#include "platform/d3d/DrmDevices.h"

#include <functional>
#include <string>
#include <vector>

DEFINE_GUID(CLSID_PlatformVaapiH264EncoderMFT, 0xc205b684, 0xb602, 0x4af7, 0xa4, 0x15, 0x5d, 0x2e, 0x37, 0xb1,
            0x8b, 0x22);
DEFINE_GUID(CLSID_PlatformVaapiHevcEncoderMFT, 0x0f769eb4, 0x826d, 0x4ba8, 0x8a, 0x65, 0x78, 0x86, 0x3c, 0x5f,
            0xe2, 0x5a);

// Whether the render node at the path encodes the codec.
using EncoderProbe = std::function<bool(const std::string& node, av::Codec codec)>;

std::vector<TransformClass> HardwareEncoderClasses(const std::vector<DrmDevice>& devices,
                                                   const EncoderProbe& works);

// Opens the node's encoder and encodes one small picture.
bool VaapiEncoderWorks(const std::string& node, av::Codec codec);
