#pragma once
// IMFTransform: the interface of every transform the media session drives, synchronous or asynchronous.

#include "Attributes.h"
#include "MediaEvent.h"
#include "MediaType.h"
#include "Sample.h"

// Events a transform may hand back with an output; the caller only releases them.
struct IMFCollection : IUnknown {
protected:
    ~IMFCollection() = default;
};

enum MFT_MESSAGE_TYPE : DWORD {
    MFT_MESSAGE_COMMAND_FLUSH = 0x0,
    MFT_MESSAGE_COMMAND_DRAIN = 0x1,
    MFT_MESSAGE_SET_D3D_MANAGER = 0x2,
    MFT_MESSAGE_NOTIFY_BEGIN_STREAMING = 0x10000000,
    MFT_MESSAGE_NOTIFY_END_STREAMING = 0x10000001,
    MFT_MESSAGE_NOTIFY_END_OF_STREAM = 0x10000002,
    MFT_MESSAGE_NOTIFY_START_OF_STREAM = 0x10000003,
    MFT_MESSAGE_COMMAND_MARKER = 0x20000000,
};

struct MFT_INPUT_STREAM_INFO {
    LONGLONG hnsMaxLatency;
    DWORD dwFlags;
    DWORD cbSize;
    DWORD cbMaxLookahead;
    DWORD cbAlignment;
};

struct MFT_OUTPUT_STREAM_INFO {
    DWORD dwFlags;
    DWORD cbSize;
    DWORD cbAlignment;
};

struct MFT_OUTPUT_DATA_BUFFER {
    DWORD dwStreamID;
    IMFSample* pSample;
    DWORD dwStatus;
    IMFCollection* pEvents;
};

constexpr DWORD MFT_INPUT_STATUS_ACCEPT_DATA = 0x1;
constexpr DWORD MFT_OUTPUT_STATUS_SAMPLE_READY = 0x1;
constexpr DWORD MFT_SET_TYPE_TEST_ONLY = 0x1;

constexpr DWORD MFT_INPUT_STREAM_WHOLE_SAMPLES = 0x1;
constexpr DWORD MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER = 0x2;
constexpr DWORD MFT_INPUT_STREAM_FIXED_SAMPLE_SIZE = 0x4;
constexpr DWORD MFT_INPUT_STREAM_HOLDS_BUFFERS = 0x8;
constexpr DWORD MFT_INPUT_STREAM_DOES_NOT_ADDREF = 0x100;
constexpr DWORD MFT_INPUT_STREAM_REMOVABLE = 0x200;
constexpr DWORD MFT_INPUT_STREAM_OPTIONAL = 0x400;
constexpr DWORD MFT_INPUT_STREAM_PROCESSES_IN_PLACE = 0x800;

constexpr DWORD MFT_OUTPUT_STREAM_WHOLE_SAMPLES = 0x1;
constexpr DWORD MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER = 0x2;
constexpr DWORD MFT_OUTPUT_STREAM_FIXED_SAMPLE_SIZE = 0x4;
constexpr DWORD MFT_OUTPUT_STREAM_DISCARDABLE = 0x8;
constexpr DWORD MFT_OUTPUT_STREAM_OPTIONAL = 0x10;
constexpr DWORD MFT_OUTPUT_STREAM_PROVIDES_SAMPLES = 0x100;
constexpr DWORD MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES = 0x200;
constexpr DWORD MFT_OUTPUT_STREAM_LAZY_READ = 0x400;
constexpr DWORD MFT_OUTPUT_STREAM_REMOVABLE = 0x800;

constexpr DWORD MFT_OUTPUT_DATA_BUFFER_INCOMPLETE = 0x1000000;
constexpr DWORD MFT_OUTPUT_DATA_BUFFER_FORMAT_CHANGE = 0x100;
constexpr DWORD MFT_OUTPUT_DATA_BUFFER_STREAM_END = 0x200;
constexpr DWORD MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE = 0x300;

constexpr DWORD MFT_PROCESS_OUTPUT_STATUS_NEW_STREAMS = 0x100;
constexpr DWORD MFT_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER = 0x1;
constexpr DWORD MFT_PROCESS_OUTPUT_REGENERATE_LAST_OUTPUT = 0x2;

struct IMFTransform : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* pdwInputMinimum, DWORD* pdwInputMaximum,
                                                      DWORD* pdwOutputMinimum, DWORD* pdwOutputMaximum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD dwInputIDArraySize, DWORD* pdwInputIDs,
                                                   DWORD dwOutputIDArraySize, DWORD* pdwOutputIDs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD dwInputStreamID,
                                                         MFT_INPUT_STREAM_INFO* pStreamInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD dwOutputStreamID,
                                                          MFT_OUTPUT_STREAM_INFO* pStreamInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** pAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD dwInputStreamID,
                                                               IMFAttributes** pAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD dwOutputStreamID,
                                                                IMFAttributes** pAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD dwStreamID) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD cStreams, DWORD* adwStreamIDs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD dwInputStreamID, DWORD dwTypeIndex,
                                                            IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD dwOutputStreamID, DWORD dwTypeIndex,
                                                             IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputType(DWORD dwInputStreamID, IMFMediaType* pType,
                                                   DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputType(DWORD dwOutputStreamID, IMFMediaType* pType,
                                                    DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD dwInputStreamID, IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD dwOutputStreamID, IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD dwInputStreamID, DWORD* pdwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* pdwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG hnsLowerBound, LONGLONG hnsUpperBound) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD dwInputStreamID, IMFMediaEvent* pEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE eMessage, ULONG_PTR ulParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessInput(DWORD dwInputStreamID, IMFSample* pSample,
                                                   DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD dwFlags, DWORD cOutputBufferCount,
                                                    MFT_OUTPUT_DATA_BUFFER* pOutputSamples,
                                                    DWORD* pdwStatus) = 0;

protected:
    ~IMFTransform() = default;
};

PYX_INTERFACE_ID(IMFTransform, IUnknown, "bf94c121-5b05-4e6f-8000-ba598961414d");

// Transform attributes.
DEFINE_GUID(MF_TRANSFORM_ASYNC, 0xf81a699a, 0x649a, 0x497d, 0x8c, 0x73, 0x29, 0xf8, 0xfe, 0xd6, 0xad, 0x7a);
DEFINE_GUID(MF_TRANSFORM_ASYNC_UNLOCK, 0xe5666d6b, 0x3422, 0x4eb6, 0xa4, 0x21, 0xda, 0x7d, 0xb1, 0xf8, 0xe2,
            0x07);
DEFINE_GUID(MF_SA_D3D11_AWARE, 0x206b4fc8, 0xfcf9, 0x4c51, 0xaf, 0xe3, 0x97, 0x64, 0x36, 0x9e, 0x33, 0xa0);
