#include "MfCodecBase.h"

#include "CodecReport.h"
#include "Exception.h"
#include <intrin.h>
#include <mferror.h>
#include <processthreadsapi.h>

#include <cstdlib>

namespace kiv::mfcodec {

namespace {

constexpr std::uint32_t AllBits = 0xFFFFFFFF;

// From the processor's own statement of the counter's rate (leaf 0x15) where it makes one, else measured
// against the performance counter across one yield of the thread.
double TscSecondsPerTick() {
    int info[4] = {};
    __cpuid(info, 0);
    if (info[0] >= 0x15) {
        __cpuid(info, 0x15);
        const auto eax = static_cast<std::uint32_t>(info[0]);
        const auto ebx = static_cast<std::uint32_t>(info[1]);
        const auto ecx = static_cast<std::uint32_t>(info[2]);
        if (eax != 0 && ebx != 0 && ecx != 0)
            return static_cast<double>(eax) / (static_cast<double>(ebx) * static_cast<double>(ecx));
    }
    // Both counters are read over 10 ms: over a single yield, the time between the two reads at each end
    // weighs so much that the rate could be off by tens of per cent.
    LARGE_INTEGER frequency{};
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    QueryPerformanceFrequency(&frequency);
    const std::uint64_t ticksBefore = __rdtsc();
    QueryPerformanceCounter(&before);
    std::uint64_t ticksAfter = ticksBefore;
    do {
        SwitchToThread();
        ticksAfter = __rdtsc();
        QueryPerformanceCounter(&after);
    } while ((after.QuadPart - before.QuadPart) * 100 < frequency.QuadPart);
    const double seconds =
        static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart);
    const std::uint64_t ticks = ticksAfter - ticksBefore;
    return ticks == 0 ? 0.0 : seconds / static_cast<double>(ticks);
}

} // namespace

Base::Base(const RegistrationInfo& regInfo) : m_regInfo(regInfo) {
    KIV_THROW_UNLESS(forceTransition(State::Constructing) == State::Undefined);
    try {
        KIV_THROW_IF_FAILED(regInfo.makeCopy(&m_attribs, 0));
        KIV_THROW_IF_FAILED(MFCreateAttributes(&m_input.attribs, 0));
        KIV_THROW_IF_FAILED(MFCreateAttributes(&m_output.attribs, 0));
        const struct {
            std::uint32_t count;
            const MFT_REGISTER_TYPE_INFO* types;
            std::vector<ComPtr<IMFMediaType>>* list;
        } sides[] = {{regInfo.inputCount, regInfo.inputTypes, &m_typesConsumed},
                     {regInfo.outputCount, regInfo.outputTypes, &m_typesProduced}};
        for (const auto& side : sides) {
            for (std::uint32_t i = 0; i < side.count; ++i) {
                ComPtr<IMFMediaType> type;
                KIV_THROW_IF_FAILED(MFCreateMediaType(&type));
                side.list->push_back(type);
                KIV_THROW_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, side.types[i].guidMajorType));
                KIV_THROW_IF_FAILED(type->SetGUID(MF_MT_SUBTYPE, side.types[i].guidSubtype));
            }
        }
        KIV_THROW_IF_FAILED(MFCreateEventQueue(&m_eventQueue));
    } catch (...) {
        release();
        throw;
    }
    KIV_THROW_UNLESS(forceTransition(State::Constructed) == State::Constructing);
}

Base::~Base() {
    forceTransition(State::Destroying);
    release();
}

void Base::release() {
    m_typesConsumed.clear();
    m_typesProduced.clear();
    m_output = {};
    m_input = {};
    m_eventQueue = nullptr;
    m_attribs = nullptr;
    forceTransition(State::Undefined);
    // The handle is closed by Shutdown; a manager still held here goes with its handle unclosed.
    m_device = nullptr;
    m_deviceManager = nullptr;
    m_typesConsumed.shrink_to_fit();
    m_typesProduced.shrink_to_fit();
}

// IUnknown

HRESULT Base::QueryInterface(REFIID riid, void** ppv) {
    KIV_RETURN_UNLESS(ppv, E_POINTER);
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFTransform))
        *ppv = static_cast<IMFTransform*>(this);
    else if (riid == __uuidof(IMFMediaEventGenerator))
        *ppv = static_cast<IMFMediaEventGenerator*>(this);
    else if (riid == __uuidof(IMFShutdown))
        *ppv = static_cast<IMFShutdown*>(this);
    else if (riid == __uuidof(ICodecAPI))
        *ppv = static_cast<ICodecAPI*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG Base::AddRef() { return static_cast<ULONG>(++m_refCount); }

ULONG Base::Release() {
    const std::int32_t count = --m_refCount;
    if (count < 0)
        ReportAssertion("m_refCount > 0", __PRETTY_FUNCTION__, __LINE__);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

// IMFTransform: streams

HRESULT Base::GetStreamLimits(DWORD* pdwInputMinimum, DWORD* pdwInputMaximum, DWORD* pdwOutputMinimum,
                              DWORD* pdwOutputMaximum) {
    KIV_RETURN_UNLESS(pdwInputMinimum && pdwInputMaximum && pdwOutputMinimum && pdwOutputMaximum, E_POINTER);
    *pdwInputMinimum = *pdwInputMaximum = *pdwOutputMinimum = *pdwOutputMaximum = 1;
    return S_OK;
}

HRESULT Base::GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) {
    KIV_RETURN_UNLESS(pcInputStreams && pcOutputStreams, E_POINTER);
    *pcInputStreams = *pcOutputStreams = 1;
    return S_OK;
}

HRESULT Base::GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT Base::DeleteInputStream(DWORD) { return E_NOTIMPL; }
HRESULT Base::AddInputStreams(DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT Base::SetOutputBounds(LONGLONG, LONGLONG) { return E_NOTIMPL; }
HRESULT Base::ProcessEvent(DWORD, IMFMediaEvent*) { return E_NOTIMPL; }

HRESULT Base::GetInputStreamInfo(DWORD dwInputStreamID, MFT_INPUT_STREAM_INFO* pStreamInfo) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pStreamInfo, E_POINTER);
    *pStreamInfo = {};
    pStreamInfo->dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES | MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER;
    return S_OK;
}

HRESULT Base::GetOutputStreamInfo(DWORD dwOutputStreamID, MFT_OUTPUT_STREAM_INFO* pStreamInfo) {
    KIV_RETURN_UNLESS(0 == dwOutputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pStreamInfo, E_POINTER);
    *pStreamInfo = {};
    pStreamInfo->dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                           MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
    return S_OK;
}

HRESULT Base::GetAttributes(IMFAttributes** pAttributes) {
    KIV_RETURN_UNLESS(pAttributes, E_POINTER);
    return m_attribs.CopyTo(pAttributes);
}

HRESULT Base::GetInputStreamAttributes(DWORD dwInputStreamID, IMFAttributes** pAttributes) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pAttributes, E_POINTER);
    return m_input.attribs.CopyTo(pAttributes);
}

HRESULT Base::GetOutputStreamAttributes(DWORD dwOutputStreamID, IMFAttributes** pAttributes) {
    KIV_RETURN_UNLESS(0 == dwOutputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pAttributes, E_POINTER);
    return m_output.attribs.CopyTo(pAttributes);
}

// IMFTransform: types

HRESULT Base::GetInputAvailableType(DWORD dwInputStreamID, DWORD dwTypeIndex, IMFMediaType** ppType) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(ppType, E_POINTER);
    const DWORD typeIndex = dwTypeIndex;
    KIV_RETURN_UNLESS(typeIndex < m_typesConsumed.size(), MF_E_NO_MORE_TYPES);
    KIV_RETURN_IF_FAILED(Clone(m_typesConsumed[typeIndex].Get(), ppType));
    return S_OK;
}

HRESULT Base::GetOutputAvailableType(DWORD dwOutputStreamID, DWORD dwTypeIndex, IMFMediaType** ppType) {
    KIV_RETURN_UNLESS(0 == dwOutputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(ppType, E_POINTER);
    const DWORD typeIndex = dwTypeIndex;
    KIV_RETURN_UNLESS(typeIndex < m_typesProduced.size(), MF_E_NO_MORE_TYPES);
    KIV_RETURN_IF_FAILED(Clone(m_typesProduced[typeIndex].Get(), ppType));
    return S_OK;
}

HRESULT Base::SetInputType(DWORD dwInputStreamID, IMFMediaType* pType, DWORD dwFlags) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_IF_FAILED(
        ClearOrTestOrSetType(m_input.type, pType, (dwFlags & MFT_SET_TYPE_TEST_ONLY) != 0, m_typesConsumed));
    KIV_RETURN_IF_FAILED(onSpecsChanged(true, false));
    return S_OK;
}

HRESULT Base::SetOutputType(DWORD dwOutputStreamID, IMFMediaType* pType, DWORD dwFlags) {
    KIV_RETURN_UNLESS(0 == dwOutputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_IF_FAILED(
        ClearOrTestOrSetType(m_output.type, pType, (dwFlags & MFT_SET_TYPE_TEST_ONLY) != 0, m_typesProduced));
    KIV_RETURN_IF_FAILED(onSpecsChanged(false, true));
    return S_OK;
}

HRESULT Base::GetInputCurrentType(DWORD dwInputStreamID, IMFMediaType** ppType) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(ppType, E_POINTER);
    KIV_RETURN_UNLESS(m_input.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    KIV_RETURN_IF_FAILED(Clone(m_input.type.Get(), ppType));
    return S_OK;
}

HRESULT Base::GetOutputCurrentType(DWORD dwOutputStreamID, IMFMediaType** ppType) {
    KIV_RETURN_UNLESS(0 == dwOutputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(ppType, E_POINTER);
    KIV_RETURN_UNLESS(m_output.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    KIV_RETURN_IF_FAILED(Clone(m_output.type.Get(), ppType));
    return S_OK;
}

HRESULT Base::GetInputStatus(DWORD dwInputStreamID, DWORD* pdwFlags) {
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pdwFlags, E_POINTER);
    KIV_RETURN_UNLESS(m_input.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    *pdwFlags = m_outstandingInputs.load() > 0 ? MFT_INPUT_STATUS_ACCEPT_DATA : 0;
    return S_OK;
}

HRESULT Base::GetOutputStatus(DWORD* pdwFlags) {
    KIV_RETURN_UNLESS(pdwFlags, E_POINTER);
    KIV_RETURN_UNLESS(m_output.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    *pdwFlags = m_outstandingOutputs.load() > 0 ? MFT_OUTPUT_STATUS_SAMPLE_READY : 0;
    return S_OK;
}

HRESULT Base::Clone(IMFMediaType* src, IMFMediaType** out) {
    KIV_RETURN_UNLESS(src && out, E_POINTER);
    ComPtr<IMFMediaType> clone;
    KIV_RETURN_IF_FAILED(MFCreateMediaType(&clone));
    KIV_RETURN_IF_FAILED(src->CopyAllItems(clone.Get()));
    *out = clone.Detach();
    return S_OK;
}

HRESULT Base::CheckMajorAndSubType(IMFMediaType* mt, const std::vector<ComPtr<IMFMediaType>>& validList) {
    KIV_RETURN_UNLESS(mt, MF_E_INVALIDTYPE);
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    KIV_RETURN_IF_FAILED(mt->GetGUID(MF_MT_MAJOR_TYPE, &major));
    KIV_RETURN_IF_FAILED(mt->GetGUID(MF_MT_SUBTYPE, &subtype));
    for (const ComPtr<IMFMediaType>& valid : validList) {
        GUID validMajor = GUID_NULL;
        GUID validSubtype = GUID_NULL;
        KIV_RETURN_IF_FAILED(valid->GetGUID(MF_MT_MAJOR_TYPE, &validMajor));
        KIV_RETURN_IF_FAILED(valid->GetGUID(MF_MT_SUBTYPE, &validSubtype));
        if (validMajor == major && validSubtype == subtype)
            return S_OK;
    }
    return MF_E_INVALIDTYPE;
}

HRESULT Base::ClearOrTestOrSetType(ComPtr<IMFMediaType>& current, IMFMediaType* newType, bool testOnly,
                                   const std::vector<ComPtr<IMFMediaType>>& validList) {
    if (newType == nullptr) {
        current = nullptr;
        return S_OK;
    }
    KIV_RETURN_IF_FAILED(CheckMajorAndSubType(newType, validList));
    if (testOnly)
        return S_OK;
    ComPtr<IMFMediaType> clone;
    KIV_RETURN_IF_FAILED(Clone(newType, &clone));
    current = std::move(clone);
    return S_OK;
}

// IMFTransform: streaming

bool Base::tryTransition(State expected, State next) {
    return m_state.compare_exchange_strong(expected, next);
}

HRESULT Base::ProcessMessage(MFT_MESSAGE_TYPE eMessage, ULONG_PTR ulParam) {
    switch (eMessage) {
    case MFT_MESSAGE_SET_D3D_MANAGER:
        KIV_RETURN_UNLESS(getState() == State::Constructed, E_UNEXPECTED);
        KIV_RETURN_IF_FAILED(setDeviceManager(reinterpret_cast<IUnknown*>(ulParam)));
        return S_OK;
    case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING:
        KIV_ASSERT(ulParam == 0);
        KIV_RETURN_UNLESS(tryTransition(State::Constructed, State::Initializing), E_UNEXPECTED);
        KIV_RETURN_IF_FAILED(onBeginStreaming());
        KIV_RETURN_UNLESS(tryTransition(State::Initializing, State::Initialized), E_UNEXPECTED);
        return S_OK;
    case MFT_MESSAGE_NOTIFY_START_OF_STREAM:
        KIV_RETURN_UNLESS(tryTransition(State::Initialized, State::Started), E_UNEXPECTED);
        KIV_RETURN_IF_FAILED(signalNeedInput());
        return S_OK;
    case MFT_MESSAGE_NOTIFY_END_OF_STREAM:
        KIV_RETURN_UNLESS(tryTransition(State::Started, State::Ended), E_UNEXPECTED);
        return S_OK;
    case MFT_MESSAGE_NOTIFY_END_STREAMING:
        KIV_RETURN_UNLESS(tryTransition(State::Ended, State::Finalized), E_UNEXPECTED);
        return S_OK;
    default:
        // Flush and drain are acknowledged: the capture pipeline never relies on them.
        return S_OK;
    }
}

bool Base::decrementOutstandingInputs() {
    if (--m_outstandingInputs >= 0)
        return true;
    ++m_outstandingInputs;
    return false;
}

bool Base::decrementOutstandingOutputs() {
    if (--m_outstandingOutputs >= 0)
        return true;
    ++m_outstandingOutputs;
    return false;
}

HRESULT Base::ProcessInput(DWORD dwInputStreamID, IMFSample* pSample, DWORD dwFlags) {
    KIV_RETURN_UNLESS(getState() == State::Started, MF_E_NOTACCEPTING);
    KIV_RETURN_UNLESS(0 == dwInputStreamID, MF_E_INVALIDSTREAMNUMBER);
    KIV_RETURN_UNLESS(pSample, E_POINTER);
    KIV_RETURN_UNLESS(m_input.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    KIV_RETURN_UNLESS(decrementOutstandingInputs(), MF_E_NOTACCEPTING);
    KIV_RETURN_IF_FAILED(onInputArrived(pSample));
    return S_OK;
}

HRESULT Base::ProcessOutput(DWORD dwFlags, DWORD cOutputBufferCount, MFT_OUTPUT_DATA_BUFFER* pOutputSamples,
                            DWORD* pdwStatus) {
    KIV_ASSERT(dwFlags == 0);
    KIV_RETURN_UNLESS(cOutputBufferCount != 0, E_INVALIDARG);
    KIV_RETURN_UNLESS(pOutputSamples && pdwStatus, E_POINTER);
    KIV_RETURN_UNLESS(pOutputSamples[0].pSample == nullptr, E_POINTER);
    KIV_RETURN_UNLESS(decrementOutstandingOutputs(), MF_E_TRANSFORM_NEED_MORE_INPUT);
    KIV_RETURN_IF_FAILED(onOutputRequested(pOutputSamples[0]));
    *pdwStatus = 0;
    return S_OK;
}

HRESULT Base::signalNeedInput() {
    KIV_RETURN_UNLESS(getState() == State::Started, E_UNEXPECTED);
    ComPtr<IMFMediaEvent> event;
    KIV_RETURN_IF_FAILED(MFCreateMediaEvent(METransformNeedInput, GUID_NULL, S_OK, nullptr, &event));
    KIV_RETURN_IF_FAILED(event->SetUINT32(MF_EVENT_MFT_INPUT_STREAM_ID, 0));
    ++m_outstandingInputs;
    KIV_RETURN_IF_FAILED(m_eventQueue->QueueEvent(event.Get()));
    return S_OK;
}

HRESULT Base::signalHaveOutput() {
    KIV_RETURN_UNLESS(getState() == State::Started, E_UNEXPECTED);
    ++m_outstandingOutputs;
    KIV_RETURN_IF_FAILED(m_eventQueue->QueueEventParamVar(METransformHaveOutput, GUID_NULL, S_OK, nullptr));
    return S_OK;
}

// IMFMediaEventGenerator: the queue is thread-safe and answers for itself.

HRESULT Base::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    return m_eventQueue->GetEvent(dwFlags, ppEvent);
}

HRESULT Base::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    return m_eventQueue->BeginGetEvent(pCallback, punkState);
}

HRESULT Base::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    return m_eventQueue->EndGetEvent(pResult, ppEvent);
}

HRESULT Base::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                         const PROPVARIANT* pvValue) {
    return m_eventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue);
}

// IMFShutdown

HRESULT Base::Shutdown() {
    const State prev = forceTransition(State::ShutDown);
    if (prev == State::ShutDown)
        return S_OK;
    // From any earlier state the hardware session, the device and the queue go: nothing may use them after a
    // shutdown, whether streaming began, ended or never started.
    return onShutdown();
}

HRESULT Base::onShutdown() {
    KIV_RETURN_IF_FAILED(setDeviceManager(nullptr));
    KIV_RETURN_IF_FAILED(m_eventQueue->Shutdown());
    return S_OK;
}

HRESULT Base::GetShutdownStatus(MFSHUTDOWN_STATUS* pStatus) {
    KIV_RETURN_UNLESS(pStatus, E_INVALIDARG);
    if (getState() != State::ShutDown)
        return MF_E_INVALIDREQUEST;
    *pStatus = MFSHUTDOWN_INITIATED;
    return S_OK;
}

// ICodecAPI

HRESULT Base::SetValue(const GUID* Api, VARIANT* Value) {
    KIV_RETURN_UNLESS(Api, E_POINTER);
    KIV_RETURN_UNLESS(Value, E_POINTER);
    if (*Api == CODECAPI_AVEncVideoForceKeyFrame) {
        KIV_RETURN_UNLESS(Value->vt == VT_UI4 && Value->ulVal != 0, E_INVALIDARG);
        KIV_RETURN_IF_FAILED(onForceKeyFrame());
        return S_OK;
    }
    // What the capture pipeline sets on every encoder; the vendor classes choose these themselves.
    static const GUID* const Ignored[] = {
        &CODECAPI_AVLowLatencyMode,     &CODECAPI_AVEncMPVGOPSize,       &CODECAPI_AVEncCommonRateControlMode,
        &CODECAPI_AVEncH264CABACEnable, &CODECAPI_AVEncSliceControlMode, &CODECAPI_AVEncSliceControlSize};
    for (const GUID* ignored : Ignored)
        if (*Api == *ignored)
            return S_OK;
    return E_INVALIDARG;
}

HRESULT Base::IsSupported(const GUID*) { return E_NOTIMPL; }
HRESULT Base::IsModifiable(const GUID*) { return E_NOTIMPL; }
HRESULT Base::GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) { return E_NOTIMPL; }
HRESULT Base::GetParameterValues(const GUID*, VARIANT**, ULONG*) { return E_NOTIMPL; }
HRESULT Base::GetDefaultValue(const GUID*, VARIANT*) { return E_NOTIMPL; }
HRESULT Base::GetValue(const GUID*, VARIANT*) { return E_NOTIMPL; }
HRESULT Base::RegisterForEvent(const GUID*, LONG_PTR) { return E_NOTIMPL; }
HRESULT Base::UnregisterForEvent(const GUID*) { return E_NOTIMPL; }
HRESULT Base::SetAllDefaults() { return E_NOTIMPL; }
HRESULT Base::SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) { return E_NOTIMPL; }
HRESULT Base::SetAllDefaultsWithNotify(GUID**, ULONG*) { return E_NOTIMPL; }
HRESULT Base::GetAllSettings(IStream*) { return E_NOTIMPL; }
HRESULT Base::SetAllSettings(IStream*) { return E_NOTIMPL; }
HRESULT Base::SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) { return E_NOTIMPL; }

// Hooks

HRESULT Base::onDeviceRefClearing() { return S_OK; }
HRESULT Base::onDeviceRefSet() { return S_OK; }
HRESULT Base::onSpecsChanged(bool, bool) { return S_OK; }
HRESULT Base::onBeginStreaming() { return S_OK; }
HRESULT Base::onForceKeyFrame() { return S_OK; }

HRESULT Base::onInputArrived(IMFSample*) {
    signalHaveOutput();
    return S_OK;
}

HRESULT Base::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) {
    out.dwStatus = MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE;
    signalNeedInput();
    return S_OK;
}

// Services

bool Base::canInitialize() const { return m_device && m_input.type && m_output.type; }

HRESULT Base::setDeviceManager(IUnknown* punk) {
    KIV_RETURN_IF_FAILED(onDeviceRefClearing());
    m_device = nullptr;
    if (m_deviceManager) {
        const HRESULT closed = m_deviceManager->CloseDeviceHandle(m_deviceHandle);
        m_deviceHandle = nullptr;
        m_deviceManager = nullptr;
        KIV_RETURN_IF_FAILED(closed);
    }
    if (punk == nullptr)
        return S_OK;
    KIV_RETURN_IF_FAILED(punk->QueryInterface(IID_PPV_ARGS(&m_deviceManager)));
    KIV_RETURN_IF_FAILED(m_deviceManager->OpenDeviceHandle(&m_deviceHandle));
    KIV_RETURN_IF_FAILED(m_deviceManager->GetVideoService(m_deviceHandle, IID_PPV_ARGS(&m_device)));
    KIV_RETURN_IF_FAILED(onDeviceRefSet());
    return S_OK;
}

HRESULT Base::getVideoSpecs(StreamSpecs* specs, const StreamSpecs* prev) const {
    KIV_RETURN_UNLESS(specs, E_POINTER);
    KIV_RETURN_UNLESS(m_input.type && m_output.type, MF_E_TRANSFORM_TYPE_NOT_SET);
    using Bits = StreamSpecs::Bits;
    IMFMediaType* input = m_input.type.Get();
    IMFMediaType* output = m_output.type.Get();
    // A field is written only when its attribute could be read; the bit tells which.
    const auto mark = [specs](std::uint32_t bit, HRESULT hr) {
        if (SUCCEEDED(hr))
            specs->present |= bit;
        else
            specs->present &= ~bit;
        return SUCCEEDED(hr);
    };
    GUID subtype = GUID_NULL;
    if (mark(Bits::srcTyp, input->GetGUID(MF_MT_SUBTYPE, &subtype)))
        specs->srcSubtype = subtype;
    if (mark(Bits::tgtTyp, output->GetGUID(MF_MT_SUBTYPE, &subtype)))
        specs->tgtSubtype = subtype;
    UINT32 value = 0;
    if (mark(Bits::minSmp, m_attribs->GetUINT32(MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT, &value)))
        specs->minOutputSamples = value;
    if (mark(Bits::tgtBps, output->GetUINT32(MF_MT_AVG_BITRATE, &value)))
        specs->tgtBpsAvg = value;
    const auto readPair = [&mark](IMFMediaType* type, REFGUID key, std::uint32_t bit, std::uint32_t& high,
                                  std::uint32_t& low) {
        UINT64 packed = 0;
        if (mark(bit, type->GetUINT64(key, &packed))) {
            high = static_cast<std::uint32_t>(packed >> 32);
            low = static_cast<std::uint32_t>(packed);
        }
    };
    readPair(input, MF_MT_FRAME_SIZE, Bits::srcRes, specs->srcWidth, specs->srcHeight);
    readPair(input, MF_MT_FRAME_RATE, Bits::srcFps, specs->srcFpsNum, specs->srcFpsDen);
    readPair(output, MF_MT_FRAME_SIZE, Bits::tgtRes, specs->tgtWidth, specs->tgtHeight);
    if (prev == nullptr) {
        specs->changed = AllBits;
        return S_OK;
    }
    std::uint32_t changed = 0;
    const auto differ = [&changed](std::uint32_t bit, bool different) {
        if (different)
            changed |= bit;
    };
    differ(Bits::srcTyp, specs->srcSubtype != prev->srcSubtype);
    differ(Bits::tgtTyp, specs->tgtSubtype != prev->tgtSubtype);
    differ(Bits::minSmp, specs->minOutputSamples != prev->minOutputSamples);
    differ(Bits::srcRes, specs->srcWidth != prev->srcWidth || specs->srcHeight != prev->srcHeight);
    differ(Bits::srcFps, specs->srcFpsNum != prev->srcFpsNum || specs->srcFpsDen != prev->srcFpsDen);
    differ(Bits::tgtRes, specs->tgtWidth != prev->tgtWidth || specs->tgtHeight != prev->tgtHeight);
    differ(Bits::tgtBps, specs->tgtBpsAvg != prev->tgtBpsAvg);
    specs->changed = changed | (specs->present ^ prev->present);
    return S_OK;
}

void* Base::AlignedAlloc(std::size_t size, std::size_t align) {
    KIV_ASSERT(size > 0 && align > 0);
    KIV_ASSERT((align & (align - 1)) == 0);
    KIV_ASSERT((size % align) == 0);
    return std::aligned_alloc(align, size);
}

void Base::AlignedFree(void* memory) { std::free(memory); }

double Base::TscTicksToMicroseconds(std::uint64_t ticks) {
    static const double secondsPerTick = TscSecondsPerTick();
    return static_cast<double>(ticks) * secondsPerTick * 1000000.0;
}

} // namespace kiv::mfcodec
