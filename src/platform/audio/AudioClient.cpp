#include "AudioClient.h"

#include "AudioCaptureClient.h"
#include "MixFormat.h"
#include "ProcessLoopbackSource.h"
#include "PulseLoopbackSource.h"
#include "SilentLoopbackSource.h"
#include <propidl.h>
#include <pyx/HundredNanoseconds.h>
#include <wrl/implements.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Packets are one device period of 10 ms.
constexpr UINT32 PeriodsPerSecond = 100;
// Sources hand frames over in fragments of about a period and may bunch several: the buffer holds at least
// this many periods whatever was asked for, and the monitor's longer fragments ask for more.
constexpr UINT64 MinimumBufferPeriods = 3;
constexpr REFERENCE_TIME MaximumBufferDuration = 2 * pyx::HundredNanosecondsPerSecond;

UINT32 PeriodFrames(UINT32 samplesPerSecond) {
    return std::max<UINT32>(1, samplesPerSecond / PeriodsPerSecond);
}

} // namespace

AudioClient::AudioClient(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format)
    : m_server(std::move(server)), m_format(format), m_mixFormat(MixFormatOf(format)),
      m_periodFrames(PeriodFrames(format.samplesPerSecond)) {}

AudioClient::AudioClient(std::shared_ptr<pulse::SoundServer> server, const pulse::SinkFormat& format,
                         DWORD processTree)
    : m_server(std::move(server)), m_format(format), m_mixFormat(MixFormatOf(format)),
      m_periodFrames(PeriodFrames(format.samplesPerSecond)), m_processTree(processTree) {}

AudioClient::~AudioClient() = default;

HRESULT AudioClient::StateError(bool needsInitialize) const {
    if (m_source ? m_source->IsInvalidated() : m_server && m_server->IsFailed())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    if (needsInitialize && !m_source)
        return AUDCLNT_E_NOT_INITIALIZED;
    return S_OK;
}

HRESULT AudioClient::Initialize(AUDCLNT_SHAREMODE ShareMode, DWORD StreamFlags,
                                REFERENCE_TIME hnsBufferDuration, REFERENCE_TIME hnsPeriodicity,
                                const WAVEFORMATEX* pFormat, LPCGUID) {
    if (pFormat == nullptr)
        return E_POINTER;
    return NoThrow([&]() -> HRESULT {
        std::lock_guard lock(m_mutex);
        if (m_source)
            return AUDCLNT_E_ALREADY_INITIALIZED;
        if (const HRESULT hr = StateError(false); FAILED(hr))
            return hr;
        if (ShareMode == AUDCLNT_SHAREMODE_EXCLUSIVE)
            return AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
        if (ShareMode != AUDCLNT_SHAREMODE_SHARED || hnsBufferDuration < 0 || hnsPeriodicity != 0)
            return E_INVALIDARG;
        // Render streams and event-driven capture are not offered.
        if (StreamFlags != AUDCLNT_STREAMFLAGS_LOOPBACK)
            return NotImplemented();
        if (hnsBufferDuration > MaximumBufferDuration)
            return AUDCLNT_E_BUFFER_SIZE_ERROR;
        if (const HRESULT hr = CheckStreamFormat(*pFormat, m_mixFormat); FAILED(hr))
            return hr;

        const auto requested = static_cast<UINT64>(
            pyx::FramesCovering(pyx::HundredNanoseconds(hnsBufferDuration), m_format.samplesPerSecond));
        UINT64 minimum = MinimumBufferPeriods * m_periodFrames;
        if (m_server && !m_processTree)
            minimum = std::max<UINT64>(minimum,
                                       PulseLoopbackSource::MinimumBufferFrames(m_format.samplesPerSecond));
        const auto capacity = static_cast<UINT32>(std::max(requested, minimum));
        auto queue = std::make_unique<CapturePacketQueue>(
            capacity, m_periodFrames, m_mixFormat.Format.nBlockAlign, m_format.samplesPerSecond);
        std::unique_ptr<LoopbackSource> source;
        if (m_server && m_processTree) {
            source = ProcessLoopbackSource::Open(*m_server, m_format, *m_processTree, *queue);
            if (!source)
                return AUDCLNT_E_DEVICE_INVALIDATED;
        } else if (m_server) {
            source = PulseLoopbackSource::Open(*m_server, m_format, *queue);
            if (!source)
                return AUDCLNT_E_DEVICE_INVALIDATED;
        } else {
            source = std::make_unique<SilentLoopbackSource>(*queue, m_format.samplesPerSecond);
        }
        m_queue = std::move(queue);
        m_source = std::move(source);
        return S_OK;
    });
}

HRESULT AudioClient::GetBufferSize(UINT32* pNumBufferFrames) {
    if (pNumBufferFrames == nullptr)
        return E_POINTER;
    *pNumBufferFrames = 0;
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(true); FAILED(hr))
        return hr;
    *pNumBufferFrames = m_queue->CapacityFrames();
    return S_OK;
}

HRESULT AudioClient::GetMixFormat(WAVEFORMATEX** ppDeviceFormat) {
    if (ppDeviceFormat == nullptr)
        return E_POINTER;
    *ppDeviceFormat = nullptr;
    if (m_processTree)
        return E_NOTIMPL;
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(false); FAILED(hr))
        return hr;
    void* copy = CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(copy, &m_mixFormat, sizeof(WAVEFORMATEXTENSIBLE));
    *ppDeviceFormat = static_cast<WAVEFORMATEX*>(copy);
    return S_OK;
}

HRESULT AudioClient::GetDevicePeriod(REFERENCE_TIME* phnsDefaultDevicePeriod,
                                     REFERENCE_TIME* phnsMinimumDevicePeriod) {
    if (phnsDefaultDevicePeriod == nullptr && phnsMinimumDevicePeriod == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    const HRESULT hr = StateError(false);
    // Packets always span one period, so it is the shortest one as well.
    const auto period =
        SUCCEEDED(hr) ? pyx::FramesDuration(m_periodFrames, m_format.samplesPerSecond).count() : 0;
    if (phnsDefaultDevicePeriod != nullptr)
        *phnsDefaultDevicePeriod = period;
    if (phnsMinimumDevicePeriod != nullptr)
        *phnsMinimumDevicePeriod = period;
    return hr;
}

HRESULT AudioClient::Start() {
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(true); FAILED(hr))
        return hr;
    if (m_started)
        return AUDCLNT_E_NOT_STOPPED;
    if (!m_source->Start())
        return AUDCLNT_E_DEVICE_INVALIDATED;
    m_started = true;
    return S_OK;
}

HRESULT AudioClient::Stop() {
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(true); FAILED(hr))
        return hr;
    if (!m_started)
        return S_FALSE;
    m_started = false;
    return m_source->Stop() ? S_OK : AUDCLNT_E_DEVICE_INVALIDATED;
}

HRESULT AudioClient::Reset() {
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(true); FAILED(hr))
        return hr;
    if (m_started)
        return AUDCLNT_E_NOT_STOPPED;
    return m_queue->Clear();
}

HRESULT AudioClient::GetService(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    std::lock_guard lock(m_mutex);
    if (const HRESULT hr = StateError(true); FAILED(hr))
        return hr;
    if (riid != __uuidof(IAudioCaptureClient))
        return E_NOINTERFACE;
    return CreateObject<AudioCaptureClient>(reinterpret_cast<IAudioCaptureClient**>(ppv),
                                            ComPtr<IAudioClient>(this), *m_queue, *m_source);
}
