#pragma once
// The shared implementation of every hardware codec transform: an asynchronous transform with one input and
// one output stream. It owns COM identity, the attribute stores, the type lists and their negotiation, the
// lifecycle driven by ProcessMessage, the need-input / have-output event protocol, the device manager and
// the forced key frame. A vendor class implements the hooks and never a Media Foundation method itself.
//
// Flow control is the event protocol alone: each METransformNeedInput allows one ProcessInput, each
// METransformHaveOutput one ProcessOutput. The base takes no lock; the state and the counters are atomic,
// and type changes are serialised with streaming by the caller.

#include "RegistrationInfo.h"
#include "StreamSpecs.h"
#include <codecapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace kiv::mfcodec {

class Base : public virtual IMFTransform,
             public virtual IMFMediaEventGenerator,
             public virtual IMFShutdown,
             public virtual ICodecAPI {
public:
    enum class State : std::int32_t {
        Undefined = 0,
        Constructing = 1,
        Constructed = 2,
        Initializing = 3,
        Initialized = 4,
        Started = 6,
        Processing = Started,
        Ended = 8,
        Finalized = 10,
        ShutDown = 11,
        Destroying = 13,
    };

    // Throws kiv::mfcodec::Exception when a store, type or the event queue cannot be made. The reference
    // count starts at 0: the first owner adds the first reference.
    explicit Base(const RegistrationInfo& regInfo);
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMFTransform
    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* pdwInputMinimum, DWORD* pdwInputMaximum,
                                              DWORD* pdwOutputMinimum, DWORD* pdwOutputMaximum) override;
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) override;
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD dwInputIDArraySize, DWORD* pdwInputIDs,
                                           DWORD dwOutputIDArraySize, DWORD* pdwOutputIDs) override;
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD dwInputStreamID,
                                                 MFT_INPUT_STREAM_INFO* pStreamInfo) override;
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD dwOutputStreamID,
                                                  MFT_OUTPUT_STREAM_INFO* pStreamInfo) override;
    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** pAttributes) override;
    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD dwInputStreamID,
                                                       IMFAttributes** pAttributes) override;
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD dwOutputStreamID,
                                                        IMFAttributes** pAttributes) override;
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD dwStreamID) override;
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD cStreams, DWORD* adwStreamIDs) override;
    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD dwInputStreamID, DWORD dwTypeIndex,
                                                    IMFMediaType** ppType) override;
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD dwOutputStreamID, DWORD dwTypeIndex,
                                                     IMFMediaType** ppType) override;
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD dwInputStreamID, IMFMediaType* pType,
                                           DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD dwOutputStreamID, IMFMediaType* pType,
                                            DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD dwInputStreamID, IMFMediaType** ppType) override;
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD dwOutputStreamID, IMFMediaType** ppType) override;
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD dwInputStreamID, DWORD* pdwFlags) override;
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* pdwFlags) override;
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG hnsLowerBound, LONGLONG hnsUpperBound) override;
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD dwInputStreamID, IMFMediaEvent* pEvent) override;
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE eMessage, ULONG_PTR ulParam) override;
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD dwInputStreamID, IMFSample* pSample, DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD dwFlags, DWORD cOutputBufferCount,
                                            MFT_OUTPUT_DATA_BUFFER* pOutputSamples,
                                            DWORD* pdwStatus) override;

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                         const PROPVARIANT* pvValue) override;

    // IMFShutdown
    HRESULT STDMETHODCALLTYPE Shutdown() override;
    HRESULT STDMETHODCALLTYPE GetShutdownStatus(MFSHUTDOWN_STATUS* pStatus) override;

    // ICodecAPI: only SetValue does anything.
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* Api) override;
    HRESULT STDMETHODCALLTYPE IsModifiable(const GUID* Api) override;
    HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID* Api, VARIANT* ValueMin, VARIANT* ValueMax,
                                                VARIANT* SteppingDelta) override;
    HRESULT STDMETHODCALLTYPE GetParameterValues(const GUID* Api, VARIANT** Values,
                                                 ULONG* ValuesCount) override;
    HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* Api, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* Api, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* Api, VARIANT* Value) override;
    HRESULT STDMETHODCALLTYPE RegisterForEvent(const GUID* Api, LONG_PTR userData) override;
    HRESULT STDMETHODCALLTYPE UnregisterForEvent(const GUID* Api) override;
    HRESULT STDMETHODCALLTYPE SetAllDefaults() override;
    HRESULT STDMETHODCALLTYPE SetValueWithNotify(const GUID* Api, VARIANT* Value, GUID** ChangedParam,
                                                 ULONG* ChangedParamCount) override;
    HRESULT STDMETHODCALLTYPE SetAllDefaultsWithNotify(GUID** ChangedParam,
                                                       ULONG* ChangedParamCount) override;
    HRESULT STDMETHODCALLTYPE GetAllSettings(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE SetAllSettings(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE SetAllSettingsWithNotify(IStream* stream, GUID** ChangedParam,
                                                       ULONG* ChangedParamCount) override;

    State getState() const { return m_state.load(); }

    static HRESULT Clone(IMFMediaType* src, IMFMediaType** out);
    // S_OK when `mt`'s major type and subtype are those of an entry of `validList`, else MF_E_INVALIDTYPE.
    static HRESULT CheckMajorAndSubType(IMFMediaType* mt, const std::vector<ComPtr<IMFMediaType>>& validList);
    // A null `newType` clears `current`; otherwise the type is checked and, unless only tested, a clone of it
    // becomes current.
    static HRESULT ClearOrTestOrSetType(ComPtr<IMFMediaType>& current, IMFMediaType* newType, bool testOnly,
                                        const std::vector<ComPtr<IMFMediaType>>& validList);
    // Storage for vendor surfaces: `size` a positive multiple of `align`, a power of two. Freed with
    // AlignedFree.
    static void* AlignedAlloc(std::size_t size, std::size_t align);
    static void AlignedFree(void* memory);
    // Microseconds of `ticks` time-stamp-counter ticks.
    static double TscTicksToMicroseconds(std::uint64_t ticks);

protected:
    virtual ~Base();

    // Hooks for vendor classes, with pass-through defaults.
    virtual HRESULT onDeviceRefClearing();
    virtual HRESULT onDeviceRefSet();
    virtual HRESULT onSpecsChanged(bool inputChanged, bool outputChanged);
    virtual HRESULT onBeginStreaming();
    virtual HRESULT onInputArrived(IMFSample* sample);
    virtual HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out);
    virtual HRESULT onForceKeyFrame();

    // Services for vendor classes.
    bool canInitialize() const;
    ID3D11Device* device() const { return m_device.Get(); }
    HRESULT signalNeedInput();
    HRESULT signalHaveOutput();
    // The specs of the current types; `changed` against `prev`, or every bit without one.
    HRESULT getVideoSpecs(StreamSpecs* specs, const StreamSpecs* prev) const;
    // Drops the held manager (closing its handle) and takes `punk`'s, with its device.
    HRESULT setDeviceManager(IUnknown* punk);

    const RegistrationInfo m_regInfo;

private:
    struct StreamSide {
        ComPtr<IMFMediaType> type;
        ComPtr<IMFAttributes> attribs;
    };

    State forceTransition(State next) { return m_state.exchange(next); }
    bool tryTransition(State expected, State next);
    bool decrementOutstandingInputs();
    bool decrementOutstandingOutputs();
    HRESULT onShutdown();
    void release();

    std::atomic<std::int32_t> m_refCount{0};
    std::atomic<State> m_state{State::Undefined};
    ComPtr<IMFAttributes> m_attribs;
    ComPtr<IMFMediaEventQueue> m_eventQueue;
    StreamSide m_input;
    StreamSide m_output;
    std::atomic<std::int32_t> m_outstandingInputs{0};
    std::atomic<std::int32_t> m_outstandingOutputs{0};
    std::vector<ComPtr<IMFMediaType>> m_typesConsumed;
    std::vector<ComPtr<IMFMediaType>> m_typesProduced;
    ComPtr<IMFDXGIDeviceManager> m_deviceManager;
    ComPtr<ID3D11Device> m_device;
    HANDLE m_deviceHandle = nullptr;
};

} // namespace kiv::mfcodec
