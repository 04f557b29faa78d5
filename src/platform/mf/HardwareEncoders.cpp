#include "HardwareEncoders.h"

#include "AsyncTransform.h"
#include "VideoEncoderTransform.h"
#include "platform/av/VideoEncoder.h"
#include <mfapi.h>
#include <stringapiset.h>

#include <cwchar>

namespace {

constexpr std::uint32_t ProbeSide = 256;

std::wstring VendorText(UINT vendorId) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"VEN_%04X", vendorId);
    return text;
}

} // namespace

std::vector<TransformClass> HardwareEncoderClasses(const std::vector<DrmDevice>& devices,
                                                   const EncoderProbe& works) {
    std::vector<TransformClass> classes;
    for (const DrmDevice& device : devices) {
        const std::string path = "/dev/dri/" + device.node;
        for (const av::Codec codec : {av::Codec::H264, av::Codec::Hevc}) {
            if (!works(path, codec))
                continue;
            const bool h264 = codec == av::Codec::H264;
            TransformClass encoder;
            encoder.clsid = h264 ? CLSID_PlatformVaapiH264EncoderMFT : CLSID_PlatformVaapiHevcEncoderMFT;
            encoder.category = MFT_CATEGORY_VIDEO_ENCODER;
            encoder.kind = MFT_ENUM_FLAG_HARDWARE;
            encoder.friendlyName = std::wstring(h264 ? L"H.264" : L"HEVC") + L" Encoder (VA-API " +
                                   Utf8ToWide(device.node) + L")";
            encoder.inputTypes = {{MFMediaType_Video, MFVideoFormat_NV12}};
            encoder.outputTypes = {{MFMediaType_Video, h264 ? MFVideoFormat_H264 : MFVideoFormat_HEVC}};
            encoder.vendorId = VendorText(device.vendorId);
            encoder.hardwareUrl = Utf8ToWide(path);
            encoder.create = [codec, path](IMFTransform** transform) {
                ComPtr<IMFTransform> inner;
                const HRESULT hr = VideoEncoderTransform::Create(codec, inner.ReleaseAndGetAddressOf(), path);
                return SUCCEEDED(hr) ? AsyncTransform::Create(std::move(inner), transform) : hr;
            };
            classes.push_back(std::move(encoder));
        }
    }
    return classes;
}

bool VaapiEncoderWorks(const std::string& node, av::Codec codec) {
    av::VideoEncoderSettings settings;
    settings.codec = codec;
    settings.width = ProbeSide;
    settings.height = ProbeSide;
    settings.frameRateNumerator = 60;
    settings.device = node;
    return av::VideoEncoder::Works(settings);
}
