// Captures one window through the graphics-capture source for a number of seconds, copying every delivered
// frame into a texture of its own as the pipeline does, and prints the frames and the CPU time used.
//   capture-cpu WINDOW SECONDS

#include "Capture/RTCapture.h"
#include "CpuTime.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: capture-cpu WINDOW SECONDS\n");
        return 2;
    }
    const auto window =
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoul(argv[1], nullptr, 0)));
    const int seconds = std::atoi(argv[2]);
    std::atomic<int> frames{0};
    ComPtr<ID3D11Texture2D> copy;
    ID3D11Device* device = nullptr;
    CaptureSettings settings;
    settings.hwnd = window;
    settings.frameRate = 60;
    settings.hideCursor = 1;
    settings.noBorder = 1;
    settings.frameCallback = [&](ID3D11Texture2D* texture, std::int64_t, std::int64_t) {
        if (!copy) {
            D3D11_TEXTURE2D_DESC desc{};
            texture->GetDesc(&desc);
            device->CreateTexture2D(&desc, nullptr, &copy);
        }
        ComPtr<ID3D11DeviceContext> context;
        device->GetImmediateContext(&context);
        context->CopyResource(copy.Get(), texture);
        ++frames;
    };
    RTCapture capture(settings);
    device = capture.Device();
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    capture.Start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    capture.Stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("frames %d in %.1f s (%.1f/s), cpu %.2f s (%.1f%% of one core)\n", frames.load(), wall,
                frames.load() / wall, cpu, 100.0 * cpu / wall);
    return 0;
}
