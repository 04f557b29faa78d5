// Runs with PYX_PLATFORM_TRACE=1 (set by the build), so the trace channel is on for the whole process.

#include "StderrCapture.h"

#include <combaseapi.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/implements.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// A callback whose work fails the way a platform object's would: by an exception inside its COM method.
class BrokenCallback : public ComObject<IMFAsyncCallback> {
public:
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult*) override {
        return NoThrow(
            []() -> HRESULT { throw std::runtime_error("planted failure: the device went away"); });
    }
};

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(PlatformTraceTest, NamesTheFailingCallAndWhyOncePerPlace) {
    ASSERT_TRUE(PlatformTraceEnabled());
    StderrCapture capture;

    ComPtr<IMFAsyncCallback> broken = MakeComObject<BrokenCallback>();
    ComPtr<IMFMediaType> notAType;
    ComPtr<IMFTransform> processor;
    ASSERT_EQ(
        CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&processor)),
        S_OK);
    ComPtr<IMFVideoProcessorControl> control;
    ASSERT_EQ(processor.As(&control), S_OK);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(broken->Invoke(nullptr), E_UNEXPECTED);
        EXPECT_EQ(broken->GetParameters(nullptr, nullptr), E_NOTIMPL);
        EXPECT_EQ(broken.As(&notAType), E_NOINTERFACE);
        EXPECT_EQ(control->SetMirror(MIRROR_HORIZONTAL), E_NOTIMPL);
    }
    const std::string text = capture.Text();

    EXPECT_EQ(Count(text, "planted failure: the device went away"), 1u) << text;
    EXPECT_NE(text.find("BrokenCallback::Invoke"), std::string::npos) << text;
    EXPECT_EQ(Count(text, "BrokenCallback::GetParameters"), 1u) << text;
    EXPECT_EQ(
        Count(text, "BrokenCallback does not implement interface {44ae0fa8-ea31-4109-8d2e-4cae4997c555}"), 1u)
        << text;
    EXPECT_EQ(Count(text, "SetMirror"), 1u) << text;
    EXPECT_EQ(Count(text, "platform trace: "), 4u) << text;
}
