#include "FailingEncoder.h"

#include "platform/mf/TransformRegistry.h"
#include <codecapi.h>
#include <combaseapi.h>
#include <wrl/implements.h>

#include <atomic>

namespace {

// The platform's H.264 encoder, made to fail at one input as a broken encoder or device would.
class FailingEncoder final : public ComObject<IMFTransform, ICodecAPI> {
public:
    FailingEncoder(ComPtr<IMFTransform> inner, unsigned failAt)
        : m_inner(std::move(inner)), m_failAt(failAt) {
        m_inner.As(&m_codec);
    }

    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD id, IMFSample* sample, DWORD flags) override {
        return m_inputs++ == m_failAt ? E_FAIL : m_inner->ProcessInput(id, sample, flags);
    }

#define PYX_FORWARD(target, name, parameters, arguments)                                                     \
    HRESULT STDMETHODCALLTYPE name parameters override { return target->name arguments; }
    PYX_FORWARD(m_inner, GetStreamLimits, (DWORD * a, DWORD* b, DWORD* c, DWORD* d), (a, b, c, d))
    PYX_FORWARD(m_inner, GetStreamCount, (DWORD * a, DWORD* b), (a, b))
    PYX_FORWARD(m_inner, GetStreamIDs, (DWORD a, DWORD* b, DWORD c, DWORD* d), (a, b, c, d))
    PYX_FORWARD(m_inner, GetInputStreamInfo, (DWORD a, MFT_INPUT_STREAM_INFO* b), (a, b))
    PYX_FORWARD(m_inner, GetOutputStreamInfo, (DWORD a, MFT_OUTPUT_STREAM_INFO* b), (a, b))
    PYX_FORWARD(m_inner, GetAttributes, (IMFAttributes * *a), (a))
    PYX_FORWARD(m_inner, GetInputStreamAttributes, (DWORD a, IMFAttributes** b), (a, b))
    PYX_FORWARD(m_inner, GetOutputStreamAttributes, (DWORD a, IMFAttributes** b), (a, b))
    PYX_FORWARD(m_inner, DeleteInputStream, (DWORD a), (a))
    PYX_FORWARD(m_inner, AddInputStreams, (DWORD a, DWORD* b), (a, b))
    PYX_FORWARD(m_inner, GetInputAvailableType, (DWORD a, DWORD b, IMFMediaType** c), (a, b, c))
    PYX_FORWARD(m_inner, GetOutputAvailableType, (DWORD a, DWORD b, IMFMediaType** c), (a, b, c))
    PYX_FORWARD(m_inner, SetInputType, (DWORD a, IMFMediaType* b, DWORD c), (a, b, c))
    PYX_FORWARD(m_inner, SetOutputType, (DWORD a, IMFMediaType* b, DWORD c), (a, b, c))
    PYX_FORWARD(m_inner, GetInputCurrentType, (DWORD a, IMFMediaType** b), (a, b))
    PYX_FORWARD(m_inner, GetOutputCurrentType, (DWORD a, IMFMediaType** b), (a, b))
    PYX_FORWARD(m_inner, GetInputStatus, (DWORD a, DWORD* b), (a, b))
    PYX_FORWARD(m_inner, GetOutputStatus, (DWORD * a), (a))
    PYX_FORWARD(m_inner, SetOutputBounds, (LONGLONG a, LONGLONG b), (a, b))
    PYX_FORWARD(m_inner, ProcessEvent, (DWORD a, IMFMediaEvent* b), (a, b))
    PYX_FORWARD(m_inner, ProcessMessage, (MFT_MESSAGE_TYPE a, ULONG_PTR b), (a, b))
    PYX_FORWARD(m_inner, ProcessOutput, (DWORD a, DWORD b, MFT_OUTPUT_DATA_BUFFER* c, DWORD* d), (a, b, c, d))
    PYX_FORWARD(m_codec, IsSupported, (const GUID* a), (a))
    PYX_FORWARD(m_codec, IsModifiable, (const GUID* a), (a))
    PYX_FORWARD(m_codec, GetParameterRange, (const GUID* a, VARIANT* b, VARIANT* c, VARIANT* d), (a, b, c, d))
    PYX_FORWARD(m_codec, GetParameterValues, (const GUID* a, VARIANT** b, ULONG* c), (a, b, c))
    PYX_FORWARD(m_codec, GetDefaultValue, (const GUID* a, VARIANT* b), (a, b))
    PYX_FORWARD(m_codec, GetValue, (const GUID* a, VARIANT* b), (a, b))
    PYX_FORWARD(m_codec, SetValue, (const GUID* a, VARIANT* b), (a, b))
    PYX_FORWARD(m_codec, RegisterForEvent, (const GUID* a, LONG_PTR b), (a, b))
    PYX_FORWARD(m_codec, UnregisterForEvent, (const GUID* a), (a))
    PYX_FORWARD(m_codec, SetAllDefaults, (), ())
    PYX_FORWARD(m_codec, SetValueWithNotify, (const GUID* a, VARIANT* b, GUID** c, ULONG* d), (a, b, c, d))
    PYX_FORWARD(m_codec, SetAllDefaultsWithNotify, (GUID * *a, ULONG* b), (a, b))
    PYX_FORWARD(m_codec, GetAllSettings, (IStream * a), (a))
    PYX_FORWARD(m_codec, SetAllSettings, (IStream * a), (a))
    PYX_FORWARD(m_codec, SetAllSettingsWithNotify, (IStream * a, GUID** b, ULONG* c), (a, b, c))
#undef PYX_FORWARD

private:
    ComPtr<IMFTransform> m_inner;
    ComPtr<ICodecAPI> m_codec;
    unsigned m_failAt;
    std::atomic<unsigned> m_inputs{0};
};

} // namespace

TransformEnumerator FailingEncoderAt(unsigned failAt) {
    return [failAt](GUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* input,
                    const MFT_REGISTER_TYPE_INFO* output, IMFActivate*** activates, UINT32* count) {
        TransformClass failing;
        failing.clsid = GuidFromString("0b6f1d2e-3c4a-4b5c-8d9e-0f1a2b3c4d5e");
        failing.category = MFT_CATEGORY_VIDEO_ENCODER;
        failing.friendlyName = L"failing H.264 encoder";
        failing.inputTypes = {{MFMediaType_Video, MFVideoFormat_NV12}};
        failing.outputTypes = {{MFMediaType_Video, MFVideoFormat_H264}};
        failing.create = [failAt](IMFTransform** transform) {
            const MFT_REGISTER_TYPE_INFO h264{MFMediaType_Video, MFVideoFormat_H264};
            IMFActivate** found = nullptr;
            UINT32 foundCount = 0;
            HRESULT hr = MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_SYNCMFT, nullptr, &h264, &found,
                                   &foundCount);
            ComPtr<IMFTransform> inner;
            if (SUCCEEDED(hr))
                hr = foundCount > 0 ? found[0]->ActivateObject(IID_PPV_ARGS(&inner)) : E_FAIL;
            for (UINT32 i = 0; i < foundCount; ++i)
                found[i]->Release();
            CoTaskMemFree(found);
            if (SUCCEEDED(hr))
                *transform = MakeComObject<FailingEncoder>(std::move(inner), failAt).Detach();
            return hr;
        };
        return TransformRegistry({failing}).Enumerate(category, flags, input, output, activates, count);
    };
}
