// The sample grabber sink, tracked samples, DXGI surface buffers and the DXGI device manager.

#include "TestCallback.h"
#include "TransformTestSupport.h"
#include "platform/d3d/Texture2D.h"
#include "platform/mf/MfDxgiSurfaceBuffer.h"
#include <d3d11.h>
#include <mferror.h>
#include <mfidl.h>
#include <pyx/CaptureClock.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Records the notifications of a grabber sink; answers IMFSampleGrabberSinkCallback2 only when asked to.
class GrabberCallback final : public ComObject<IMFSampleGrabberSinkCallback2> {
public:
    explicit GrabberCallback(bool extended) : m_extended(extended) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!m_extended && riid == __uuidof(IMFSampleGrabberSinkCallback2)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME, LONGLONG offset) override {
        return Add("start " + std::to_string(offset));
    }
    HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME) override { return Add("stop"); }
    HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME) override { return Add("pause"); }
    HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME) override { return Add("restart"); }
    HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME, float) override { return Add("rate"); }
    HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock*) override { return Add("clock"); }
    HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID, DWORD, LONGLONG time, LONGLONG, const BYTE*,
                                              DWORD size) override {
        return Add("plain " + std::to_string(time) + " " + std::to_string(size));
    }
    HRESULT STDMETHODCALLTYPE OnShutdown() override { return Add("shutdown"); }
    HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID, DWORD, LONGLONG time, LONGLONG, const BYTE*,
                                                DWORD size, IMFAttributes* attributes) override {
        return Add("extended " + std::to_string(time) + " " + std::to_string(size) +
                   (MFGetAttributeUINT32(attributes, MFSampleExtension_CleanPoint, 0) != 0 ? " key" : ""));
    }

    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    HRESULT Add(std::string call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
        return S_OK;
    }

    const bool m_extended;
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

ComPtr<IMFSample> SampleOf(DWORD size, LONGLONG time) {
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    MFCreateSample(&sample);
    MFCreateMemoryBuffer(size, &buffer);
    buffer->SetCurrentLength(size);
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(time);
    sample->SetSampleDuration(10);
    return sample;
}

class GrabberSinkTest : public ::testing::Test {
protected:
    void Activate(bool extended, bool ignoreClock) {
        m_callback = MakeComObject<GrabberCallback>(extended);
        MFCreateMediaType(&m_type);
        m_type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
        ASSERT_EQ(MFCreateSampleGrabberSinkActivate(m_type.Get(), m_callback.Get(), &m_activate), S_OK);
        m_activate->SetUINT32(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, ignoreClock ? 1 : 0);
        ASSERT_EQ(m_activate->ActivateObject(IID_PPV_ARGS(&m_sink)), S_OK);
        ASSERT_EQ(m_sink->GetStreamSinkByIndex(0, &m_stream), S_OK);
        ASSERT_EQ(m_sink->QueryInterface(IID_PPV_ARGS(&m_clock)), S_OK);
    }

    PlatformStarted m_platform;
    ComPtr<GrabberCallback> m_callback;
    ComPtr<IMFMediaType> m_type;
    ComPtr<IMFActivate> m_activate;
    ComPtr<IMFMediaSink> m_sink;
    ComPtr<IMFStreamSink> m_stream;
    ComPtr<IMFClockStateSink> m_clock;
};

TEST_F(GrabberSinkTest, OneSinkWithOneStreamOfTheGivenType) {
    Activate(true, true);
    ComPtr<IMFMediaSink> again;
    ASSERT_EQ(m_activate->ActivateObject(IID_PPV_ARGS(&again)), S_OK);
    EXPECT_EQ(again, m_sink);
    DWORD value = 0;
    ASSERT_EQ(m_sink->GetCharacteristics(&value), S_OK);
    EXPECT_EQ(value, DWORD(MEDIASINK_FIXED_STREAMS | MEDIASINK_RATELESS));
    ASSERT_EQ(m_sink->GetStreamSinkCount(&value), S_OK);
    EXPECT_EQ(value, 1u);
    ComPtr<IMFStreamSink> stream;
    EXPECT_EQ(m_sink->GetStreamSinkByIndex(1, &stream), MF_E_INVALIDINDEX);
    EXPECT_EQ(m_sink->GetStreamSinkById(3, &stream), MF_E_INVALIDSTREAMNUMBER);
    ComPtr<IMFMediaSink> owner;
    ASSERT_EQ(m_stream->GetMediaSink(&owner), S_OK);
    EXPECT_EQ(owner, m_sink);
    ComPtr<IMFMediaTypeHandler> handler;
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(m_stream->GetMediaTypeHandler(&handler), S_OK);
    ASSERT_EQ(handler->GetCurrentMediaType(&current), S_OK);
    EXPECT_EQ(current, m_type);
}

TEST_F(GrabberSinkTest, SamplesGoToTheCallbackOnceTheClockRunsAndEachIsFollowedByARequest) {
    Activate(true, true);
    EXPECT_EQ(m_stream->ProcessSample(SampleOf(4, 0).Get()), MF_E_INVALIDREQUEST);
    ASSERT_EQ(m_clock->OnClockStart(0, 25), S_OK);
    EXPECT_EQ(QueuedEventTypes(m_stream.Get()),
              (std::vector<MediaEventType>{MEStreamSinkStarted, MEStreamSinkRequestSample}));
    ComPtr<IMFSample> sample = SampleOf(4, 1000);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    ASSERT_EQ(m_stream->ProcessSample(sample.Get()), S_OK);
    EXPECT_EQ(QueuedEventTypes(m_stream.Get()), (std::vector<MediaEventType>{MEStreamSinkRequestSample}));
    ASSERT_EQ(m_clock->OnClockStop(0), S_OK);
    EXPECT_EQ(QueuedEventTypes(m_stream.Get()), (std::vector<MediaEventType>{MEStreamSinkStopped}));

    EXPECT_EQ(m_sink->Shutdown(), S_OK);
    EXPECT_EQ(m_sink->Shutdown(), MF_E_SHUTDOWN);
    EXPECT_EQ(m_stream->ProcessSample(sample.Get()), MF_E_SHUTDOWN);
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(m_stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    EXPECT_EQ(m_callback->Calls(),
              (std::vector<std::string>{"start 25", "extended 1000 4 key", "stop", "shutdown"}));
}

TEST_F(GrabberSinkTest, ACallbackWithoutTheExtendedInterfaceGetsPlainSamples) {
    Activate(false, true);
    m_clock->OnClockStart(0, 0);
    ASSERT_EQ(m_stream->ProcessSample(SampleOf(3, 7).Get()), S_OK);
    EXPECT_EQ(m_callback->Calls().back(), "plain 7 3");
    m_sink->Shutdown();
}

TEST_F(GrabberSinkTest, OnTheClockASampleWaitsForItsTimeAndAStopDropsIt) {
    Activate(true, false);
    m_clock->OnClockStart(pyx::CaptureTime().count(), 0);
    // Due an hour after the clock started.
    auto processed = std::async(std::launch::async,
                                [&] { return m_stream->ProcessSample(SampleOf(2, 36000000000).Get()); });
    EXPECT_EQ(processed.wait_for(50ms), std::future_status::timeout);
    m_clock->OnClockStop(0);
    EXPECT_EQ(processed.get(), S_OK);
    EXPECT_EQ(m_callback->Calls(), (std::vector<std::string>{"start 0", "stop"}));
    // A sample already due goes at once.
    m_clock->OnClockStart(pyx::CaptureTime().count(), 0);
    EXPECT_EQ(m_stream->ProcessSample(SampleOf(2, 0).Get()), S_OK);
    EXPECT_EQ(m_callback->Calls().back(), "extended 0 2");
    m_sink->Shutdown();
}

class CountingAllocator final : public ComObject<IMFAsyncCallback> {
public:
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override {
        ComPtr<IUnknown> object;
        result->GetObject(&object);
        returned = object.Get();
        thread = std::this_thread::get_id();
        ++calls;
        if (keep)
            kept = object;
        return S_OK;
    }

    IUnknown* returned = nullptr;
    std::thread::id thread;
    int calls = 0;
    bool keep = false;
    ComPtr<IUnknown> kept;
};

TEST(SessionTrackedSampleTest, TheLastReleaseCallsTheAllocatorOnceOnTheReleasingThread) {
    const auto allocator = MakeComObject<CountingAllocator>();
    allocator->keep = true;
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateVideoSampleFromSurface(nullptr, &sample), S_OK);
    ComPtr<IMFTrackedSample> tracked;
    ASSERT_EQ(sample->QueryInterface(IID_PPV_ARGS(&tracked)), S_OK);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(tracked->QueryInterface(IID_PPV_ARGS(&identity)), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(sample.Get()));
    ASSERT_EQ(tracked->SetAllocator(allocator.Get(), nullptr), S_OK);
    EXPECT_EQ(tracked->SetAllocator(allocator.Get(), nullptr), MF_E_NOTACCEPTING);
    sample->SetSampleTime(42);
    IUnknown* const address = identity.Get();
    identity = nullptr;
    tracked = nullptr;
    sample = nullptr;
    EXPECT_EQ(allocator->calls, 1);
    EXPECT_EQ(allocator->returned, address);
    EXPECT_EQ(allocator->thread, std::this_thread::get_id());

    // The allocator kept it: it lives on, and without a new SetAllocator its next release frees it.
    ASSERT_EQ(allocator->kept->QueryInterface(IID_PPV_ARGS(&sample)), S_OK);
    LONGLONG time = 0;
    EXPECT_EQ(sample->GetSampleTime(&time), S_OK);
    EXPECT_EQ(time, 42);
    allocator->kept = nullptr;
    sample = nullptr;
    EXPECT_EQ(allocator->calls, 1);
}

class SurfaceBufferTest : public ::testing::Test {
protected:
    SurfaceBufferTest() {
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                          &m_device, nullptr, nullptr);
    }

    ComPtr<ID3D11Texture2D> Texture(UINT width, UINT height, DXGI_FORMAT format) {
        const D3D11_TEXTURE2D_DESC desc{width, height, 1, 1, format, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&desc, nullptr, &texture), S_OK);
        return texture;
    }

    // The platform's surface buffer over subresource 0 of `texture`, top-down.
    ComPtr<MfDxgiSurfaceBuffer> Surface(ID3D11Texture2D* texture) {
        ComPtr<IMFMediaBuffer> buffer;
        EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture, 0, FALSE, &buffer), S_OK);
        return ComPtr<MfDxgiSurfaceBuffer>(dynamic_cast<MfDxgiSurfaceBuffer*>(buffer.Get()));
    }

    ComPtr<ID3D11Device> m_device;
};

TEST_F(SurfaceBufferTest, LockGivesPackedRowsAndWritesThemBackOnUnlock) {
    const auto texture = Texture(6, 4, DXGI_FORMAT_B8G8R8A8_UNORM);
    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture.Get(), 0, FALSE, &buffer), S_OK);
    BYTE* data = nullptr;
    DWORD maxLength = 0;
    DWORD length = 0;
    ASSERT_EQ(buffer->Lock(&data, &maxLength, &length), S_OK);
    EXPECT_EQ(maxLength, 6u * 4 * 4);
    EXPECT_EQ(length, maxLength);
    for (DWORD i = 0; i < maxLength; ++i)
        data[i] = BYTE(i);
    ASSERT_EQ(buffer->Unlock(), S_OK);

    ComPtr<IMF2DBuffer> buffer2D;
    ASSERT_EQ(buffer->QueryInterface(IID_PPV_ARGS(&buffer2D)), S_OK);
    BYTE* scanline = nullptr;
    LONG pitch = 0;
    ASSERT_EQ(buffer2D->Lock2D(&scanline, &pitch), S_OK);
    EXPECT_EQ(pitch, 64);
    EXPECT_EQ(scanline[0], 0);
    EXPECT_EQ(scanline[pitch], 24); // the second row starts after 6 pixels of 4 bytes
    EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), MF_E_INVALIDREQUEST);
    ASSERT_EQ(buffer2D->Unlock2D(), S_OK);
    EXPECT_EQ(buffer2D->Unlock2D(), MF_E_INVALIDREQUEST);
    BOOL contiguous = TRUE;
    ASSERT_EQ(buffer2D->IsContiguousFormat(&contiguous), S_OK);
    EXPECT_FALSE(contiguous);
    std::vector<BYTE> small(10);
    EXPECT_EQ(buffer2D->ContiguousCopyTo(small.data(), DWORD(small.size())), E_INVALIDARG);

    ComPtr<IMFDXGIBuffer> dxgiBuffer;
    ComPtr<ID3D11Texture2D> resource;
    UINT subresource = 9;
    ASSERT_EQ(buffer->QueryInterface(IID_PPV_ARGS(&dxgiBuffer)), S_OK);
    ASSERT_EQ(dxgiBuffer->GetResource(IID_PPV_ARGS(&resource)), S_OK);
    EXPECT_EQ(resource, texture);
    ASSERT_EQ(dxgiBuffer->GetSubresourceIndex(&subresource), S_OK);
    EXPECT_EQ(subresource, 0u);
}

TEST_F(SurfaceBufferTest, ReadersPayATexturesOwedAlphaUnlessTheyIgnoreIt) {
    const auto texture = Texture(2, 1, DXGI_FORMAT_B8G8R8A8_UNORM);
    Texture2D* pixels = Texture2D::FromResource(texture.Get());
    ASSERT_NE(pixels, nullptr);
    pixels->OweOpaqueAlpha(true);
    const ComPtr<MfDxgiSurfaceBuffer> surface = Surface(texture.Get());
    ASSERT_NE(surface, nullptr);
    BYTE* scanline = nullptr;
    LONG pitch = 0;
    // A conversion to YUV reads the colours only.
    ASSERT_EQ(surface->Lock2DForColour(&scanline, &pitch), S_OK);
    EXPECT_EQ(scanline[3], 0);
    ASSERT_EQ(surface->Unlock2D(), S_OK);
    EXPECT_TRUE(pixels->OwesOpaqueAlpha());
    ASSERT_EQ(surface->Lock2D(&scanline, &pitch), S_OK);
    EXPECT_EQ(scanline[3], 0xFF);
    EXPECT_EQ(scanline[7], 0xFF);
    ASSERT_EQ(surface->Unlock2D(), S_OK);

    // Whatever a writer puts in every byte is the texture's content, alpha included.
    pixels->OweOpaqueAlpha(true);
    const BYTE packed[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(surface->ContiguousCopyFrom(packed, sizeof(packed)), S_OK);
    EXPECT_FALSE(pixels->OwesOpaqueAlpha());
    BYTE out[8] = {};
    ASSERT_EQ(surface->ContiguousCopyTo(out, sizeof(out)), S_OK);
    EXPECT_EQ(out[3], 4);
}

TEST_F(SurfaceBufferTest, AColourReaderOfACopyReadsItsSourceAndNothingMore) {
    const auto source = Texture(2, 1, DXGI_FORMAT_B8G8R8A8_UNORM);
    const auto copy = Texture(2, 1, DXGI_FORMAT_B8G8R8A8_UNORM);
    ComPtr<ID3D11DeviceContext> context;
    m_device->GetImmediateContext(&context);
    const std::uint32_t pixels[2] = {0xFF010203, 0xFF040506};
    context->UpdateSubresource(source.Get(), 0, nullptr, pixels, 8, 0);
    context->CopyResource(copy.Get(), source.Get());
    const ComPtr<MfDxgiSurfaceBuffer> surface = Surface(copy.Get());
    ASSERT_NE(surface, nullptr);

    BYTE* colours = nullptr;
    LONG pitch = 0;
    ASSERT_EQ(surface->Lock2DForColour(&colours, &pitch), S_OK);
    EXPECT_EQ(colours, reinterpret_cast<BYTE*>(Texture2D::FromResource(source.Get())->Storage()));
    BYTE* scanline = nullptr;
    EXPECT_EQ(surface->GetScanline0AndPitch(&scanline, &pitch), S_OK);
    EXPECT_EQ(scanline, colours);
    // Rows that may be written must be the copy's own.
    EXPECT_EQ(surface->Lock2D(&scanline, &pitch), MF_E_INVALIDREQUEST);
    ASSERT_EQ(surface->Unlock2D(), S_OK);

    ASSERT_EQ(surface->Lock2D(&scanline, &pitch), S_OK);
    EXPECT_EQ(scanline, reinterpret_cast<BYTE*>(Texture2D::FromResource(copy.Get())->Storage()));
    EXPECT_EQ(scanline[4], 0x06);
    scanline[4] = 0x07;
    ASSERT_EQ(surface->Unlock2D(), S_OK);
    std::uint32_t first = 0;
    std::memcpy(&first, Texture2D::FromResource(source.Get())->Storage() + 4, 4);
    EXPECT_EQ(first, 0xFF040506u);
}

TEST_F(SurfaceBufferTest, TwoPlaneAndBottomUpLayouts) {
    const auto nv12 = Texture(8, 4, DXGI_FORMAT_NV12);
    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), nv12.Get(), 0, FALSE, &buffer), S_OK);
    DWORD length = 0;
    ASSERT_EQ(buffer->GetMaxLength(&length), S_OK);
    EXPECT_EQ(length, 8u * 4 * 3 / 2);

    const auto bgra = Texture(1, 3, DXGI_FORMAT_B8G8R8A8_UNORM);
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), bgra.Get(), 0, TRUE, &buffer), S_OK);
    ComPtr<IMF2DBuffer> buffer2D;
    ASSERT_EQ(buffer->QueryInterface(IID_PPV_ARGS(&buffer2D)), S_OK);
    const BYTE rows[12] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3};
    ASSERT_EQ(buffer2D->ContiguousCopyFrom(rows, sizeof(rows)), S_OK);
    BYTE* scanline = nullptr;
    LONG pitch = 0;
    ASSERT_EQ(buffer2D->Lock2D(&scanline, &pitch), S_OK);
    // The packed image is bottom-up: its first row is the texture's last.
    EXPECT_EQ(scanline[0], 3);
    EXPECT_EQ(scanline[2 * pitch], 1);
    buffer2D->Unlock2D();
}

TEST_F(SurfaceBufferTest, OnlyTexturesOfThisPlatformBySubresource) {
    const auto texture = Texture(2, 2, DXGI_FORMAT_B8G8R8A8_UNORM);
    ComPtr<IMFMediaBuffer> buffer;
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Device), texture.Get(), 0, FALSE, &buffer),
              E_INVALIDARG);
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture.Get(), 1, FALSE, &buffer),
              E_INVALIDARG);
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), nullptr, 0, FALSE, &buffer), E_POINTER);
    EXPECT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), m_device.Get(), 0, FALSE, &buffer),
              E_NOINTERFACE);
    EXPECT_EQ(buffer, nullptr);
    // A sample made over a texture already holds its buffer.
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateVideoSampleFromSurface(texture.Get(), &sample), S_OK);
    DWORD count = 0;
    sample->GetBufferCount(&count);
    EXPECT_EQ(count, 1u);
}

TEST_F(SurfaceBufferTest, TheDeviceManagerSharesOneDeviceOneHolderAtATime) {
    UINT token = 0;
    ComPtr<IMFDXGIDeviceManager> manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&token, &manager), S_OK);
    HANDLE first = nullptr;
    EXPECT_EQ(manager->OpenDeviceHandle(&first), MF_E_DXGI_DEVICE_NOT_INITIALIZED);
    EXPECT_EQ(manager->ResetDevice(m_device.Get(), token + 1), E_INVALIDARG);
    ASSERT_EQ(manager->ResetDevice(m_device.Get(), token), S_OK);
    HANDLE second = nullptr;
    ASSERT_EQ(manager->OpenDeviceHandle(&first), S_OK);
    ASSERT_EQ(manager->OpenDeviceHandle(&second), S_OK);
    ComPtr<ID3D11Device> device;
    ASSERT_EQ(manager->LockDevice(first, IID_PPV_ARGS(&device), FALSE), S_OK);
    EXPECT_EQ(device, m_device);
    ComPtr<ID3D11Device> other;
    EXPECT_EQ(manager->LockDevice(second, IID_PPV_ARGS(&other), FALSE), MF_E_DXGI_VIDEO_DEVICE_LOCKED);
    EXPECT_EQ(manager->UnlockDevice(second, FALSE), E_INVALIDARG);
    auto waiting = std::async(std::launch::async, [&] {
        ComPtr<ID3D11Device> blocked;
        const HRESULT hr = manager->LockDevice(second, IID_PPV_ARGS(&blocked), TRUE);
        if (SUCCEEDED(hr))
            manager->UnlockDevice(second, FALSE);
        return hr;
    });
    EXPECT_EQ(waiting.wait_for(30ms), std::future_status::timeout);
    ASSERT_EQ(manager->UnlockDevice(first, FALSE), S_OK);
    EXPECT_EQ(waiting.get(), S_OK);

    ComPtr<ID3D11Device> service;
    EXPECT_EQ(manager->GetVideoService(first, IID_PPV_ARGS(&service)), S_OK);
    // A new device makes every open handle stale.
    ASSERT_EQ(manager->ResetDevice(m_device.Get(), token), S_OK);
    EXPECT_EQ(manager->TestDevice(first), MF_E_DXGI_NEW_VIDEO_DEVICE);
    EXPECT_EQ(manager->LockDevice(first, IID_PPV_ARGS(&other), FALSE), MF_E_DXGI_NEW_VIDEO_DEVICE);
    EXPECT_EQ(manager->CloseDeviceHandle(first), S_OK);
    EXPECT_EQ(manager->CloseDeviceHandle(first), E_HANDLE);
    EXPECT_EQ(manager->TestDevice(first), E_HANDLE);
}

} // namespace
