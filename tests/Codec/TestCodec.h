#pragma once
// A codec transform for tests: the base's behaviour, with each hook call recorded. Its registration takes
// ARGB32 or NV12 and makes H.264.

#include "Codec/MfCodecBase.h"

#include <string>
#include <vector>

class TestCodec : public kiv::mfcodec::Base {
public:
    static const kiv::mfcodec::RegistrationInfo& Registration();
    static void Create(ComPtr<kiv::mfcodec::Base>& object, const EncoderQuery& query);

    explicit TestCodec(const kiv::mfcodec::RegistrationInfo& info = Registration()) : Base(info) {}

    std::vector<std::string> calls;
    HRESULT beginStreamingResult = S_OK;

    using Base::canInitialize;
    using Base::getVideoSpecs;
    using Base::signalHaveOutput;
    using Base::signalNeedInput;

protected:
    HRESULT onDeviceRefClearing() override { return Record("clearing", S_OK); }
    HRESULT onDeviceRefSet() override { return Record("set", S_OK); }
    HRESULT onSpecsChanged(bool input, bool output) override {
        return Record(std::string("specs ") + (input ? "1" : "0") + (output ? "1" : "0"), S_OK);
    }
    HRESULT onBeginStreaming() override { return Record("begin", beginStreamingResult); }
    HRESULT onForceKeyFrame() override { return Record("key frame", S_OK); }

private:
    HRESULT Record(std::string call, HRESULT hr) {
        calls.push_back(std::move(call));
        return hr;
    }
};
