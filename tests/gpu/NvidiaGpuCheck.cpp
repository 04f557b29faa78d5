// The NVIDIA transforms on the machine's own GPU (never in CI; scripts/gpu-check runs it):
//   nvidia-gpu-check decode FILE.mp4   decodes the file's H.264 or HEVC video through the NVDEC transform and
//                                      compares every picture with libavcodec's (PSNR of the luma)
//   nvidia-gpu-check nvenc             whether the GPU's NVENC opens a session (exit 0) or not (exit 2)
// Exit 1 when the transform fails or its pictures differ from libavcodec's.

#include "Codec/MfCodec.h"
#include "Codec/MfCodecBase.h"
#include "Codec/SampleAttributes.h"
#include "SampleLuma.h"
#include <d3d11.h>
#include <dxgi.h>
#include <mferror.h>
#include <mfidl.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiv::mfcodec::Base;

struct Stream {
    bool hevc = false;
    int width = 0;
    int height = 0;
    std::vector<std::vector<std::uint8_t>> packets; // Annex B access units
};

void Require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error(what);
}

Stream ReadAnnexB(const char* file) {
    AVFormatContext* format = nullptr;
    Require(avformat_open_input(&format, file, nullptr, nullptr) == 0, std::string("cannot open ") + file);
    Require(avformat_find_stream_info(format, nullptr) >= 0, "no stream information");
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    Require(index >= 0, "no video stream");
    const AVCodecParameters* parameters = format->streams[index]->codecpar;
    Stream stream;
    stream.hevc = parameters->codec_id == AV_CODEC_ID_HEVC;
    Require(stream.hevc || parameters->codec_id == AV_CODEC_ID_H264, "the video is neither H.264 nor HEVC");
    stream.width = parameters->width;
    stream.height = parameters->height;
    AVBSFContext* filter = nullptr;
    av_bsf_alloc(av_bsf_get_by_name(stream.hevc ? "hevc_mp4toannexb" : "h264_mp4toannexb"), &filter);
    avcodec_parameters_copy(filter->par_in, parameters);
    filter->time_base_in = format->streams[index]->time_base;
    Require(av_bsf_init(filter) == 0, "no Annex B filter");
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) == 0) {
        if (packet->stream_index == index && av_bsf_send_packet(filter, packet) == 0)
            while (av_bsf_receive_packet(filter, packet) == 0) {
                stream.packets.emplace_back(packet->data, packet->data + packet->size);
                av_packet_unref(packet);
            }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_bsf_free(&filter);
    avformat_close_input(&format);
    return stream;
}

// libavcodec's pictures of the stream, luma only.
std::vector<std::vector<std::uint8_t>> ReferencePictures(const Stream& stream) {
    AVCodecContext* codec =
        avcodec_alloc_context3(avcodec_find_decoder(stream.hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264));
    Require(avcodec_open2(codec, nullptr, nullptr) == 0, "libavcodec cannot decode the stream");
    std::vector<std::vector<std::uint8_t>> pictures;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto receive = [&] {
        while (avcodec_receive_frame(codec, frame) == 0) {
            std::vector<std::uint8_t> luma(std::size_t(stream.width) * stream.height);
            for (int y = 0; y < stream.height; ++y)
                std::memcpy(&luma[std::size_t(y) * stream.width], frame->data[0] + y * frame->linesize[0],
                            stream.width);
            pictures.push_back(std::move(luma));
        }
    };
    for (const auto& unit : stream.packets) {
        packet->data = const_cast<std::uint8_t*>(unit.data());
        packet->size = static_cast<int>(unit.size());
        avcodec_send_packet(codec, packet);
        receive();
    }
    avcodec_send_packet(codec, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    return pictures;
}

struct Gpu {
    ComPtr<ID3D11Device> device;
    ComPtr<IMFDXGIDeviceManager> manager;
    UINT vendor = 0;
};

Gpu OpenGpu() {
    Gpu gpu;
    Require(SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                        D3D11_SDK_VERSION, &gpu.device, nullptr, nullptr)),
            "no device");
    ComPtr<IDXGIDevice> dxgi;
    ComPtr<IDXGIAdapter> adapter;
    DXGI_ADAPTER_DESC desc{};
    if (SUCCEEDED(gpu.device.As(&dxgi)) && SUCCEEDED(dxgi->GetAdapter(&adapter)) &&
        SUCCEEDED(adapter->GetDesc(&desc)))
        gpu.vendor = desc.VendorId;
    UINT token = 0;
    Require(SUCCEEDED(MFCreateDXGIDeviceManager(&token, &gpu.manager)) &&
                SUCCEEDED(gpu.manager->ResetDevice(gpu.device.Get(), token)),
            "no device manager");
    return gpu;
}

ComPtr<Base> Create(const wchar_t* name, const Gpu& gpu) {
    for (unsigned index = 0; const auto* info = kiv::mfcodec::GetStaticCodecInfo(index); ++index)
        if (std::wcscmp(info->friendlyName, name) == 0) {
            EncoderQuery query;
            query.deviceVendor = gpu.vendor;
            ComPtr<Base> codec;
            info->create(codec, query); // throws with the reason
            return codec;
        }
    throw std::runtime_error("no such transform");
}

ComPtr<IMFMediaType> VideoType(REFGUID subtype, int width, int height) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, UINT32(width), UINT32(height));
    MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 60, 1);
    type->SetUINT32(MF_MT_AVG_BITRATE, 4'000'000);
    return type;
}

void Start(Base* codec, const Gpu& gpu, IMFMediaType* input, IMFMediaType* output) {
    Require(SUCCEEDED(codec->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                            reinterpret_cast<ULONG_PTR>(gpu.manager.Get()))),
            "the transform refused the device");
    Require(SUCCEEDED(codec->SetOutputType(0, output, 0)) && SUCCEEDED(codec->SetInputType(0, input, 0)),
            "the transform refused the types");
    Require(SUCCEEDED(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0)),
            "BEGIN_STREAMING failed");
    Require(SUCCEEDED(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0)),
            "START_OF_STREAM failed");
}

MediaEventType NextEvent(Base* codec) {
    for (int i = 0; i < 2000; ++i) {
        ComPtr<IMFMediaEvent> event;
        if (codec->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) == S_OK) {
            MediaEventType type = MEUnknown;
            event->GetType(&type);
            return type;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    throw std::runtime_error("the transform sent no event for 10 s");
}

std::vector<std::uint8_t> Luma(IMFSample* sample, const Gpu& gpu, int width, int height) {
    std::vector<std::uint8_t> luma = SampleLuma(gpu.device.Get(), sample, UINT(width), UINT(height)).luma;
    Require(!luma.empty(), "the output cannot be read");
    return luma;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        squares += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return squares == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / squares);
}

int Decode(const char* file) {
    const Stream stream = ReadAnnexB(file);
    const std::vector<std::vector<std::uint8_t>> reference = ReferencePictures(stream);
    const Gpu gpu = OpenGpu();
    const wchar_t* name =
        stream.hevc ? L"Corvane HEVC Decoder for Nvidia" : L"Corvane H264 Decoder for Nvidia";
    ComPtr<Base> codec = Create(name, gpu);
    Start(codec.Get(), gpu,
          VideoType(stream.hevc ? MFVideoFormat_HEVC : MFVideoFormat_H264, stream.width, stream.height).Get(),
          VideoType(MFVideoFormat_NV12, stream.width, stream.height).Get());
    std::vector<std::vector<std::uint8_t>> pictures;
    // Outputs are taken as they are announced, until the transform asks for the next input.
    const auto takeOutputs = [&] {
        for (MediaEventType type = NextEvent(codec.Get()); type != METransformNeedInput;
             type = NextEvent(codec.Get())) {
            Require(type == METransformHaveOutput, "an unexpected event");
            MFT_OUTPUT_DATA_BUFFER out{};
            DWORD status = 0;
            Require(SUCCEEDED(codec->ProcessOutput(0, 1, &out, &status)), "ProcessOutput failed");
            pictures.push_back(Luma(out.pSample, gpu, stream.width, stream.height));
            out.pSample->Release();
        }
    };
    for (std::size_t i = 0; i < stream.packets.size(); ++i) {
        takeOutputs();
        ComPtr<IMFSample> sample;
        ComPtr<IMFMediaBuffer> buffer;
        MFCreateSample(&sample);
        MFCreateMemoryBuffer(DWORD(stream.packets[i].size()), &buffer);
        BYTE* bytes = nullptr;
        buffer->Lock(&bytes, nullptr, nullptr);
        std::memcpy(bytes, stream.packets[i].data(), stream.packets[i].size());
        buffer->Unlock();
        buffer->SetCurrentLength(DWORD(stream.packets[i].size()));
        sample->AddBuffer(buffer.Get());
        sample->SetSampleTime(LONGLONG(i) * 166'667);
        sample->SetSampleDuration(166'667);
        Require(SUCCEEDED(codec->ProcessInput(0, sample.Get(), 0)),
                "ProcessInput failed at packet " + std::to_string(i));
    }
    takeOutputs();
    codec->Shutdown();
    double lowest = 99.0;
    double sum = 0;
    const std::size_t compared = std::min(pictures.size(), reference.size());
    for (std::size_t i = 0; i < compared; ++i) {
        const double psnr = Psnr(pictures[i], reference[i]);
        lowest = std::min(lowest, psnr);
        sum += psnr;
    }
    std::printf(
        "%s %dx%d: %zu pictures through NVDEC, %zu through libavcodec; luma PSNR min %.1f dB, mean %.1f dB\n",
        stream.hevc ? "HEVC" : "H.264", stream.width, stream.height, pictures.size(), reference.size(),
        lowest, compared == 0 ? 0.0 : sum / double(compared));
    // The pictures the display delay still holds at the end never come out.
    return compared > 0 && pictures.size() + 4 >= reference.size() && lowest >= 40.0 ? 0 : 1;
}

int Nvenc() {
    const Gpu gpu = OpenGpu();
    ComPtr<Base> codec = Create(L"Corvane HEVC Encoder for Nvidia", gpu);
    Start(codec.Get(), gpu, VideoType(MFVideoFormat_NV12, 320, 240).Get(),
          VideoType(MFVideoFormat_HEVC, 320, 240).Get());
    codec->Shutdown();
    std::printf("NVENC opens an HEVC session\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode != "decode" || argc != 3) && (mode != "nvenc" || argc != 2)) {
        std::fprintf(stderr, "usage: %s decode FILE.mp4 | nvenc\n", argv[0]);
        return 1;
    }
    MFStartup(MF_VERSION);
    try {
        const int status = mode == "decode" ? Decode(argv[2]) : Nvenc();
        MFShutdown();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", mode.c_str(), e.what());
        MFShutdown();
        return mode == "nvenc" ? 2 : 1;
    }
}
