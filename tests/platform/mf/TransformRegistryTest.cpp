// MFTEnumEx over the platform's transforms and over a registry of stand-ins, the activation objects it hands
// out, and CoCreateInstance.

#include "platform/mf/TransformRegistry.h"
#include "platform/mf/VideoProcessorTransform.h"
#include "platform/win/ClassRegistry.h"
#include <combaseapi.h>
#include <mfapi.h>
#include <mfidl.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Takes ownership of an MFTEnumEx result.
struct Activates {
    IMFActivate** array = nullptr;
    UINT32 count = 0;
    ~Activates() {
        for (UINT32 i = 0; i < count; ++i)
            array[i]->Release();
        CoTaskMemFree(array);
    }
    std::wstring Name(UINT32 index) const {
        wchar_t name[128] = {};
        array[index]->GetString(MFT_FRIENDLY_NAME_Attribute, name, 128, nullptr);
        return name;
    }
};

std::vector<MFT_REGISTER_TYPE_INFO> Blob(IMFActivate* activate, REFGUID key) {
    UINT32 size = 0;
    activate->GetBlobSize(key, &size);
    std::vector<MFT_REGISTER_TYPE_INFO> types(size / sizeof(MFT_REGISTER_TYPE_INFO));
    activate->GetBlob(key, reinterpret_cast<UINT8*>(types.data()), size, nullptr);
    return types;
}

TransformClass StandIn(const wchar_t* name, UINT32 kind, const wchar_t* vendor = L"") {
    return {GUID_NULL,
            MFT_CATEGORY_VIDEO_ENCODER,
            kind,
            name,
            {{MFMediaType_Video, MFVideoFormat_NV12}},
            {{MFMediaType_Video, MFVideoFormat_H264}},
            vendor,
            {},
            &VideoProcessorTransform::Create};
}

} // namespace

TEST(TransformEnumeration, PlatformEncodersAreSynchronousSoftwareTransforms) {
    const MFT_REGISTER_TYPE_INFO h264{MFMediaType_Video, MFVideoFormat_H264};
    Activates software;
    ASSERT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_SYNCMFT, nullptr, &h264, &software.array,
                        &software.count),
              S_OK);
    ASSERT_EQ(software.count, 1u);
    EXPECT_EQ(software.Name(0), L"H.264 Encoder (libx264)");
    const auto inputs = Blob(software.array[0], MFT_INPUT_TYPES_Attributes);
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].guidSubtype, MFVideoFormat_NV12);
    EXPECT_EQ(Blob(software.array[0], MFT_OUTPUT_TYPES_Attributes)[0].guidSubtype, MFVideoFormat_H264);
    GUID clsid = GUID_NULL;
    EXPECT_EQ(software.array[0]->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_CMSH264EncoderMFT);
    UINT32 async = 0;
    EXPECT_EQ(software.array[0]->GetUINT32(MF_TRANSFORM_ASYNC, &async), MF_E_ATTRIBUTENOTFOUND);

    // Without a working render node there are no hardware encoders, which is an empty answer, not an error.
    Activates hardware;
    hardware.count = 7;
    EXPECT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_HARDWARE, nullptr, &h264, &hardware.array,
                        &hardware.count),
              S_OK);
    EXPECT_EQ(hardware.count, 0u);
    EXPECT_EQ(hardware.array, nullptr);
}

TEST(TransformEnumeration, TypesNarrowTheListAndANullSubtypeMatchesAny) {
    Activates all;
    ASSERT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT, nullptr,
                        nullptr, &all.array, &all.count),
              S_OK);
    ASSERT_EQ(all.count, 2u);
    EXPECT_EQ(all.Name(1), L"HEVC Encoder (libx265)");

    const MFT_REGISTER_TYPE_INFO anyVideo{MFMediaType_Video, GUID_NULL};
    const MFT_REGISTER_TYPE_INFO argb{MFMediaType_Video, MFVideoFormat_ARGB32};
    Activates nv12Only;
    ASSERT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, 0, &argb, &anyVideo, &nv12Only.array, &nv12Only.count),
              S_OK);
    EXPECT_EQ(nv12Only.count, 0u);

    const MFT_REGISTER_TYPE_INFO pcm{MFMediaType_Audio, MFAudioFormat_PCM};
    const MFT_REGISTER_TYPE_INFO flac{MFMediaType_Audio, MFAudioFormat_FLAC};
    Activates audio;
    ASSERT_EQ(
        MFTEnumEx(MFT_CATEGORY_AUDIO_ENCODER, MFT_ENUM_FLAG_SYNCMFT, &pcm, &flac, &audio.array, &audio.count),
        S_OK);
    ASSERT_EQ(audio.count, 1u);
    EXPECT_EQ(audio.Name(0), L"FLAC Encoder");
}

TEST(TransformEnumeration, NullOutPointersAreRefused) {
    IMFActivate** array = nullptr;
    UINT32 count = 0;
    EXPECT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, 0, nullptr, nullptr, nullptr, &count), E_POINTER);
    EXPECT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, 0, nullptr, nullptr, &array, nullptr), E_POINTER);
}

TEST(TransformEnumeration, KindsAreListedOnlyForTheirFlagAndCarryTheirAttributes) {
    const TransformRegistry registry({StandIn(L"soft", MFT_ENUM_FLAG_SYNCMFT),
                                      StandIn(L"async", MFT_ENUM_FLAG_ASYNCMFT),
                                      StandIn(L"hard", MFT_ENUM_FLAG_HARDWARE, L"VEN_10DE")});
    Activates hardware;
    ASSERT_EQ(registry.Enumerate(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_HARDWARE, nullptr, nullptr,
                                 &hardware.array, &hardware.count),
              S_OK);
    ASSERT_EQ(hardware.count, 1u);
    EXPECT_EQ(hardware.Name(0), L"hard");
    wchar_t vendor[16] = {};
    EXPECT_EQ(hardware.array[0]->GetString(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, vendor, 16, nullptr), S_OK);
    EXPECT_EQ(std::wstring(vendor), L"VEN_10DE");
    EXPECT_EQ(MFGetAttributeUINT32(hardware.array[0], MF_TRANSFORM_ASYNC, 0), 1u);

    Activates software;
    ASSERT_EQ(registry.Enumerate(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT,
                                 nullptr, nullptr, &software.array, &software.count),
              S_OK);
    ASSERT_EQ(software.count, 2u);
    EXPECT_EQ(software.Name(0), L"soft");
    EXPECT_EQ(software.Name(1), L"async");
    EXPECT_EQ(software.array[0]->GetItem(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, nullptr),
              MF_E_ATTRIBUTENOTFOUND);
}

TEST(TransformActivation, HandsOutOneTransformUntilDetachedAndPassesClientAttributesOn) {
    const TransformRegistry registry({StandIn(L"soft", MFT_ENUM_FLAG_SYNCMFT)});
    Activates list;
    ASSERT_EQ(registry.Enumerate(MFT_CATEGORY_VIDEO_ENCODER, 0, nullptr, nullptr, &list.array, &list.count),
              S_OK);
    ASSERT_EQ(list.count, 1u);
    IMFActivate* activate = list.array[0];
    ASSERT_EQ(activate->SetUINT32(MF_LOW_LATENCY, 1), S_OK);

    ComPtr<IMFTransform> first;
    ComPtr<IMFTransform> again;
    ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&first)), S_OK);
    ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&again)), S_OK);
    EXPECT_EQ(first.Get(), again.Get());
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(first->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_LOW_LATENCY, 0), 1u);
    // The class description stays on the activation object.
    EXPECT_EQ(attributes->GetItem(MFT_FRIENDLY_NAME_Attribute, nullptr), MF_E_ATTRIBUTENOTFOUND);

    ComPtr<IMFVideoProcessorControl> control;
    EXPECT_EQ(activate->ActivateObject(IID_PPV_ARGS(&control)), S_OK);
    ComPtr<IMFMediaEvent> notOffered;
    EXPECT_EQ(activate->ActivateObject(IID_PPV_ARGS(&notOffered)), E_NOINTERFACE);
    EXPECT_EQ(notOffered, nullptr);

    ASSERT_EQ(activate->DetachObject(), S_OK);
    ComPtr<IMFTransform> fresh;
    ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&fresh)), S_OK);
    EXPECT_NE(fresh.Get(), first.Get());
}

TEST(TransformActivation, AFailingFactoryIsReportedWithTheOutPointerCleared) {
    TransformClass broken = StandIn(L"broken", MFT_ENUM_FLAG_SYNCMFT);
    broken.create = [](IMFTransform** transform) {
        *transform = nullptr;
        return E_FAIL;
    };
    const TransformRegistry registry({broken});
    Activates list;
    ASSERT_EQ(registry.Enumerate(MFT_CATEGORY_VIDEO_ENCODER, 0, nullptr, nullptr, &list.array, &list.count),
              S_OK);
    void* object = &list;
    EXPECT_EQ(list.array[0]->ActivateObject(UuidOf<IMFTransform>(), &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(list.array[0]->ActivateObject(UuidOf<IMFTransform>(), nullptr), E_POINTER);
}

TEST(ClassCreation, CreatesThePlatformTransformsByTheirClassIds) {
    ComPtr<IMFTransform> processor;
    ASSERT_EQ(
        CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&processor)),
        S_OK);
    ComPtr<IMFVideoProcessorControl> control;
    EXPECT_EQ(processor->QueryInterface(&control), S_OK);

    ComPtr<IMFTransform> resampler;
    ASSERT_EQ(CoCreateInstance(CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMFTransform, &resampler),
              S_OK);
    EXPECT_NE(resampler, nullptr);

    ComPtr<IMFTransform> hevc;
    EXPECT_EQ(CoCreateInstance(CLSID_PlatformHevcEncoderMFT, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&hevc)), S_OK);
}

TEST(ClassCreation, RefusesUnknownClassesAggregationAndOutOfProcessContexts) {
    ComPtr<IMFTransform> transform;
    const CLSID unknown = GuidFromString("01234567-89ab-cdef-0123-456789abcdef");
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&transform)), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(transform, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&transform)),
        REGDB_E_CLASSNOTREG);
    ComPtr<IMFTransform> outer;
    ASSERT_EQ(VideoProcessorTransform::Create(&outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_VideoProcessorMFT, outer.Get(), CLSCTX_ALL, IID_PPV_ARGS(&transform)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_ALL, UuidOf<IMFTransform>(), nullptr),
              E_POINTER);
}

TEST(ClassCreation, RegisteredClassesAreCreatedThroughTheirFactory) {
    const CLSID clsid = GuidFromString("9f4a8b3e-2f1d-4c55-8e0b-1a2b3c4d5e6f");
    int calls = 0;
    RegisterPlatformClass(clsid, [&](REFIID riid, void** ppv) {
        ++calls;
        ComPtr<IMFTransform> transform;
        const HRESULT hr = VideoProcessorTransform::Create(&transform);
        return SUCCEEDED(hr) ? transform->QueryInterface(riid, ppv) : hr;
    });
    ComPtr<IMFTransform> created;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created)), S_OK);
    EXPECT_EQ(calls, 1);
    RegisterPlatformClass(clsid, [](REFIID, void**) { return E_ACCESSDENIED; });
}
