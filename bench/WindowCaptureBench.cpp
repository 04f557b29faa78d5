// Per-frame cost of window capture at 1920x1080: the shared-memory grab of the window into the pool texture,
// and the copy of that texture into the texture the pipeline keeps. Run by window-capture.sh, which starts
// the display and the window and names it in PYX_BENCH_WINDOW.

#include "platform/d3d/Texture2D.h"
#include "platform/x11/WindowSource.h"
#include <d3d11.h>
#include <wrl/client.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

struct Fixture {
    std::unique_ptr<x11::WindowSource> source;
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<ID3D11Texture2D> poolTexture;
    ComPtr<ID3D11Texture2D> delivered;
    x11::FrameTarget target;

    Fixture() {
        const char* window = std::getenv("PYX_BENCH_WINDOW");
        if (window == nullptr)
            return;
        source = x11::WindowSource::Open(static_cast<std::uint32_t>(std::strtoul(window, nullptr, 0)));
        if (!source)
            return;
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                          &device, nullptr, &context);
        const CD3D11_TEXTURE2D_DESC desc(DXGI_FORMAT_B8G8R8A8_UNORM, source->Width(), source->Height(), 1, 1);
        device->CreateTexture2D(&desc, nullptr, &poolTexture);
        device->CreateTexture2D(&desc, nullptr, &delivered);
        Texture2D* texture = Texture2D::FromResource(poolTexture.Get());
        target = x11::FrameTarget{texture->Storage(), texture->RowPitch(), desc.Width, desc.Height};
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_WindowGrab(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.source) {
        state.SkipWithError("set PYX_BENCH_WINDOW to a window of a running X display");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(f.source->Grab(f.target, false));
    state.counters["pixels"] = double(f.target.width) * f.target.height;
}

void BM_WindowGrabAndCopy(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.source) {
        state.SkipWithError("set PYX_BENCH_WINDOW to a window of a running X display");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.source->Grab(f.target, false));
        f.context->CopyResource(f.delivered.Get(), f.poolTexture.Get());
    }
}

void BM_TextureCopy(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.source) {
        state.SkipWithError("set PYX_BENCH_WINDOW to a window of a running X display");
        return;
    }
    for (auto _ : state)
        f.context->CopyResource(f.delivered.Get(), f.poolTexture.Get());
}

BENCHMARK(BM_WindowGrab)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowGrabAndCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextureCopy)->Unit(benchmark::kMillisecond);

} // namespace
