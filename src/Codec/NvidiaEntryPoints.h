#pragma once
// The entry points of NVIDIA's CUDA driver and NVDEC runtimes that the bindings resolve, each listed once:
// X(member, export, signature type); and the NVENC functions the encoder runtime hands out in its function
// list: X(member, list field). The bindings declare their members from these tables and the test
// runtimes export the same names from them. The CUDA driver's Direct3D 11 interop exists on Windows only
// and is not part of the Linux tables.

// The system's GUID, where the platform declares one, before NVENC's header declares its own.
#if __has_include(<guiddef.h>)
#include <guiddef.h>
#endif
#include <ffnvcodec/dynlink_cuda.h>
#include <ffnvcodec/dynlink_cuviddec.h>
#include <ffnvcodec/dynlink_nvcuvid.h>
#include <ffnvcodec/nvEncodeAPI.h>

#include <cstddef>

namespace kiv::nv {

// Entry points the headers do not describe, with the driver API's documented parameters. Structures this
// system never reads are passed as opaque pointers.
using tcuDriverGetVersion = CUresult(int* driverVersion);
using tcuDeviceGetByPCIBusId = CUresult(CUdevice* device, const char* pciBusId);
using tcuDeviceGetLuid = CUresult(char* luid, unsigned int* deviceNodeMask, CUdevice device);
using tcuDeviceGetPCIBusId = CUresult(char* pciBusId, int length, CUdevice device);
using tcuDeviceTotalMem_v2 = CUresult(std::size_t* bytes, CUdevice device);
using tcuCtxGetApiVersion = CUresult(CUcontext context, unsigned int* version);
using tcuCtxGetCurrent = CUresult(CUcontext* context);
using tcuGraphicsResourceSetMapFlags_v2 = CUresult(CUgraphicsResource resource, unsigned int flags);
using tcuArrayGetDescriptor_v2 = CUresult(void* descriptor, CUarray array);
using tcuArrayGetMemoryRequirements = CUresult(void* requirements, CUarray array, CUdevice device);
using tcuArrayGetSparseProperties = CUresult(void* properties, CUarray array);
using tcuArrayGetPlane = CUresult(CUarray* plane, CUarray array, unsigned int planeIndex);

} // namespace kiv::nv

#define KIV_NV_CUDA_ENTRY_POINTS(X)                                                                          \
    X(Init, cuInit, ::tcuInit)                                                                               \
    X(DriverGetVersion, cuDriverGetVersion, ::kiv::nv::tcuDriverGetVersion)                                  \
    X(GetErrorName, cuGetErrorName, ::tcuGetErrorName)                                                       \
    X(GetErrorString, cuGetErrorString, ::tcuGetErrorString)                                                 \
    X(StreamCreate, cuStreamCreate, ::tcuStreamCreate)                                                       \
    X(StreamDestroy_v2, cuStreamDestroy_v2, ::tcuStreamDestroy_v2)                                           \
    X(StreamSynchronize, cuStreamSynchronize, ::tcuStreamSynchronize)                                        \
    X(MemAlloc_v2, cuMemAlloc_v2, ::tcuMemAlloc_v2)                                                          \
    X(MemAllocPitch_v2, cuMemAllocPitch_v2, ::tcuMemAllocPitch_v2)                                           \
    X(MemFree_v2, cuMemFree_v2, ::tcuMemFree_v2)                                                             \
    X(MemcpyAsync, cuMemcpyAsync, ::tcuMemcpyAsync)                                                          \
    X(Memcpy2DAsync_v2, cuMemcpy2DAsync_v2, ::tcuMemcpy2DAsync_v2)                                           \
    X(DeviceGetCount, cuDeviceGetCount, ::tcuDeviceGetCount)                                                 \
    X(DeviceGet, cuDeviceGet, ::tcuDeviceGet)                                                                \
    X(DeviceGetByPCIBusId, cuDeviceGetByPCIBusId, ::kiv::nv::tcuDeviceGetByPCIBusId)                         \
    X(DeviceGetAttribute, cuDeviceGetAttribute, ::tcuDeviceGetAttribute)                                     \
    X(DeviceGetLuid, cuDeviceGetLuid, ::kiv::nv::tcuDeviceGetLuid)                                           \
    X(DeviceGetName, cuDeviceGetName, ::tcuDeviceGetName)                                                    \
    X(DeviceGetPCIBusId, cuDeviceGetPCIBusId, ::kiv::nv::tcuDeviceGetPCIBusId)                               \
    X(DeviceTotalMem_v2, cuDeviceTotalMem_v2, ::kiv::nv::tcuDeviceTotalMem_v2)                               \
    X(DevicePrimaryCtxRetain, cuDevicePrimaryCtxRetain, ::tcuDevicePrimaryCtxRetain)                         \
    X(CtxCreate_v2, cuCtxCreate_v2, ::tcuCtxCreate_v2)                                                       \
    X(CtxDestroy_v2, cuCtxDestroy_v2, ::tcuCtxDestroy_v2)                                                    \
    X(CtxGetApiVersion, cuCtxGetApiVersion, ::kiv::nv::tcuCtxGetApiVersion)                                  \
    X(CtxGetCurrent, cuCtxGetCurrent, ::kiv::nv::tcuCtxGetCurrent)                                           \
    X(CtxGetDevice, cuCtxGetDevice, ::tcuCtxGetDevice)                                                       \
    X(CtxPushCurrent_v2, cuCtxPushCurrent_v2, ::tcuCtxPushCurrent_v2)                                        \
    X(CtxPopCurrent_v2, cuCtxPopCurrent_v2, ::tcuCtxPopCurrent_v2)                                           \
    X(GraphicsUnregisterResource, cuGraphicsUnregisterResource, ::tcuGraphicsUnregisterResource)             \
    X(GraphicsMapResources, cuGraphicsMapResources, ::tcuGraphicsMapResources)                               \
    X(GraphicsUnmapResources, cuGraphicsUnmapResources, ::tcuGraphicsUnmapResources)                         \
    X(GraphicsResourceSetMapFlags_v2, cuGraphicsResourceSetMapFlags_v2,                                      \
      ::kiv::nv::tcuGraphicsResourceSetMapFlags_v2)                                                          \
    X(GraphicsResourceGetMappedPointer_v2, cuGraphicsResourceGetMappedPointer_v2,                            \
      ::tcuGraphicsResourceGetMappedPointer)                                                                 \
    X(GraphicsSubResourceGetMappedArray, cuGraphicsSubResourceGetMappedArray,                                \
      ::tcuGraphicsSubResourceGetMappedArray)                                                                \
    X(ArrayGetDescriptor_v2, cuArrayGetDescriptor_v2, ::kiv::nv::tcuArrayGetDescriptor_v2)                   \
    X(ArrayGetMemoryRequirements, cuArrayGetMemoryRequirements, ::kiv::nv::tcuArrayGetMemoryRequirements)    \
    X(ArrayGetSparseProperties, cuArrayGetSparseProperties, ::kiv::nv::tcuArrayGetSparseProperties)          \
    X(ArrayGetPlane, cuArrayGetPlane, ::kiv::nv::tcuArrayGetPlane)                                           \
    X(ArrayDestroy, cuArrayDestroy, ::tcuArrayDestroy)                                                       \
    X(MipmappedArrayGetLevel, cuMipmappedArrayGetLevel, ::tcuMipmappedArrayGetLevel)                         \
    X(MipmappedArrayDestroy, cuMipmappedArrayDestroy, ::tcuMipmappedArrayDestroy)                            \
    X(ImportExternalMemory, cuImportExternalMemory, ::tcuImportExternalMemory)                               \
    X(ExternalMemoryGetMappedBuffer, cuExternalMemoryGetMappedBuffer, ::tcuExternalMemoryGetMappedBuffer)    \
    X(ExternalMemoryGetMappedMipmappedArray, cuExternalMemoryGetMappedMipmappedArray,                        \
      ::tcuExternalMemoryGetMappedMipmappedArray)                                                            \
    X(DestroyExternalMemory, cuDestroyExternalMemory, ::tcuDestroyExternalMemory)

#define KIV_NV_NVDEC_ENTRY_POINTS(X)                                                                         \
    X(CreateVideoParser, cuvidCreateVideoParser, ::tcuvidCreateVideoParser)                                  \
    X(DestroyVideoParser, cuvidDestroyVideoParser, ::tcuvidDestroyVideoParser)                               \
    X(ParseVideoData, cuvidParseVideoData, ::tcuvidParseVideoData)                                           \
    X(CreateDecoder, cuvidCreateDecoder, ::tcuvidCreateDecoder)                                              \
    X(DestroyDecoder, cuvidDestroyDecoder, ::tcuvidDestroyDecoder)                                           \
    X(ReconfigureDecoder, cuvidReconfigureDecoder, ::tcuvidReconfigureDecoder)                               \
    X(DecodePicture, cuvidDecodePicture, ::tcuvidDecodePicture)                                              \
    X(MapVideoFrame64, cuvidMapVideoFrame64, ::tcuvidMapVideoFrame64)                                        \
    X(UnmapVideoFrame64, cuvidUnmapVideoFrame64, ::tcuvidUnmapVideoFrame64)                                  \
    X(CtxLockCreate, cuvidCtxLockCreate, ::tcuvidCtxLockCreate)                                              \
    X(CtxLockDestroy, cuvidCtxLockDestroy, ::tcuvidCtxLockDestroy)                                           \
    X(CtxLock, cuvidCtxLock, ::tcuvidCtxLock)                                                                \
    X(CtxUnlock, cuvidCtxUnlock, ::tcuvidCtxUnlock)                                                          \
    X(GetDecoderCaps, cuvidGetDecoderCaps, ::tcuvidGetDecoderCaps)                                           \
    X(GetDecodeStatus, cuvidGetDecodeStatus, ::tcuvidGetDecodeStatus)

// NVENC: the two exports, then the functions of the list NvEncodeAPICreateInstance fills.
#define KIV_NV_NVENC_EXPORTS(X)                                                                              \
    X(GetMaxSupportedVersion, NvEncodeAPIGetMaxSupportedVersion,                                             \
      decltype(::NvEncodeAPIGetMaxSupportedVersion))                                                         \
    X(CreateInstance, NvEncodeAPICreateInstance, decltype(::NvEncodeAPICreateInstance))

#define KIV_NV_NVENC_FUNCTIONS(X)                                                                            \
    X(OpenEncodeSessionEx, nvEncOpenEncodeSessionEx)                                                         \
    X(DestroyEncoder, nvEncDestroyEncoder)                                                                   \
    X(GetEncodePresetConfigEx, nvEncGetEncodePresetConfigEx)                                                 \
    X(InitializeEncoder, nvEncInitializeEncoder)                                                             \
    X(CreateBitstreamBuffer, nvEncCreateBitstreamBuffer)                                                     \
    X(DestroyBitstreamBuffer, nvEncDestroyBitstreamBuffer)                                                   \
    X(RegisterResource, nvEncRegisterResource)                                                               \
    X(UnregisterResource, nvEncUnregisterResource)                                                           \
    X(MapInputResource, nvEncMapInputResource)                                                               \
    X(UnmapInputResource, nvEncUnmapInputResource)                                                           \
    X(EncodePicture, nvEncEncodePicture)                                                                     \
    X(LockBitstream, nvEncLockBitstream)                                                                     \
    X(UnlockBitstream, nvEncUnlockBitstream)                                                                 \
    X(ReconfigureEncoder, nvEncReconfigureEncoder)                                                           \
    X(RegisterAsyncEvent, nvEncRegisterAsyncEvent)                                                           \
    X(UnregisterAsyncEvent, nvEncUnregisterAsyncEvent)                                                       \
    X(GetEncodeGUIDCount, nvEncGetEncodeGUIDCount)                                                           \
    X(GetEncodeGUIDs, nvEncGetEncodeGUIDs)                                                                   \
    X(GetEncodeProfileGUIDCount, nvEncGetEncodeProfileGUIDCount)                                             \
    X(GetEncodeProfileGUIDs, nvEncGetEncodeProfileGUIDs)                                                     \
    X(GetInputFormatCount, nvEncGetInputFormatCount)                                                         \
    X(GetInputFormats, nvEncGetInputFormats)                                                                 \
    X(GetEncodePresetCount, nvEncGetEncodePresetCount)                                                       \
    X(GetEncodePresetGUIDs, nvEncGetEncodePresetGUIDs)                                                       \
    X(GetEncodeCaps, nvEncGetEncodeCaps)                                                                     \
    X(GetLastErrorString, nvEncGetLastErrorString)                                                           \
    X(CreateInputBuffer, nvEncCreateInputBuffer)                                                             \
    X(DestroyInputBuffer, nvEncDestroyInputBuffer)
