// The oneVPL decoder transforms over Debian's dispatcher and the fake implementation, fed with what the Intel
// encoder transform made: a stream is taken up from its first header, each picture reaches the crop-sized
// output texture with its input's time and numbers, and the runtime's answers and misaligned inputs are
// coped with.

#include "IntelTransformTest.h"
#include "SampleLuma.h"

#include <atomic>

namespace {

// Memory whose bytes start `offset` bytes past a 64-byte boundary, as a demultiplexer's buffer may.
class OffsetBuffer final : public IMFMediaBuffer {
public:
    OffsetBuffer(const std::vector<BYTE>& bytes, std::size_t offset)
        : m_storage(bytes.size() + 64 + offset), m_length(DWORD(bytes.size())) {
        const auto base = reinterpret_cast<std::uintptr_t>(m_storage.data());
        m_data = m_storage.data() + ((64 - base % 64) % 64) + offset;
        std::copy(bytes.begin(), bytes.end(), m_data);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != __uuidof(IUnknown) && riid != __uuidof(IMFMediaBuffer))
            return E_NOINTERFACE;
        *ppv = static_cast<IMFMediaBuffer*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Lock(BYTE** data, DWORD* maxLength, DWORD* currentLength) override {
        *data = m_data;
        if (maxLength != nullptr)
            *maxLength = m_length;
        if (currentLength != nullptr)
            *currentLength = m_length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* length) override {
        *length = m_length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override { return GetCurrentLength(length); }

private:
    std::atomic<ULONG> m_references{1};
    std::vector<BYTE> m_storage;
    BYTE* m_data = nullptr;
    DWORD m_length = 0;
};

class IntelDecoderTest : public IntelTransformTest {
protected:
    // `count` pictures of the grey levels first + step n, from the encoder transform `name`.
    std::vector<std::vector<BYTE>> EncodedPictures(const wchar_t* name, REFGUID subtype, UINT32 width,
                                                   UINT32 height, UINT32 count, int first, int step) {
        Create(name);
        EXPECT_EQ(BeginTypes(Type(MFVideoFormat_NV12, true, BitRate, width, height).Get(),
                             Type(subtype, true, BitRate, width, height).Get()),
                  S_OK);
        std::vector<std::vector<BYTE>> packets;
        for (UINT32 frame = 0; frame < count; ++frame) {
            const ComPtr<IMFSample> packet =
                Encode(Texture(std::uint8_t(first + step * int(frame)), width, height).Get(), frame);
            packets.push_back(packet ? Bytes(packet.Get()) : std::vector<BYTE>());
        }
        m_codec->Shutdown();
        m_codec = nullptr;
        m_observe(true);
        return packets;
    }

    // Gives one compressed picture at `time`, its bytes `offset` past a 64-byte boundary, numbered unless
    // `frame` is 0xFFFFFFFF; the result of ProcessInput.
    HRESULT GiveCompressed(const std::vector<BYTE>& bytes, LONGLONG time, UINT32 frame,
                           std::size_t offset = 0) {
        EXPECT_EQ(NextEvent(), METransformNeedInput);
        ComPtr<IMFSample> sample;
        MFCreateSample(&sample);
        ComPtr<IMFMediaBuffer> buffer;
        buffer.Attach(new OffsetBuffer(bytes, offset));
        sample->AddBuffer(buffer.Get());
        sample->SetSampleTime(time);
        sample->SetSampleDuration(166'667);
        if (frame != 0xFFFFFFFF) {
            sample->SetUINT32(KIV_GUID_FRAMENUM, frame);
            sample->SetUINT32(KIV_GUID_STREAMNUM, 3);
        }
        return m_codec->ProcessInput(0, sample.Get(), 0);
    }

    // The picture the transform has ready.
    ComPtr<IMFSample> Picture() {
        EXPECT_EQ(NextEvent(), METransformHaveOutput);
        MFT_OUTPUT_DATA_BUFFER out{};
        DWORD status = 0;
        EXPECT_EQ(m_codec->ProcessOutput(0, 1, &out, &status), S_OK);
        ComPtr<IMFSample> sample;
        sample.Attach(out.pSample);
        return sample;
    }

    double MeanLuma(IMFSample* sample, UINT32 width, UINT32 height) {
        const SampleLumaPlane plane = SampleLuma(m_device.Get(), sample, width, height);
        double sum = 0;
        for (const std::uint8_t value : plane.luma)
            sum += value;
        return plane.luma.empty() ? 0.0 : sum / double(plane.luma.size());
    }
};

TEST_F(IntelDecoderTest, TakesAStreamUpAtItsFirstHeaderIntoACropSizedTexture) {
    constexpr UINT32 W = 1920;
    constexpr UINT32 H = 1080;
    const auto packets =
        EncodedPictures(L"Corvane HEVC Encoder for Intel", MFVideoFormat_HEVC, W, H, 3, 50, 30);
    m_query.speedQualityPreset = -1;
    Create(L"Corvane HEVC Decoder for Intel");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_HEVC, true, BitRate, W, H).Get(),
                         Type(MFVideoFormat_NV12, true, BitRate, W, H).Get()),
              S_OK);

    // A picture before any sequence header: the header's error, no picture, and the next input is asked for.
    EXPECT_EQ(std::uint32_t(GiveCompressed(packets[1], 0, 1)), 0xA55D300Au); // MFX_ERR_MORE_DATA
    EXPECT_TRUE(log.Matches("ERROR .*Vpl.VideoDECODE_DecodeHeader.* -> 0xA55D300A .*"));

    // The key frame at 1 s, without numbers: 90 kHz for the runtime, the input's time for the picture.
    ASSERT_EQ(GiveCompressed(packets[0], 10'000'000, 0xFFFFFFFF), S_OK);
    const FakeVplObservations seen = m_observe(false);
    EXPECT_EQ(seen.lastTimeStamp, 90'000u);
    EXPECT_EQ(seen.lastDataFlag, MFX_BITSTREAM_COMPLETE_FRAME);
    EXPECT_EQ(seen.decodeInit.AsyncDepth, 1);
    EXPECT_EQ(seen.decodeInit.IOPattern, MFX_IOPATTERN_OUT_SYSTEM_MEMORY);
    EXPECT_EQ(seen.decodeInit.mfx.CodecId, mfxU32(MFX_CODEC_HEVC));
    ComPtr<IMFSample> picture = Picture();
    LONGLONG time = 0;
    picture->GetSampleTime(&time);
    EXPECT_EQ(time, 10'000'000);
    EXPECT_EQ(MFGetAttributeUINT32(picture.Get(), KIV_GUID_FRAMENUM, 999), 999u);
    EXPECT_EQ(MFGetAttributeUINT32(picture.Get(), KIV_GUID_STREAMNUM, 999), 999u);
    EXPECT_EQ(MFGetAttributeUINT32(picture.Get(), MFSampleExtension_Interlaced, 999), 0u);
    // The texture has the picture's size, not the runtime's 16-aligned surface size (1088 rows).
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFDXGIBuffer> dxgi;
    ComPtr<ID3D11Texture2D> texture;
    ASSERT_EQ(picture->GetBufferByIndex(0, &buffer), S_OK);
    ASSERT_EQ(buffer.As(&dxgi), S_OK);
    ASSERT_EQ(dxgi->GetResource(IID_PPV_ARGS(&texture)), S_OK);
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    EXPECT_EQ(desc.Width, W);
    EXPECT_EQ(desc.Height, H);
    EXPECT_EQ(desc.Format, DXGI_FORMAT_NV12);
    EXPECT_NEAR(MeanLuma(picture.Get(), W, H), 50, 3.0);

    for (UINT32 frame = 1; frame < packets.size(); ++frame) {
        ASSERT_EQ(GiveCompressed(packets[frame], 10'000'000 + frame * 166'667, frame), S_OK);
        picture = Picture();
        EXPECT_EQ(MFGetAttributeUINT32(picture.Get(), KIV_GUID_FRAMENUM, 999), frame);
        EXPECT_EQ(MFGetAttributeUINT32(picture.Get(), KIV_GUID_STREAMNUM, 999), 3u);
        EXPECT_NEAR(MeanLuma(picture.Get(), W, H), 50 + 30 * frame, 3.0) << frame;
    }
    EXPECT_EQ(NextEvent(), METransformNeedInput);
}

TEST_F(IntelDecoderTest, MisalignedInputsBusyRetriesAndNeedMoreData) {
    const auto packets =
        EncodedPictures(L"Corvane H.264 Encoder for Intel", MFVideoFormat_H264, Width, Height, 4, 60, 20);
    Create(L"Corvane H.264 Decoder for Intel");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_H264).Get(), Type(MFVideoFormat_NV12).Get()), S_OK);

    // A misaligned input is decoded from the staging copy.
    ASSERT_EQ(GiveCompressed(packets[0], 0, 0, 5), S_OK);
    EXPECT_NEAR(MeanLuma(Picture().Get(), Width, Height), 60, 3.0);
    EXPECT_EQ(m_observe(false).decodeInit.AsyncDepth, 0);
    EXPECT_EQ(m_observe(false).misalignedBitstreams, 0);
    // A busy runtime is asked again.
    m_answer(MFX_WRN_DEVICE_BUSY, 2);
    ASSERT_EQ(GiveCompressed(packets[1], 166'667, 1, 32), S_OK);
    EXPECT_NEAR(MeanLuma(Picture().Get(), Width, Height), 80, 3.0);
    // A misaligned input larger than the staging buffer is refused, losing nothing of the stream.
    EXPECT_EQ(GiveCompressed(std::vector<BYTE>(0x400001), 333'333, 2, 1), MF_E_BUFFERTOOSMALL);
    EXPECT_TRUE(log.Matches("ERROR \\(bytes <= StagingBytes\\) does not hold .*"));
    ASSERT_EQ(GiveCompressed(packets[2], 333'333, 2), S_OK);
    EXPECT_NEAR(MeanLuma(Picture().Get(), Width, Height), 100, 3.0);
    // The runtime waits for more data: no picture for this input, and the next one is asked for.
    m_answer(MFX_ERR_MORE_DATA, 1);
    ASSERT_EQ(GiveCompressed(packets[3], 500'000, 3), S_OK);
    const std::string length = std::to_string(packets[3].size());
    EXPECT_TRUE(log.Contains("WARN [INTEL DEC] Need more data: 3, 0, " + length + ", " + length));
    EXPECT_EQ(NextEvent(), METransformNeedInput);
}

} // namespace
