#include "Codec/DriverVersion.h"
#include "Codec/IntelVaDisplay.h"
#include "Codec/MfHelperIntel.h"
#include "FakeRuntimeTest.h"
#include "MediaProbe.h"
#include "StderrCapture.h"
#include "TempDirectory.h"
#include <libloaderapi.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

using kiv::Error;
using kiv::RuntimeLibrary;
using kiv::intel::VplInterface;
using Microsoft::WRL::ComPtr;

class IntelRuntimeTest : public FakeRuntimeTest {
protected:
    IntelRuntimeTest() {
        // The dispatcher's priority folder: implementations there come before any it ranks, so a GPU runtime
        // installed on the machine cannot take the fake's place.
        ::setenv("ONEVPL_PRIORITY_PATH", std::filesystem::path(FakeRuntimes("intel-runtime")).c_str(), 1);
        m_fake = LoadLibraryW((FakeRuntimes("intel-runtime") + L"/libmfx-gen.so.1.2").c_str());
        if (const auto setApiVersion = Control<void(mfxU32)>("fakeVplSetApiVersion"))
            setApiVersion(0x0002000A); // each test starts from 2.10
    }
    ~IntelRuntimeTest() override {
        kiv::intel::VaDisplays::useDisplayForTests(nullptr);
        ::unsetenv("ONEVPL_PRIORITY_PATH");
        if (m_fake != nullptr)
            FreeLibrary(m_fake);
    }
    template <typename Function>
    Function* Control(const char* name) {
        return reinterpret_cast<Function*>(GetProcAddress(m_fake, name));
    }
    // The real dispatcher under the test search directory, and a device whose sessions get a stand-in
    // display (the test machine may have no render node).
    void UseDispatcher() {
        RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel"));
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                    D3D11_SDK_VERSION, &device, nullptr, nullptr),
                  S_OK);
        kiv::intel::VaDisplays::useDisplayForTests(&display);
    }

    HMODULE m_fake = nullptr;
    ComPtr<ID3D11Device> device;
    int display = 0;
};

TEST_F(IntelRuntimeTest, AMissingDispatcherOrEntryPointLeavesTheBindingUnloaded) {
    TempDirectory empty;
    RuntimeLibrary::setSearchDirectoryForTests(empty.Root().wstring());
    VplInterface vpl;
    EXPECT_EQ(vpl.load_(), Error::DllNotFound);
    EXPECT_TRUE(log.Matches(
        "ERROR \\(m_dll != nullptr\\) does not hold \\[kiv::intel::VplInterface::load_@[0-9]+\\]"));

    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel-incomplete"));
    EXPECT_EQ(vpl.load_(), Error::EntryPointNotFound);
    EXPECT_TRUE(log.Matches("ERROR \\(Unload = \\(decltype\\(::MFXUnload\\)\\*\\)::GetProcAddress\\(m_dll, "
                            "\"MFX\" \"Unload\"\\)\\) does not hold .*"));
    EXPECT_FALSE(vpl.isLoaded_());
    EXPECT_EQ(vpl.Load, nullptr);
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel-no-loader"));
    EXPECT_EQ(vpl.load_(), Error::InitFailed);
    EXPECT_TRUE(log.Matches("ERROR \\(m_loader = Load\\(\\)\\) does not hold .*"));
    EXPECT_FALSE(vpl.isLoaded_());

    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel"));
    ASSERT_EQ(vpl.load_(), Error::None);
    EXPECT_TRUE(vpl.isLoaded_());
    EXPECT_EQ(vpl.load_(), Error::None);
}

// Debian's dispatcher finds the fake implementation on its own search path, filters it by the session's
// properties and makes the session on it.
TEST_F(IntelRuntimeTest, TheRealDispatcherMakesSessionsOnTheFakeImplementation) {
    ASSERT_NE(m_fake, nullptr);
    const auto setApiVersion = Control<void(mfxU32)>("fakeVplSetApiVersion");
    const auto openSessions = Control<std::size_t()>("fakeVplOpenSessions");
    const auto lastDisplay = Control<mfxHDL()>("fakeVplLastDisplay");
    const auto lastMode = Control<mfxU32()>("fakeVplLastAccelerationMode");
    ASSERT_TRUE(setApiVersion && openSessions && lastDisplay && lastMode);
    UseDispatcher();
    ASSERT_FALSE(HasFatalFailure());
    StderrCapture complaints;

    // An implementation of API 2.9 serves decoders (2.4) but not encoders (2.10).
    setApiVersion(0x00020009);
    VplInterface encoderVpl;
    ASSERT_EQ(encoderVpl.load_(), Error::None);
    EXPECT_EQ(encoderVpl.implementationApiVersion_(), 0x00020009u);
    mfxSession session = nullptr;
    EXPECT_EQ(std::uint32_t(encoderVpl.createSession_(&session, device.Get(), MFX_CODEC_AVC, true, false)),
              0xA55D3009u); // MFX_ERR_NOT_FOUND
    EXPECT_EQ(session, nullptr);
    EXPECT_TRUE(log.Matches(".*CreateSession\\(m_loader, 0, outSession\\).* -> 0xA55D3009 .*"));

    VplInterface decoderVpl;
    ASSERT_EQ(decoderVpl.load_(), Error::None);
    ASSERT_EQ(decoderVpl.createSession_(&session, device.Get(), MFX_CODEC_HEVC, false, true), S_OK);
    EXPECT_EQ(openSessions(), 1u);
    EXPECT_EQ(lastMode(), mfxU32(MFX_ACCEL_MODE_VIA_VAAPI));
    EXPECT_EQ(lastDisplay(), &display);
    mfxHDL handle = nullptr;
    EXPECT_EQ(decoderVpl.VideoCORE_GetHandle(session, MFX_HANDLE_VA_DISPLAY, &handle), MFX_ERR_NONE);
    EXPECT_EQ(handle, &display);
    EXPECT_EQ(decoderVpl.Close(session), MFX_ERR_NONE);
    EXPECT_EQ(openSessions(), 0u);

    // At 2.10 an encoder session for H.264 is found; a codec the library does not name is refused up front.
    setApiVersion(0x0002000A);
    VplInterface laterVpl;
    ASSERT_EQ(laterVpl.load_(), Error::None);
    EXPECT_EQ(laterVpl.implementationApiVersion_(), 0x0002000Au);
    ASSERT_EQ(laterVpl.createSession_(&session, device.Get(), MFX_CODEC_AVC, true, false), S_OK);
    EXPECT_EQ(laterVpl.Close(session), MFX_ERR_NONE);
    EXPECT_EQ(laterVpl.createSession_(&session, device.Get(), MFX_CODEC_VP9, true, false), E_INVALIDARG);
    EXPECT_TRUE(
        log.Matches(".*\\(mfcodec::In\\(codecFourCC, MFX_CODEC_AV1, MFX_CODEC_AVC, MFX_CODEC_HEVC\\)\\) "
                    "does not hold .*"));
    EXPECT_EQ(laterVpl.createSession_(nullptr, device.Get(), MFX_CODEC_AVC, true, false), E_INVALIDARG);
    EXPECT_EQ(openSessions(), 0u);

    // The implementation's API version stands in for the driver version of an Intel adapter.
    const std::uint64_t kernelRelease = kiv::mfcodec::PackVersion(6, 1, 0, 18);
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x8086, kernelRelease), kiv::mfcodec::IntelEncoderDriver);
    setApiVersion(0x00020009);
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x8086, kernelRelease), kiv::mfcodec::IntelDecoderDriver);
    EXPECT_EQ(complaints.Text().find("fake oneVPL"), std::string::npos) << complaints.Text();
}

// Frame `index` of a moving bar, written into a mapped surface.
void Paint(mfxFrameSurface1& surface, int index) {
    const mfxFrameInfo& info = surface.Info;
    const int pitch = surface.Data.PitchLow;
    for (int y = 0; y < info.CropH; ++y) {
        for (int x = 0; x < info.CropW; ++x) {
            const bool bar = (x / 16) % 8 == index % 8;
            if (info.FourCC == MFX_FOURCC_NV12) {
                surface.Data.Y[y * pitch + x] = bar ? 235 : 16 + y % 64;
                surface.Data.UV[(y / 2) * pitch + x] = bar ? 90 : 128;
            } else {
                mfxU8* pixel = surface.Data.B + y * pitch + x * 4;
                pixel[0] = bar ? 255 : 0;
                pixel[1] = static_cast<mfxU8>(y);
                pixel[2] = bar ? 0 : 200;
                pixel[3] = 255;
            }
        }
    }
}

struct EncodedStream {
    std::vector<mfxU16> frameTypes;
    std::vector<mfxU64> timeStamps;
};

// Encodes `frames` frames on the session as an encoder transform would (one in flight, synchronised before
// the next), forcing a key frame at `forcedKeyFrame`, and writes the stream to `file`.
EncodedStream Encode(VplInterface& vpl, mfxSession session, int frames, int forcedKeyFrame,
                     const std::filesystem::path& file) {
    EncodedStream stream;
    std::vector<mfxU8> buffer(0x400000);
    std::ofstream out(file, std::ios::binary);
    mfxBitstream bitstream{};
    bitstream.Data = buffer.data();
    bitstream.MaxLength = static_cast<mfxU32>(buffer.size());
    const auto collect = [&](mfxSyncPoint sync) {
        EXPECT_EQ(vpl.VideoCORE_SyncOperation(session, sync, 1000), MFX_ERR_NONE);
        out.write(reinterpret_cast<const char*>(bitstream.Data + bitstream.DataOffset), bitstream.DataLength);
        stream.frameTypes.push_back(bitstream.FrameType);
        stream.timeStamps.push_back(bitstream.TimeStamp);
        bitstream.DataLength = 0;
    };
    for (int index = 0; index < frames; ++index) {
        mfxFrameSurface1* surface = nullptr;
        EXPECT_EQ(vpl.Memory_GetSurfaceForEncode(session, &surface), MFX_ERR_NONE);
        EXPECT_EQ(surface->FrameInterface->Map(surface, MFX_MAP_WRITE), MFX_ERR_NONE);
        Paint(*surface, index);
        EXPECT_EQ(surface->FrameInterface->Unmap(surface), MFX_ERR_NONE);
        surface->Data.TimeStamp = 1500u * static_cast<mfxU64>(index); // 90 kHz at 60 frames a second
        mfxEncodeCtrl control{};
        control.FrameType = MFX_FRAMETYPE_I | MFX_FRAMETYPE_IDR;
        mfxSyncPoint sync = nullptr;
        mfxStatus status = MFX_WRN_DEVICE_BUSY;
        while (status == MFX_WRN_DEVICE_BUSY)
            status = vpl.VideoENCODE_EncodeFrameAsync(session, index == forcedKeyFrame ? &control : nullptr,
                                                      surface, &bitstream, &sync);
        EXPECT_EQ(surface->FrameInterface->Release(surface), MFX_ERR_NONE);
        if (status == MFX_ERR_NONE)
            collect(sync);
        else
            EXPECT_EQ(status, MFX_ERR_MORE_DATA);
    }
    for (mfxSyncPoint sync = nullptr;
         vpl.VideoENCODE_EncodeFrameAsync(session, nullptr, nullptr, &bitstream, &sync) == MFX_ERR_NONE;)
        collect(sync);
    return stream;
}

TEST_F(IntelRuntimeTest, TheFakeImplementationEncodesPlayableStreams) {
    const auto answer = Control<void(mfxStatus, int)>("fakeVplAnswer");
    const auto liveSurfaces = Control<std::size_t()>("fakeVplLiveSurfaces");
    ASSERT_TRUE(answer && liveSurfaces);
    UseDispatcher();
    ASSERT_FALSE(HasFatalFailure());
    StderrCapture complaints;
    TempDirectory folder;
    VplInterface vpl;
    ASSERT_EQ(vpl.load_(), Error::None);

    for (const bool hevc : {false, true}) {
        mfxSession session = nullptr;
        ASSERT_EQ(
            vpl.createSession_(&session, device.Get(), hevc ? MFX_CODEC_HEVC : MFX_CODEC_AVC, true, false),
            S_OK);
        mfxVideoParam params{};
        params.AsyncDepth = 1;
        params.IOPattern = MFX_IOPATTERN_IN_SYSTEM_MEMORY;
        params.mfx.CodecId = hevc ? MFX_CODEC_HEVC : MFX_CODEC_AVC;
        mfxFrameInfo& info = params.mfx.FrameInfo;
        info.FourCC = hevc ? MFX_FOURCC_RGB4 : MFX_FOURCC_NV12;
        info.ChromaFormat = hevc ? MFX_CHROMAFORMAT_YUV444 : MFX_CHROMAFORMAT_YUV420;
        info.Width = info.CropW = hevc ? 320 : 1366;
        info.Height = info.CropH = hevc ? 240 : 768;
        info.FrameRateExtN = 60;
        info.FrameRateExtD = 1;
        info.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
        params.mfx.RateControlMethod = MFX_RATECONTROL_VBR;
        params.mfx.TargetKbps = 4000;
        params.mfx.GopRefDist = 1;
        params.mfx.BufferSizeInKB = 4194;

        // The runtime rounds the width up to its alignment and says so.
        mfxVideoParam corrected{};
        corrected.mfx.CodecId = params.mfx.CodecId;
        EXPECT_EQ(vpl.VideoENCODE_Query(session, &params, &corrected),
                  hevc ? MFX_ERR_NONE : MFX_WRN_INCOMPATIBLE_VIDEO_PARAM);
        EXPECT_EQ(corrected.mfx.FrameInfo.Width, hevc ? 320 : 1376);
        EXPECT_EQ(corrected.mfx.FrameInfo.CropW, hevc ? 320 : 1366);
        ASSERT_EQ(vpl.VideoENCODE_Init(session, &corrected), MFX_ERR_NONE);
        EXPECT_EQ(vpl.VideoENCODE_Init(session, &corrected), MFX_ERR_UNDEFINED_BEHAVIOR);

        answer(MFX_WRN_DEVICE_BUSY, 2);
        const std::filesystem::path file = folder.Path(hevc ? "stream.hevc" : "stream.h264");
        const int frames = hevc ? 6 : 30;
        const EncodedStream stream = Encode(vpl, session, frames, 3, file);
        ASSERT_EQ(stream.frameTypes.size(), std::size_t(frames));
        EXPECT_NE(stream.frameTypes[0] & MFX_FRAMETYPE_IDR, 0);
        EXPECT_EQ(stream.frameTypes[1] & MFX_FRAMETYPE_IDR, 0);
        EXPECT_NE(stream.frameTypes[3] & MFX_FRAMETYPE_IDR, 0);
        EXPECT_EQ(stream.timeStamps[frames - 1], 1500u * static_cast<mfxU64>(frames - 1));
        EXPECT_EQ(vpl.VideoENCODE_Close(session), MFX_ERR_NONE);
        EXPECT_EQ(vpl.Close(session), MFX_ERR_NONE);
        EXPECT_EQ(liveSurfaces(), 0u);

        const auto streams = ProbeStreams(file);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].at("codec_name"), hevc ? "hevc" : "h264");
        EXPECT_EQ(streams[0].at("width"), hevc ? "320" : "1366");
        EXPECT_EQ(streams[0].at("height"), hevc ? "240" : "768");
        EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(frames));
    }
    // The second Init of each session was refused loudly, and nothing else was.
    const std::string secondInit = "fake oneVPL: MFXVideoENCODE_Init: initialised already\n";
    EXPECT_EQ(complaints.Text(), secondInit + secondInit);
}

TEST(IntelStatusTest, StatusCodesBecomeHresults) {
    using kiv::intel::ToHresult;
    EXPECT_EQ(ToHresult(MFX_ERR_NONE), S_OK);
    EXPECT_EQ(std::uint32_t(ToHresult(MFX_ERR_MORE_DATA)), 0xA55D300Au);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-18))), 0xA55D3012u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-24))), 0xA55D3018u);
    EXPECT_EQ(std::uint32_t(ToHresult(MFX_WRN_DEVICE_BUSY)), 0x255D3402u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(13))), 0x255D340Du);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(11))), 0xA55D380Bu);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-20))), 0xA55D3FECu);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-25))), 0xA55D3FE7u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(14))), 0xA55D380Eu);
}

TEST(IntelDispatcherScanTest, TheNewestDispatcherOfTheFoldersWins) {
    TempDirectory root;
    const auto folders = kiv::intel::DispatcherFolders(
        (root.Path("old").string() + "::" + root.Path("new").string() + ":" + root.Path("none").string())
            .c_str());
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders[folders.size() - 3], root.Path("old"));
    EXPECT_EQ(folders.back(), root.Path("none"));
    EXPECT_EQ(kiv::intel::DispatcherFolders(nullptr).size(), folders.size() - 3);

    const std::vector<std::filesystem::path> scanned(folders.end() - 3, folders.end());
    EXPECT_TRUE(kiv::intel::NewestFile(scanned, "libvpl.so.2").empty());
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const char* folder : {"old", "new"}) {
        std::filesystem::create_directory(root.Path(folder));
        std::ofstream(root.Path(folder) / "libvpl.so.2") << folder;
    }
    std::filesystem::last_write_time(root.Path("old") / "libvpl.so.2", now - std::chrono::hours(1));
    std::filesystem::last_write_time(root.Path("new") / "libvpl.so.2", now);
    EXPECT_EQ(kiv::intel::NewestFile(scanned, "libvpl.so.2"), root.Path("new") / "libvpl.so.2");
    // Among equal times the first folder stays.
    std::filesystem::last_write_time(root.Path("old") / "libvpl.so.2", now);
    EXPECT_EQ(kiv::intel::NewestFile(scanned, "libvpl.so.2"), root.Path("old") / "libvpl.so.2");
}

} // namespace
