#include "TestVideoCapture.h"

#include "Capture/RTCapture.h"
#include "TestMediaTypes.h"
#include <mfapi.h>
#include <pyx/CaptureClock.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

VideoSettings SmallVideo() {
    VideoSettings settings;
    settings.width = 320;
    settings.height = 240;
    return settings;
}

ComPtr<IMFMediaType> MakeUnwritableVideoType() {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32);
    return type;
}

} // namespace

TestVideoCapture::TestVideoCapture(HMONITOR, HWND window)
    : m_videoSettings(SmallVideo()), m_videoEncoder(m_videoSettings), m_audioEncoder(m_audioSettings) {
    const char* silent = std::getenv("PYX_TEST_CAPTURE_SILENT_MONITOR");
    m_silent = window == nullptr && silent != nullptr && std::strcmp(silent, "1") == 0;

    const char* videoType = std::getenv("PYX_TEST_CAPTURE_VIDEO_TYPE");
    m_videoType = videoType != nullptr && std::strcmp(videoType, "raw") == 0 ? MakeUnwritableVideoType()
                                                                             : MakeVideoType(m_videoSettings);
    m_audioType =
        MakeAacType(m_audioSettings.sampleRate, m_audioSettings.channels, m_audioEncoder.CodecConfig());
    if (window != nullptr) {
        CaptureSettings settings;
        settings.hwnd = window;
        settings.frameCallback = [this](ID3D11Texture2D* texture, std::int64_t, std::int64_t) {
            if (m_observer)
                m_observer(m_device.Get(), texture);
        };
        m_source = std::make_unique<RTCapture>(settings);
        m_device = m_source->Device();
    } else if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                        D3D11_SDK_VERSION, &m_device, nullptr, nullptr))) {
        throw std::runtime_error("no device");
    }
}

TestVideoCapture::~TestVideoCapture() { Stop(nullptr); }

void TestVideoCapture::Start(RingFile* ring, std::uint32_t baseTime) {
    m_packetHandler.Start(ring, baseTime);
    if (m_source)
        m_source->Start();
    m_thread = std::thread(&TestVideoCapture::Encode, this);
}

void TestVideoCapture::Stop(std::uint32_t* latestEndTime) {
    if (!m_stopped) {
        m_stopped = true;
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_source)
            m_source->Stop();
    }
    const std::uint32_t end = m_packetHandler.Stop();
    if (latestEndTime != nullptr)
        *latestEndTime = end;
}

CaptureReport TestVideoCapture::Report() const {
    CaptureReport report;
    report.anchor = m_packetHandler.Anchor(m_startTime);
    report.videoEncoder = {m_videoSettings.encoder, false};
    report.audioEncoder = EncoderDescription{m_audioSettings.encoder, false};
    return report;
}

// Encodes frames and audio as their time comes, like a live capture.
void TestVideoCapture::Encode() {
    const auto start = std::chrono::steady_clock::now();
    m_startTime = pyx::CaptureTime().count();
    const std::int64_t framePeriod = 10'000'000 / m_videoSettings.frameRate;
    const std::int64_t audioPeriod =
        std::int64_t{10'000'000} * m_audioEncoder.FrameSamples() / m_audioSettings.sampleRate;
    int frame = 0;
    std::int64_t audioTime = 0;
    // The audio encoder holds its first frames back; prime it so that the first video frame, a key frame,
    // finds the start gate open.
    for (bool primed = false; !primed; audioTime += audioPeriod) {
        const std::vector<EncodedPacket> packets = m_audioEncoder.EncodeNext();
        primed = !packets.empty();
        Write(RingStreamKind::Audio, packets);
    }
    while (!m_stop) {
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count() /
            100;
        // Audio first at equal times: the start gate opens on audio.
        while (audioTime <= now) {
            Write(RingStreamKind::Audio, m_audioEncoder.EncodeNext());
            audioTime += audioPeriod;
        }
        while (frame * framePeriod <= now)
            Write(RingStreamKind::Video, m_videoEncoder.Encode(frame++));
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
}

void TestVideoCapture::Write(RingStreamKind kind, const std::vector<EncodedPacket>& packets) {
    if (m_silent)
        return;
    for (const EncodedPacket& packet : packets) {
        ComPtr<IMFAttributes> attributes;
        MFCreateAttributes(&attributes, 1);
        if (packet.cleanPoint)
            attributes->SetUINT32(MFSampleExtension_CleanPoint, 1);
        m_packetHandler.OnPacket(kind, packet.time, packet.duration, packet.data.data(),
                                 static_cast<DWORD>(packet.data.size()), attributes.Get());
    }
}
