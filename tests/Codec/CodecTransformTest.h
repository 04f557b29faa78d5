#pragma once
// What the codec transform tests share: a GPU that sysfs (a fake tree) reports with the vendor's id, a device
// and its manager, and a transform of the table driven through the event protocol.

#include "Codec/Exception.h"
#include "Codec/MfCodec.h"
#include "Codec/MfCodecBase.h"
#include "Codec/SampleAttributes.h"
#include "FakeGpuSysfs.h"
#include "FakeRuntimeTest.h"
#include "MediaProbe.h"
#include <codecapi.h>
#include <d3d11.h>
#include <libloaderapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using kiv::mfcodec::Base;
using kiv::mfcodec::RegistrationInfo;

constexpr UINT32 Width = 320;
constexpr UINT32 Height = 240;
constexpr UINT32 BitRate = 2'000'000;

const RegistrationInfo& Entry(const wchar_t* name) {
    for (unsigned index = 0; const RegistrationInfo* info = kiv::mfcodec::GetStaticCodecInfo(index); ++index)
        if (std::wcscmp(info->friendlyName, name) == 0)
            return *info;
    throw std::runtime_error("no such entry");
}

class CodecTransformTest : public FakeRuntimeTest {
protected:
    explicit CodecTransformTest(UINT32 vendorId, const std::string& driver = "nvidia")
        : m_sysfs(vendorId, driver) {
        m_query.deviceVendor = vendorId;
    }

    void SetUp() override {
        setenv("PYX_TEST_SYSFS_ROOT", m_sysfs.Root().c_str(), 1);
        ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                    D3D11_SDK_VERSION, &m_device, nullptr, nullptr),
                  S_OK);
        UINT token = 0;
        ASSERT_EQ(MFCreateDXGIDeviceManager(&token, &m_manager), S_OK);
        ASSERT_EQ(m_manager->ResetDevice(m_device.Get(), token), S_OK);
    }
    void TearDown() override {
        ShutdownCodec();
        MFShutdown();
        unsetenv("PYX_TEST_SYSFS_ROOT");
    }

    void ShutdownCodec() {
        if (m_codec)
            m_codec->Shutdown();
        m_codec = nullptr;
    }

    void Create(const wchar_t* name) {
        const RegistrationInfo& entry = Entry(name);
        entry.create(m_codec, m_query);
        ASSERT_TRUE(m_codec);
    }

    static ComPtr<IMFMediaType> Type(REFGUID subtype, bool rate = true, UINT32 bitRate = BitRate,
                                     UINT32 width = Width, UINT32 height = Height) {
        ComPtr<IMFMediaType> type;
        MFCreateMediaType(&type);
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type->SetGUID(MF_MT_SUBTYPE, subtype);
        if (width != 0)
            MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
        if (rate)
            MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 60, 1);
        type->SetUINT32(MF_MT_AVG_BITRATE, bitRate);
        return type;
    }

    // Sets the manager and the types and starts streaming; the result of BEGIN_STREAMING.
    HRESULT BeginTypes(IMFMediaType* input, IMFMediaType* output) {
        EXPECT_EQ(m_codec->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                          reinterpret_cast<ULONG_PTR>(m_manager.Get())),
                  S_OK);
        EXPECT_EQ(m_codec->SetOutputType(0, output, 0), S_OK);
        EXPECT_EQ(m_codec->SetInputType(0, input, 0), S_OK);
        const HRESULT hr = m_codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(m_codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), S_OK);
        }
        return hr;
    }
    HRESULT Begin(REFGUID output, bool rate = true) {
        return BeginTypes(Type(MFVideoFormat_NV12, rate).Get(), Type(output).Get());
    }

    // The next event of the transform, waiting up to 10 s for it.
    MediaEventType NextEvent() {
        for (int i = 0; i < 1000; ++i) {
            ComPtr<IMFMediaEvent> event;
            if (m_codec->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) == S_OK) {
                MediaEventType type = MEUnknown;
                event->GetType(&type);
                return type;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return MEUnknown;
    }

    // A texture of one grey level: NV12, or B8G8R8A8 with that level in every colour.
    ComPtr<ID3D11Texture2D> Texture(std::uint8_t luma, UINT32 width = Width, UINT32 height = Height,
                                    DXGI_FORMAT format = DXGI_FORMAT_NV12) {
        const bool nv12 = format == DXGI_FORMAT_NV12;
        const UINT pitch = nv12 ? width : width * 4;
        std::vector<std::uint8_t> bytes(std::size_t(pitch) * height * (nv12 ? 3 : 2) / 2, nv12 ? 128 : 255);
        for (std::size_t i = 0; i < std::size_t(pitch) * height; ++i)
            if (nv12 || i % 4 != 3)
                bytes[i] = luma;
        const D3D11_SUBRESOURCE_DATA data{bytes.data(), pitch, 0};
        CD3D11_TEXTURE2D_DESC desc(format, width, height, 1, 1);
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&desc, &data, &texture), S_OK);
        return texture;
    }

    // Gives one frame in `texture` when the transform asks for it; the result of ProcessInput.
    HRESULT Give(ID3D11Texture2D* texture, UINT32 frame, bool withStream = true) {
        EXPECT_EQ(NextEvent(), METransformNeedInput);
        ComPtr<IMFSample> sample;
        ComPtr<IMFMediaBuffer> buffer;
        MFCreateSample(&sample);
        EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture, 0, FALSE, &buffer), S_OK);
        sample->AddBuffer(buffer.Get());
        sample->SetSampleTime(LONGLONG(frame) * 166'667);
        sample->SetSampleDuration(166'667);
        sample->SetUINT32(KIV_GUID_FRAMENUM, frame);
        if (withStream)
            sample->SetUINT32(KIV_GUID_STREAMNUM, 7);
        return m_codec->ProcessInput(0, sample.Get(), 0);
    }

    // Gives one frame in `texture` and takes its packet; null when the transform refused either.
    ComPtr<IMFSample> Encode(ID3D11Texture2D* texture, UINT32 frame, bool withStream = true) {
        if (Give(texture, frame, withStream) != S_OK)
            return nullptr;
        EXPECT_EQ(NextEvent(), METransformHaveOutput);
        MFT_OUTPUT_DATA_BUFFER out{};
        DWORD status = 0;
        if (m_codec->ProcessOutput(0, 1, &out, &status) != S_OK)
            return nullptr;
        ComPtr<IMFSample> packet;
        packet.Attach(out.pSample);
        return packet;
    }

    // The bytes of a packet the transform gave.
    static std::vector<BYTE> Bytes(IMFSample* sample) {
        ComPtr<IMFMediaBuffer> buffer;
        EXPECT_EQ(sample->ConvertToContiguousBuffer(&buffer), S_OK);
        BYTE* bytes = nullptr;
        DWORD length = 0;
        EXPECT_EQ(buffer->Lock(&bytes, nullptr, &length), S_OK);
        std::vector<BYTE> copy(bytes, bytes + length);
        buffer->Unlock();
        return copy;
    }

    void ForceKeyFrame() {
        ComPtr<ICodecAPI> api;
        ASSERT_EQ(m_codec.As(&api), S_OK);
        VARIANT value{};
        value.vt = VT_UI4;
        value.ulVal = 1;
        ASSERT_EQ(api->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, &value), S_OK);
    }

    FakeGpuSysfs m_sysfs;
    ComPtr<ID3D11Device> m_device;
    ComPtr<IMFDXGIDeviceManager> m_manager;
    EncoderQuery m_query;
    ComPtr<Base> m_codec;
};

} // namespace
