#pragma once
// What a media source offers: stream descriptors (an identifier and the media types of one stream, through
// its media type handler) and the presentation descriptor that lists them with their selection.

#include <mfobjects.h>
#include <unknwn.h>
#include <winuser.h>

struct IMFMediaTypeHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE IsMediaTypeSupported(IMFMediaType* pMediaType,
                                                           IMFMediaType** ppMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeCount(DWORD* pdwTypeCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeByIndex(DWORD dwIndex, IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCurrentMediaType(IMFMediaType* pMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentMediaType(IMFMediaType** ppMediaType) = 0;
    // The current type's major type, or the first offered type's while none is current.
    virtual HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) = 0;

protected:
    ~IMFMediaTypeHandler() = default;
};

PYX_INTERFACE_ID(IMFMediaTypeHandler, IUnknown, "e93dcf6c-4b07-4e1e-8123-aa16ed6eadf5");

struct IMFStreamDescriptor : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetStreamIdentifier(DWORD* pdwStreamIdentifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppMediaTypeHandler) = 0;

protected:
    ~IMFStreamDescriptor() = default;
};

PYX_INTERFACE_ID(IMFStreamDescriptor, IMFAttributes, "56c03d9c-9dbb-45f5-ab4b-d80f47c05938");

struct IMFPresentationDescriptor : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptorCount(DWORD* pdwDescriptorCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptorByIndex(DWORD dwIndex, BOOL* pfSelected,
                                                                 IMFStreamDescriptor** ppDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectStream(DWORD dwDescriptorIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeselectStream(DWORD dwDescriptorIndex) = 0;
    // A copy of the attributes and the selection; the stream descriptors themselves are shared.
    virtual HRESULT STDMETHODCALLTYPE Clone(IMFPresentationDescriptor** ppPresentationDescriptor) = 0;

protected:
    ~IMFPresentationDescriptor() = default;
};

PYX_INTERFACE_ID(IMFPresentationDescriptor, IMFAttributes, "03cb2711-24d7-4db6-a17f-f3a7a479a536");

HRESULT MFCreateStreamDescriptor(DWORD dwStreamIdentifier, DWORD cMediaTypes, IMFMediaType** apMediaTypes,
                                 IMFStreamDescriptor** ppDescriptor);
// Every stream starts deselected.
HRESULT MFCreatePresentationDescriptor(DWORD cStreamDescriptors, IMFStreamDescriptor** apStreamDescriptors,
                                       IMFPresentationDescriptor** ppPresentationDescriptor);

// Media sources and their streams: the entry of a topology. A source announces its streams and state changes
// as events; a stream answers each RequestSample with one MEMediaSample event.

enum MFMEDIASOURCE_CHARACTERISTICS : DWORD {
    MFMEDIASOURCE_IS_LIVE = 0x1,
    MFMEDIASOURCE_CAN_SEEK = 0x2,
    MFMEDIASOURCE_CAN_PAUSE = 0x4,
    MFMEDIASOURCE_HAS_SLOW_SEEK = 0x8,
};

struct IMFMediaSource : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    CreatePresentationDescriptor(IMFPresentationDescriptor** ppPresentationDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* pPresentationDescriptor,
                                            const GUID* pguidTimeFormat,
                                            const PROPVARIANT* pvarStartPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSource() = default;
};

PYX_INTERFACE_ID(IMFMediaSource, IMFMediaEventGenerator, "279a808d-aec7-40c8-9c6b-a6b492c78a66");

struct IMFMediaStream : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** ppMediaSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* pToken) = 0;

protected:
    ~IMFMediaStream() = default;
};

PYX_INTERFACE_ID(IMFMediaStream, IMFMediaEventGenerator, "d182108f-4ec6-443f-aa42-a71106ec825f");

// The token of the RequestSample a sample answers.
DEFINE_GUID(MFSampleExtension_Token, 0x8294da66, 0xf328, 0x4805, 0xb5, 0x51, 0x00, 0xde, 0xb4, 0xc5, 0x7a,
            0x61);

// Topologies: nodes (source stream, transform, output) connected output to input, which a media session runs.

using TOPOID = UINT64;

enum MF_TOPOLOGY_TYPE : DWORD {
    MF_TOPOLOGY_OUTPUT_NODE = 0,
    MF_TOPOLOGY_SOURCESTREAM_NODE = 1,
    MF_TOPOLOGY_TRANSFORM_NODE = 2,
    MF_TOPOLOGY_TEE_NODE = 3,
};

struct IMFTopologyNode : IMFAttributes {
    // The transform of a transform node, the stream sink of an output node.
    virtual HRESULT STDMETHODCALLTYPE SetObject(IUnknown* pObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObject(IUnknown** ppObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeType(MF_TOPOLOGY_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTopoNodeID(TOPOID* pID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTopoNodeID(TOPOID ullTopoID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* pcOutputs) = 0;
    // Replaces whatever was connected to either end before.
    virtual HRESULT STDMETHODCALLTYPE ConnectOutput(DWORD dwOutputIndex, IMFTopologyNode* pDownstreamNode,
                                                    DWORD dwInputIndexOnDownstreamNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisconnectOutput(DWORD dwOutputIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInput(DWORD dwInputIndex, IMFTopologyNode** ppUpstreamNode,
                                               DWORD* pdwOutputIndexOnUpstreamNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutput(DWORD dwOutputIndex, IMFTopologyNode** ppDownstreamNode,
                                                DWORD* pdwInputIndexOnDownstreamNode) = 0;

protected:
    ~IMFTopologyNode() = default;
};

PYX_INTERFACE_ID(IMFTopologyNode, IMFAttributes, "83cf873a-f6da-4bc8-823f-bacfd55dc430");

struct IMFTopology : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetTopologyID(TOPOID* pID) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNode(IMFTopologyNode* pNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveNode(IMFTopologyNode* pNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeCount(WORD* pwNodes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNode(WORD wIndex, IMFTopologyNode** ppNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNodeByID(TOPOID qwTopoNodeID, IMFTopologyNode** ppNode) = 0;

protected:
    ~IMFTopology() = default;
};

PYX_INTERFACE_ID(IMFTopology, IMFAttributes, "83cf873a-f6da-4bc8-823f-bacfd55dc433");

HRESULT MFCreateTopology(IMFTopology** ppTopo);
HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE NodeType, IMFTopologyNode** ppNode);

// Source-stream node attributes: the source (IUnknown), its presentation descriptor and the stream's
// descriptor (both IUnknown).
DEFINE_GUID(MF_TOPONODE_SOURCE, 0x835c58ec, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00, 0xdf, 0x9a, 0xe6);
DEFINE_GUID(MF_TOPONODE_PRESENTATION_DESCRIPTOR, 0x835c58ed, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00,
            0xdf, 0x9a, 0xe6);
DEFINE_GUID(MF_TOPONODE_STREAM_DESCRIPTOR, 0x835c58ee, 0xe075, 0x4bc7, 0xbc, 0xba, 0x4d, 0xe0, 0x00, 0xdf,
            0x9a, 0xe6);

// The media session: runs a topology. It starts the topology's sources, requests samples stream by stream,
// drives every transform and hands the results to the stream sinks; its event stream reports each command's
// completion (MESessionTopologySet, MESessionStarted, MESessionStopped, MESessionClosed) and MEError.

struct IMFMediaSession : IMFMediaEventGenerator {
    // Only one topology at a time; dwSetTopologyFlags must be 0.
    virtual HRESULT STDMETHODCALLTYPE SetTopology(DWORD dwSetTopologyFlags, IMFTopology* pTopology) = 0;
    // pguidTimeFormat may be null or GUID_NULL; the start position is handed to the sources.
    virtual HRESULT STDMETHODCALLTYPE Start(const GUID* pguidTimeFormat,
                                            const PROPVARIANT* pvarStartPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    // Synchronous: stops every worker, shuts the topology's media sinks down and releases the topology.
    // Sources stay with their owner. MF_E_INVALIDREQUEST from a callback on one of the session's own threads
    // (a sink callback), which the shutdown would have to wait for.
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSession() = default;
};

PYX_INTERFACE_ID(IMFMediaSession, IMFMediaEventGenerator, "90377834-21d0-4dee-8214-ba2e3e6c1127");

// The configuration (may be null) is not read: the session never works ahead of its sinks, which is what
// MF_LOW_LATENCY asks for.
HRESULT MFCreateMediaSession(IMFAttributes* pConfiguration, IMFMediaSession** ppMediaSession);

// Media sinks, their stream sinks, activation objects, and the sample grabber sink with its callbacks.

using MFTIME = LONGLONG;

struct IMFPresentationClock;

struct IMFClockStateSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME hnsSystemTime, LONGLONG llClockStartOffset) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME hnsSystemTime, float flRate) = 0;

protected:
    ~IMFClockStateSink() = default;
};

PYX_INTERFACE_ID(IMFClockStateSink, IUnknown, "f6696e82-74f7-4f3d-a178-8a5e09c3659f");

struct IMFSampleGrabberSinkCallback : IMFClockStateSink {
    virtual HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock* pPresentationClock) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                      LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                      const BYTE* pSampleBuffer, DWORD dwSampleSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnShutdown() = 0;

protected:
    ~IMFSampleGrabberSinkCallback() = default;
};

PYX_INTERFACE_ID(IMFSampleGrabberSinkCallback, IMFClockStateSink, "8c7b80bf-ee42-4b59-b1df-55668e1bdca8");

// A callback that also answers this interface gets OnProcessSampleEx, with the sample's attributes, instead
// of OnProcessSample.
struct IMFSampleGrabberSinkCallback2 : IMFSampleGrabberSinkCallback {
    virtual HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                        LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                        const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                                        IMFAttributes* pAttributes) = 0;

protected:
    ~IMFSampleGrabberSinkCallback2() = default;
};

PYX_INTERFACE_ID(IMFSampleGrabberSinkCallback2, IMFSampleGrabberSinkCallback,
                 "ca86aa50-c46e-429e-ab27-16d6ac6844cb");

struct IMFStreamSink;

enum : DWORD {
    MEDIASINK_FIXED_STREAMS = 0x1,
    MEDIASINK_CANNOT_MATCH_CLOCK = 0x2,
    MEDIASINK_RATELESS = 0x4,
};

struct IMFMediaSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkCount(DWORD* pcStreamSinkCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkByIndex(DWORD dwIndex, IMFStreamSink** ppStreamSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkById(DWORD dwStreamSinkIdentifier,
                                                        IMFStreamSink** ppStreamSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSink() = default;
};

PYX_INTERFACE_ID(IMFMediaSink, IUnknown, "6ef2a660-47c0-4666-b13d-cbb717f2fa2c");

// A stream sink asks for each sample with MEStreamSinkRequestSample once its media sink's clock has started.
struct IMFStreamSink : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetMediaSink(IMFMediaSink** ppMediaSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentifier(DWORD* pdwIdentifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppHandler) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessSample(IMFSample* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;

protected:
    ~IMFStreamSink() = default;
};

PYX_INTERFACE_ID(IMFStreamSink, IMFMediaEventGenerator, "0a97b3cf-8e7c-4a3d-8f8c-0c843dc247fb");

// The activation object creates a media sink with one stream sink of the given type whose samples go to the
// callback.
HRESULT MFCreateSampleGrabberSinkActivate(IMFMediaType* pIMFMediaType,
                                          IMFSampleGrabberSinkCallback* pIMFSampleGrabberSinkCallback,
                                          IMFActivate** ppIActivate);

// UINT32 on the activation object: non-zero hands samples over as they arrive; otherwise each is held until
// its presentation time has come on the session's clock.
DEFINE_GUID(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 0x0efda2c0, 0x2b69, 0x4e2e, 0xab, 0x8d, 0x46, 0xdc, 0xbf, 0xf7,
            0xd2, 0x5d);

// IMFVideoProcessorControl: per-stream settings of the video processor transform.

enum MF_VIDEO_PROCESSOR_ROTATION : UINT32 {
    ROTATION_NONE = 0,   // keep the frame as stored
    ROTATION_NORMAL = 1, // turn the frame upright as its input type's MF_MT_VIDEO_ROTATION says
};

enum MF_VIDEO_PROCESSOR_MIRROR : UINT32 {
    MIRROR_NONE = 0,
    MIRROR_HORIZONTAL = 1,
    MIRROR_VERTICAL = 2,
};

struct MFARGB {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbAlpha;
};

struct SIZE;

struct IMFVideoProcessorControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetBorderColor(MFARGB* pBorderColor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourceRectangle(RECT* pSrcRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDestinationRectangle(RECT* pDstRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMirror(MF_VIDEO_PROCESSOR_MIRROR eMirror) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRotation(MF_VIDEO_PROCESSOR_ROTATION eRotation) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConstrictionSize(SIZE* pConstrictionSize) = 0;

protected:
    ~IMFVideoProcessorControl() = default;
};

PYX_INTERFACE_ID(IMFVideoProcessorControl, IUnknown, "a3f675d5-6119-4f7f-a100-1d8b280f0efb");

// Video samples over Direct3D 11 textures: the DXGI surface buffer (IMFDXGIBuffer with IMF2DBuffer), tracked
// samples that call their allocator back when the last reference goes, and the DXGI device manager through
// which transforms share a device.

struct IMF2DBuffer : IUnknown {
    // The first row and the row pitch, in place; the texture stays locked until Unlock2D.
    virtual HRESULT STDMETHODCALLTYPE Lock2D(BYTE** ppbScanline0, LONG* plPitch) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock2D() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScanline0AndPitch(BYTE** pbScanline0, LONG* plPitch) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsContiguousFormat(BOOL* pfIsContiguous) = 0;
    // The size of the image with rows packed (no pitch padding), planes one after another.
    virtual HRESULT STDMETHODCALLTYPE GetContiguousLength(DWORD* pcbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContiguousCopyTo(BYTE* pbDestBuffer, DWORD cbDestBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContiguousCopyFrom(const BYTE* pbSrcBuffer, DWORD cbSrcBuffer) = 0;

protected:
    ~IMF2DBuffer() = default;
};

PYX_INTERFACE_ID(IMF2DBuffer, IUnknown, "7dc9d5f9-9ed9-44ec-9bbf-0600bb589fbb");

struct IMFDXGIBuffer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetResource(REFIID riid, LPVOID* ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubresourceIndex(UINT* puSubresource) = 0;

protected:
    ~IMFDXGIBuffer() = default;
};

PYX_INTERFACE_ID(IMFDXGIBuffer, IUnknown, "e7174cfa-1c9e-48b1-8866-626226bfc258");

struct IMFTrackedSample : IUnknown {
    // When the last reference to the sample goes, pSampleAllocator->Invoke runs on that thread with a result
    // whose object is the sample; the allocator is forgotten then and must be set again for the next round.
    // MF_E_NOTACCEPTING while one is already set.
    virtual HRESULT STDMETHODCALLTYPE SetAllocator(IMFAsyncCallback* pSampleAllocator,
                                                   IUnknown* pUnkState) = 0;

protected:
    ~IMFTrackedSample() = default;
};

PYX_INTERFACE_ID(IMFTrackedSample, IUnknown, "245bf8e9-0755-40f7-88a5-ae0f18d55e17");

// Objects that their owner must shut down explicitly before the last release, such as asynchronous
// transforms.
enum MFSHUTDOWN_STATUS : UINT32 {
    MFSHUTDOWN_INITIATED = 0,
    MFSHUTDOWN_COMPLETED = 1,
};

struct IMFShutdown : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
    // MF_E_INVALIDREQUEST before Shutdown was called.
    virtual HRESULT STDMETHODCALLTYPE GetShutdownStatus(MFSHUTDOWN_STATUS* pStatus) = 0;

protected:
    ~IMFShutdown() = default;
};

PYX_INTERFACE_ID(IMFShutdown, IUnknown, "97ec2ea4-0e42-4937-97ac-9d6d328824e1");

struct IMFDXGIDeviceManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CloseDeviceHandle(HANDLE hDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoService(HANDLE hDevice, REFIID riid, void** ppService) = 0;
    // One handle holds the device at a time; fBlock waits for it, otherwise MF_E_DXGI_VIDEO_DEVICE_LOCKED.
    virtual HRESULT STDMETHODCALLTYPE LockDevice(HANDLE hDevice, REFIID riid, void** ppUnkDevice,
                                                 BOOL fBlock) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenDeviceHandle(HANDLE* phDevice) = 0;
    // Replaces the device; handles opened before answer MF_E_DXGI_NEW_VIDEO_DEVICE from then on.
    virtual HRESULT STDMETHODCALLTYPE ResetDevice(IUnknown* pUnkDevice, UINT resetToken) = 0;
    virtual HRESULT STDMETHODCALLTYPE TestDevice(HANDLE hDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockDevice(HANDLE hDevice, BOOL fSaveState) = 0;

protected:
    ~IMFDXGIDeviceManager() = default;
};

PYX_INTERFACE_ID(IMFDXGIDeviceManager, IUnknown, "eb533d5d-2db6-40f8-97a9-494692014f07");

// riid must be __uuidof(ID3D11Texture2D); the buffer's length is its contiguous length.
HRESULT MFCreateDXGISurfaceBuffer(REFIID riid, IUnknown* punkSurface, UINT uSubresourceIndex,
                                  BOOL fBottomUpWhenLinear, IMFMediaBuffer** ppBuffer);
// A tracked sample (IMFTrackedSample); with a texture it already holds a surface buffer over it.
HRESULT MFCreateVideoSampleFromSurface(IUnknown* pUnkSurface, IMFSample** ppSample);
HRESULT MFCreateDXGIDeviceManager(UINT* resetToken, IMFDXGIDeviceManager** ppDeviceManager);
