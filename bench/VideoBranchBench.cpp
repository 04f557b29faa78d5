// The capture's video branch (video processor + H.264 encoder, set up as the capture sets them up) against
// the ffmpeg command that converts and encodes the same BGRA frames with the same encoder settings, and the
// BGRA to NV12 conversion of one frame alone. CPU counts every thread of the process (or of ffmpeg).

#include "platform/yuv/FrameConverter.h"
#include <codecapi.h>
#include <combaseapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int DistinctFrames = 30;
constexpr int FrameRate = 60;
constexpr int Gop = 2 * FrameRate;
constexpr int Frames = 300;

std::vector<std::uint8_t> Picture(int width, int height, int frame) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    const int block = height / 5;
    const int blockX = (frame * 23) % (width - block);
    const int blockY = (frame * 11) % (height - block);
    for (int row = 0; row < height; ++row) {
        std::uint8_t* line = &pixels[std::size_t(row) * width * 4];
        for (int column = 0; column < width; ++column) {
            const bool inBlock =
                column >= blockX && column < blockX + block && row >= blockY && row < blockY + block;
            line[column * 4] =
                static_cast<std::uint8_t>(inBlock ? 30 : (column + frame * 4) * 255 / (width + 240));
            line[column * 4 + 1] = static_cast<std::uint8_t>(inBlock ? 200 : row * 255 / height);
            line[column * 4 + 2] = static_cast<std::uint8_t>(inBlock ? 240 : ((column ^ row) & 0x3F) + 96);
            line[column * 4 + 3] = 255;
        }
    }
    return pixels;
}

const std::vector<std::vector<std::uint8_t>>& Pictures(int width, int height) {
    static std::vector<std::vector<std::uint8_t>> pictures;
    static int madeWidth = 0;
    if (madeWidth != width) {
        pictures.clear();
        for (int i = 0; i < DistinctFrames; ++i)
            pictures.push_back(Picture(width, height, i));
        madeWidth = width;
    }
    return pictures;
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        throw std::runtime_error(std::string(what) + " failed");
}

ComPtr<IMFMediaType> VideoType(REFGUID subtype, int width, int height) {
    ComPtr<IMFMediaType> type;
    Check(MFCreateMediaType(&type), "MFCreateMediaType");
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, FrameRate, 1);
    MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    type->SetUINT32(MF_MT_AVG_BITRATE, 0);
    return type;
}

void SetValue(ICodecAPI* api, const GUID& key, VARTYPE kind, UINT32 value) {
    VARIANT variant{};
    variant.vt = kind;
    if (kind == VT_BOOL)
        variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    else
        variant.ulVal = value;
    Check(api->SetValue(&key, &variant), "ICodecAPI::SetValue");
}

// Processor and encoder on one device, fed with samples over textures as the sample allocator makes them.
class VideoBranch {
public:
    VideoBranch(int width, int height) {
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        Check(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                &level, 1, D3D11_SDK_VERSION, &m_device, nullptr, nullptr),
              "D3D11CreateDevice");
        UINT token = 0;
        Check(MFCreateDXGIDeviceManager(&token, &m_manager), "MFCreateDXGIDeviceManager");
        Check(m_manager->ResetDevice(m_device.Get(), token), "ResetDevice");
        for (const auto& picture : Pictures(width, height)) {
            D3D11_TEXTURE2D_DESC desc{UINT(width),
                                      UINT(height),
                                      1,
                                      1,
                                      DXGI_FORMAT_B8G8R8A8_UNORM,
                                      {1, 0},
                                      D3D11_USAGE_DEFAULT,
                                      D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE,
                                      0,
                                      0};
            const D3D11_SUBRESOURCE_DATA data{picture.data(), UINT(width) * 4, 0};
            ComPtr<ID3D11Texture2D> texture;
            Check(m_device->CreateTexture2D(&desc, &data, &texture), "CreateTexture2D");
            ComPtr<IMFSample> sample;
            Check(MFCreateVideoSampleFromSurface(texture.Get(), &sample), "MFCreateVideoSampleFromSurface");
            m_inputs.push_back(sample);
        }

        Check(CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&m_processor)),
              "video processor");
        Check(m_processor->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                          reinterpret_cast<ULONG_PTR>(m_manager.Get())),
              "MFT_MESSAGE_SET_D3D_MANAGER");
        ComPtr<IMFAttributes> attributes;
        Check(m_processor->GetAttributes(&attributes), "GetAttributes");
        attributes->SetUINT32(MF_XVP_DISABLE_FRC, TRUE);
        ComPtr<IMFMediaType> nv12 = VideoType(MFVideoFormat_NV12, width, height);
        Check(m_processor->SetOutputType(0, nv12.Get(), 0), "processor output type");
        Check(m_processor->SetInputType(0, VideoType(MFVideoFormat_ARGB32, width, height).Get(), 0),
              "processor input type");

        Check(CoCreateInstance(CLSID_CMSH264EncoderMFT, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&m_encoder)),
              "encoder");
        ComPtr<ICodecAPI> api;
        Check(m_encoder->QueryInterface(&api), "ICodecAPI");
        SetValue(api.Get(), CODECAPI_AVLowLatencyMode, VT_BOOL, 1);
        SetValue(api.Get(), CODECAPI_AVEncMPVGOPSize, VT_UI4, Gop);
        SetValue(api.Get(), CODECAPI_AVEncCommonRateControlMode, VT_UI4, eAVEncCommonRateControlMode_CBR);
        SetValue(api.Get(), CODECAPI_AVEncH264CABACEnable, VT_BOOL, 0);
        ComPtr<IMFMediaType> h264 = VideoType(MFVideoFormat_H264, width, height);
        h264->SetUINT32(MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_High);
        Check(m_encoder->SetOutputType(0, h264.Get(), 0), "encoder output type");
        Check(m_encoder->SetInputType(0, nv12.Get(), 0), "encoder input type");
    }

    // One frame through both transforms; the access unit is dropped.
    std::size_t Push(int index) {
        ComPtr<IMFSample> input = m_inputs[index % m_inputs.size()];
        input->SetSampleTime(LONGLONG(index) * 10'000'000 / FrameRate);
        input->SetSampleDuration(10'000'000 / FrameRate);
        Check(m_processor->ProcessInput(0, input.Get(), 0), "processor input");
        ComPtr<IMFSample> picture = Pull(m_processor.Get());
        Check(m_encoder->ProcessInput(0, picture.Get(), 0), "encoder input");
        std::size_t bytes = 0;
        while (ComPtr<IMFSample> unit = Pull(m_encoder.Get())) {
            DWORD length = 0;
            unit->GetTotalLength(&length);
            bytes += length;
        }
        return bytes;
    }

private:
    static ComPtr<IMFSample> Pull(IMFTransform* transform) {
        MFT_OUTPUT_DATA_BUFFER buffer{0, nullptr, 0, nullptr};
        DWORD status = 0;
        const HRESULT hr = transform->ProcessOutput(0, 1, &buffer, &status);
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
            return nullptr;
        Check(hr, "ProcessOutput");
        ComPtr<IMFSample> sample;
        sample.Attach(buffer.pSample);
        return sample;
    }

    ComPtr<ID3D11Device> m_device;
    ComPtr<IMFDXGIDeviceManager> m_manager;
    std::vector<ComPtr<IMFSample>> m_inputs;
    ComPtr<IMFTransform> m_processor;
    ComPtr<IMFTransform> m_encoder;
};

void Report(benchmark::State& state, double cpuSeconds, int frames) {
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_frame"] = cpuSeconds * 1000 / frames;
}

void BM_VideoBranch(benchmark::State& state) {
    VideoBranch branch(int(state.range(0)), int(state.range(1)));
    for (int i = 0; i < DistinctFrames; ++i)
        branch.Push(i);
    int frames = 0;
    std::size_t bytes = 0;
    const double start = CpuSeconds(RUSAGE_SELF);
    for (auto _ : state)
        bytes += branch.Push(DistinctFrames + frames++);
    Report(state, CpuSeconds(RUSAGE_SELF) - start, frames);
    state.counters["kbytes_per_frame"] = double(bytes) / 1024 / frames;
}

// ffmpeg -f rawvideo -pix_fmt bgra ... -pix_fmt nv12 -c:v libx264 with the encoder settings of the branch,
// fed the same frames through a pipe.
void BM_FfmpegCommand(benchmark::State& state) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const auto& pictures = Pictures(width, height);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string x264 = "keyint=" + std::to_string(Gop) + ":scenecut=0:repeat-headers=1:cabac=0";
    std::vector<std::string> arguments = {"ffmpeg",
                                          "-hide_banner",
                                          "-loglevel",
                                          "error",
                                          "-f",
                                          "rawvideo",
                                          "-pix_fmt",
                                          "bgra",
                                          "-s",
                                          size,
                                          "-r",
                                          std::to_string(FrameRate),
                                          "-i",
                                          "pipe:0",
                                          "-pix_fmt",
                                          "nv12",
                                          "-c:v",
                                          "libx264",
                                          "-preset",
                                          "ultrafast",
                                          "-tune",
                                          "zerolatency",
                                          "-profile:v",
                                          "high",
                                          "-bf",
                                          "0",
                                          "-x264-params",
                                          x264,
                                          "-f",
                                          "null",
                                          "-"};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    const double start = CpuSeconds(RUSAGE_CHILDREN);
    pid_t child = 0;
    if (posix_spawnp(&child, "ffmpeg", &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("ffmpeg did not start");
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    int frames = 0;
    for (auto _ : state) {
        const auto& picture = pictures[frames++ % pictures.size()];
        for (std::size_t written = 0; written < picture.size();) {
            const ssize_t count = write(pipeEnds[1], picture.data() + written, picture.size() - written);
            if (count <= 0)
                throw std::runtime_error("ffmpeg stopped reading");
            written += std::size_t(count);
        }
    }
    close(pipeEnds[1]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError("ffmpeg failed");
    Report(state, CpuSeconds(RUSAGE_CHILDREN) - start, frames);
}

// The third argument is how many distinct frames take turns: 1 converts a frame already in the caches.
void BM_ConvertBgraToNv12(benchmark::State& state) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const std::size_t turns = std::size_t(state.range(2));
    const auto& pictures = Pictures(width, height);
    std::vector<std::uint8_t> nv12(std::size_t(width) * height * 3 / 2);
    yuv::FrameConverter converter;
    int frames = 0;
    const double start = CpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        const auto& picture = pictures[frames++ % turns];
        const bool converted = converter.ToNv12(
            {picture.data(), width * 4, width, height}, 0,
            {nv12.data(), width, nv12.data() + std::size_t(width) * height, width, width, height});
        benchmark::DoNotOptimize(converted);
    }
    Report(state, CpuSeconds(RUSAGE_SELF) - start, frames);
}

} // namespace

BENCHMARK(BM_ConvertBgraToNv12)
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, DistinctFrames})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VideoBranch)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Iterations(Frames)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegCommand)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Iterations(Frames)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
