#pragma once
// IMFTransform: the interface of every transform the media session drives, synchronous or asynchronous.

#include <mfobjects.h>

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
// How many output samples a transform's client keeps in flight at least.
DEFINE_GUID(MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT, 0x851745d5, 0xc3d6, 0x476d, 0x95, 0x27, 0x49, 0x8e, 0xf2, 0xd1,
            0x0d, 0x18);
DEFINE_GUID(MF_SA_D3D11_AWARE, 0x206b4fc8, 0xfcf9, 0x4c51, 0xaf, 0xe3, 0x97, 0x64, 0x36, 0x9e, 0x33, 0xa0);

// Finding transforms: categories, enumeration flags, the attributes a transform's activation object and
// attribute store carry, and MFTEnumEx over the platform's transforms.

struct MFT_REGISTER_TYPE_INFO {
    GUID guidMajorType;
    GUID guidSubtype;
};

enum _MFT_ENUM_FLAG : UINT32 {
    MFT_ENUM_FLAG_SYNCMFT = 0x00000001,
    MFT_ENUM_FLAG_ASYNCMFT = 0x00000002,
    MFT_ENUM_FLAG_HARDWARE = 0x00000004,
    MFT_ENUM_FLAG_FIELDOFUSE = 0x00000008,
    MFT_ENUM_FLAG_LOCALMFT = 0x00000010,
    MFT_ENUM_FLAG_TRANSCODE_ONLY = 0x00000020,
    MFT_ENUM_FLAG_SORTANDFILTER = 0x00000040,
    MFT_ENUM_FLAG_ALL = 0x0000003f,
};

// Categories.
DEFINE_GUID(MFT_CATEGORY_VIDEO_ENCODER, 0xf79eac7d, 0xe545, 0x4387, 0xbd, 0xee, 0xd6, 0x47, 0xd7, 0xbd, 0xe4,
            0x2a);
DEFINE_GUID(MFT_CATEGORY_VIDEO_DECODER, 0xd6c02d4b, 0x6833, 0x45b4, 0x97, 0x1a, 0x05, 0xa4, 0xb0, 0x4b, 0xab,
            0x91);
DEFINE_GUID(MFT_CATEGORY_VIDEO_PROCESSOR, 0x302ea3fc, 0xaa5f, 0x47f9, 0x9f, 0x7a, 0xc2, 0x18, 0x8b, 0xb1,
            0x63, 0x02);
DEFINE_GUID(MFT_CATEGORY_AUDIO_ENCODER, 0x91c64bd0, 0xf91e, 0x4d8c, 0x92, 0x76, 0xdb, 0x24, 0x82, 0x79, 0xd9,
            0x75);
DEFINE_GUID(MFT_CATEGORY_AUDIO_EFFECT, 0x11064c48, 0x3648, 0x4ed0, 0x93, 0x2e, 0x05, 0xce, 0x8a, 0xc8, 0x11,
            0xb7);

// Attributes of activation objects and transforms.
DEFINE_GUID(MFT_FRIENDLY_NAME_Attribute, 0x314ffbae, 0x5b41, 0x4c95, 0x9c, 0x19, 0x4e, 0x7d, 0x58, 0x6f, 0xac,
            0xe3);
DEFINE_GUID(MFT_INPUT_TYPES_Attributes, 0x4276c9b1, 0x759d, 0x4bf3, 0x9c, 0xd0, 0x0d, 0x72, 0x3d, 0x13, 0x8f,
            0x96);
DEFINE_GUID(MFT_OUTPUT_TYPES_Attributes, 0x8eae8cf3, 0xa44f, 0x4306, 0xba, 0x5c, 0xbf, 0x5d, 0xda, 0x24, 0x28,
            0x18);
DEFINE_GUID(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, 0x3aecb0cc, 0x035b, 0x4bcc, 0x81, 0x85, 0x2b, 0x8d, 0x55,
            0x1e, 0xf3, 0xaf);
DEFINE_GUID(MFT_ENUM_HARDWARE_URL_Attribute, 0x2fb866ac, 0xb078, 0x4942, 0xab, 0x6c, 0x00, 0x3d, 0x05, 0xcd,
            0xa6, 0x74);
DEFINE_GUID(MFT_TRANSFORM_CLSID_Attribute, 0x6821c42b, 0x65a4, 0x4e82, 0x99, 0xbc, 0x9a, 0x88, 0x20, 0x5e,
            0xcd, 0x0c);
DEFINE_GUID(MF_TRANSFORM_CATEGORY_Attribute, 0xceabba49, 0x506d, 0x4757, 0xa6, 0xff, 0x66, 0xc1, 0x84, 0x98,
            0x7e, 0x4e);
DEFINE_GUID(MF_TRANSFORM_FLAGS_Attribute, 0x9359bb7e, 0x6275, 0x46c4, 0xa0, 0x25, 0x1c, 0x01, 0xe4, 0x5f,
            0x1a, 0x86);
DEFINE_GUID(MFT_SUPPORT_DYNAMIC_FORMAT_CHANGE, 0x53476a11, 0x3f13, 0x49fb, 0xac, 0x42, 0xee, 0x27, 0x33, 0xc9,
            0x67, 0x41);
DEFINE_GUID(MFT_CODEC_MERIT_Attribute, 0x88a7cb15, 0x7b07, 0x4a34, 0x91, 0x28, 0xe6, 0x4c, 0x67, 0x03, 0xc4,
            0xd3);
DEFINE_GUID(MF_XVP_DISABLE_FRC, 0x2c0afa19, 0x7a97, 0x4d5a, 0x9e, 0xe8, 0x16, 0xd4, 0xfc, 0x51, 0x8d, 0x8c);

inline constexpr IID IID_IMFTransform = UuidOf<IMFTransform>();

// Lists the platform's transforms of a category that match the flags and, when given, the input and output
// types (a null subtype matches any). The array is allocated with CoTaskMemAlloc and each activation object
// carries one reference; both belong to the caller. No match is S_OK with a count of 0.
HRESULT MFTEnumEx(GUID guidCategory, UINT32 Flags, const MFT_REGISTER_TYPE_INFO* pInputType,
                  const MFT_REGISTER_TYPE_INFO* pOutputType, IMFActivate*** pppMFTActivate,
                  UINT32* pnumMFTActivate);
