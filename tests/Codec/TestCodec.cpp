#include "TestCodec.h"

#include <mfapi.h>

const kiv::mfcodec::RegistrationInfo& TestCodec::Registration() {
    static const kiv::mfcodec::RegistrationInfo info = [] {
        kiv::mfcodec::RegistrationInfo r{};
        std::wcsncpy(r.friendlyName, L"Test H.264 Encoder", kiv::mfcodec::RegistrationInfo::MaxNameLength);
        r.isHardware = 1;
        r.reportVendorId = 0xD4E1;
        r.vendorId = 0x10DE;
        r.clsid = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
        r.category = MFT_CATEGORY_VIDEO_ENCODER;
        r.inputCount = 2;
        r.inputTypes[0] = {MFMediaType_Video, MFVideoFormat_ARGB32};
        r.inputTypes[1] = {MFMediaType_Video, MFVideoFormat_NV12};
        r.outputCount = 1;
        r.outputTypes[0] = {MFMediaType_Video, MFVideoFormat_H264};
        r.create = &TestCodec::Create;
        return r;
    }();
    return info;
}

void TestCodec::Create(ComPtr<kiv::mfcodec::Base>& object, const EncoderQuery&) { object = new TestCodec(); }
