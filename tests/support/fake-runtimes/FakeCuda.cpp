// A CUDA driver that keeps device memory in host memory. It follows the driver API's rules that the
// bindings and transforms rely on and refuses, loudly, whatever breaks them: nothing but the version query
// before cuInit, allocations only with a current context, frees only of what it allocated, copies only
// within allocations. An asynchronous copy takes its source at once but reaches device memory only when its
// stream is synchronised, so a caller that forgets to wait sees stale memory. Its one device sits at PCI bus
// id 0000:01:00.0.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeRuntime.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr CUresult InvalidValue = CUresult(1);
constexpr CUresult NotInitialized = CUresult(3);
constexpr CUresult InvalidDevice = CUresult(101);
constexpr CUresult InvalidContext = CUresult(201);

std::atomic<bool> s_initialized{false};
std::atomic<int> s_initResult{0};
std::mutex s_mutex;
constexpr const char* BusId = "0000:01:00.0";

// Host rows reach device memory, and device rows host memory, when the stream is synchronised. A host
// source is taken at once (the driver stages pageable memory); a device source is read at the copy's turn.
struct PendingCopy {
    std::vector<unsigned char> bytes; // a host source's rows, packed
    const unsigned char* source;      // a device source, or null
    std::size_t sourcePitch;
    unsigned char* destination;
    std::size_t pitch;
    std::size_t rowBytes;
    std::size_t rows;
};

std::map<CUdeviceptr, std::size_t> s_allocations; // start → size
std::set<CUcontext> s_contexts;
std::map<CUstream, std::vector<PendingCopy>> s_streams;
thread_local std::vector<CUcontext> t_contextStack;

CUresult Refuse(CUresult result, const char* entry, const char* why) {
    FakeRuntimeComplaint("CUDA", "%s: %s", entry, why);
    return result;
}

#define PYX_REQUIRE_INIT()                                                                                   \
    if (!s_initialized)                                                                                      \
    return Refuse(NotInitialized, __func__, "called before cuInit")

} // namespace

// What the tests use to steer the fake: the result of the next cuInit calls.
extern "C" __attribute__((visibility("default"))) void fakeCudaSetInitResult(int result) {
    s_initResult = result;
}

extern "C" __attribute__((visibility("default"))) CUresult cuInit(unsigned int flags) {
    if (flags != 0)
        return Refuse(InvalidValue, __func__, "flags must be 0");
    if (s_initResult != 0)
        return CUresult(s_initResult.load());
    s_initialized = true;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDriverGetVersion(int* version) {
    if (version == nullptr)
        return Refuse(InvalidValue, __func__, "null version");
    *version = 12020;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDeviceGetCount(int* count) {
    PYX_REQUIRE_INIT();
    if (count == nullptr)
        return Refuse(InvalidValue, __func__, "null count");
    *count = 1;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDeviceGet(CUdevice* device, int ordinal) {
    PYX_REQUIRE_INIT();
    if (device == nullptr)
        return Refuse(InvalidValue, __func__, "null device");
    if (ordinal != 0)
        return Refuse(InvalidDevice, __func__, "no such device");
    *device = 0;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDeviceGetName(char* name, int length,
                                                                           CUdevice device) {
    PYX_REQUIRE_INIT();
    if (name == nullptr || length <= 0)
        return Refuse(InvalidValue, __func__, "no room for the name");
    if (device != 0)
        return Refuse(InvalidDevice, __func__, "no such device");
    std::strncpy(name, "Fake CUDA Device", std::size_t(length) - 1);
    name[length - 1] = '\0';
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuCtxCreate_v2(CUcontext* context, unsigned int,
                                                                          CUdevice device) {
    PYX_REQUIRE_INIT();
    if (context == nullptr)
        return Refuse(InvalidValue, __func__, "null context");
    if (device != 0)
        return Refuse(InvalidDevice, __func__, "no such device");
    // A context is an address nothing else uses; the fake never dereferences it.
    *context = reinterpret_cast<CUcontext>(std::malloc(1));
    std::lock_guard lock(s_mutex);
    s_contexts.insert(*context);
    t_contextStack.push_back(*context);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuCtxDestroy_v2(CUcontext context) {
    PYX_REQUIRE_INIT();
    {
        std::lock_guard lock(s_mutex);
        if (s_contexts.erase(context) == 0)
            return Refuse(InvalidContext, __func__, "not a context of this driver");
    }
    std::erase(t_contextStack, context);
    std::free(context);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuCtxPushCurrent_v2(CUcontext context) {
    PYX_REQUIRE_INIT();
    std::lock_guard lock(s_mutex);
    if (s_contexts.count(context) == 0)
        return Refuse(InvalidContext, __func__, "not a context of this driver");
    t_contextStack.push_back(context);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuCtxPopCurrent_v2(CUcontext* context) {
    PYX_REQUIRE_INIT();
    if (t_contextStack.empty())
        return Refuse(InvalidContext, __func__, "no current context to pop");
    if (context != nullptr)
        *context = t_contextStack.back();
    t_contextStack.pop_back();
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuCtxGetCurrent(CUcontext* context) {
    PYX_REQUIRE_INIT();
    if (context == nullptr)
        return Refuse(InvalidValue, __func__, "null context");
    *context = t_contextStack.empty() ? nullptr : t_contextStack.back();
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuMemAlloc_v2(CUdeviceptr* pointer,
                                                                         std::size_t bytes) {
    PYX_REQUIRE_INIT();
    if (t_contextStack.empty())
        return Refuse(InvalidContext, __func__, "no current context");
    if (pointer == nullptr || bytes == 0)
        return Refuse(InvalidValue, __func__, "null pointer or no bytes");
    *pointer = reinterpret_cast<CUdeviceptr>(std::malloc(bytes));
    std::lock_guard lock(s_mutex);
    s_allocations.emplace(*pointer, bytes);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult
cuMemAllocPitch_v2(CUdeviceptr* pointer, std::size_t* pitch, std::size_t widthInBytes, std::size_t height,
                   unsigned int elementSize) {
    PYX_REQUIRE_INIT();
    if (pitch == nullptr || widthInBytes == 0 || height == 0 ||
        (elementSize != 4 && elementSize != 8 && elementSize != 16))
        return Refuse(InvalidValue, __func__, "null pitch, empty area or element size not 4, 8 or 16");
    const std::size_t rowPitch = (widthInBytes + 511) / 512 * 512;
    const CUresult result = cuMemAlloc_v2(pointer, rowPitch * height);
    if (result == CUDA_SUCCESS)
        *pitch = rowPitch;
    return result;
}

extern "C" __attribute__((visibility("default"))) CUresult cuMemFree_v2(CUdeviceptr pointer) {
    PYX_REQUIRE_INIT();
    {
        std::lock_guard lock(s_mutex);
        if (s_allocations.erase(pointer) == 0)
            return Refuse(InvalidValue, __func__, "not an allocation of this driver");
    }
    std::free(reinterpret_cast<void*>(pointer));
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDeviceGetByPCIBusId(CUdevice* device,
                                                                                 const char* busId) {
    PYX_REQUIRE_INIT();
    if (device == nullptr || busId == nullptr)
        return Refuse(InvalidValue, __func__, "null device or bus id");
    std::string lower(busId);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != BusId)
        return InvalidDevice; // another GPU's bus id: the driver's answer, not a misuse
    *device = 0;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuDeviceGetPCIBusId(char* busId, int length,
                                                                               CUdevice device) {
    PYX_REQUIRE_INIT();
    if (busId == nullptr || length < 13)
        return Refuse(InvalidValue, __func__, "no room for the bus id");
    if (device != 0)
        return Refuse(InvalidDevice, __func__, "no such device");
    std::strcpy(busId, BusId);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuStreamCreate(CUstream* stream, unsigned int) {
    PYX_REQUIRE_INIT();
    if (t_contextStack.empty())
        return Refuse(InvalidContext, __func__, "no current context");
    if (stream == nullptr)
        return Refuse(InvalidValue, __func__, "null stream");
    *stream = reinterpret_cast<CUstream>(std::malloc(1));
    std::lock_guard lock(s_mutex);
    s_streams[*stream];
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuStreamSynchronize(CUstream stream) {
    PYX_REQUIRE_INIT();
    std::lock_guard lock(s_mutex);
    const auto found = s_streams.find(stream);
    if (found == s_streams.end())
        return Refuse(InvalidValue, __func__, "not a stream of this driver");
    for (const PendingCopy& copy : found->second)
        for (std::size_t row = 0; row < copy.rows; ++row)
            std::memcpy(copy.destination + row * copy.pitch,
                        copy.source != nullptr ? copy.source + row * copy.sourcePitch
                                               : copy.bytes.data() + row * copy.rowBytes,
                        copy.rowBytes);
    found->second.clear();
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuStreamDestroy_v2(CUstream stream) {
    PYX_REQUIRE_INIT();
    std::lock_guard lock(s_mutex);
    const auto found = s_streams.find(stream);
    if (found == s_streams.end())
        return Refuse(InvalidValue, __func__, "not a stream of this driver");
    if (!found->second.empty())
        return Refuse(InvalidValue, __func__, "copies still pending: synchronise before destroying");
    s_streams.erase(found);
    std::free(stream);
    return CUDA_SUCCESS;
}

// Whether [first, end) lies inside one allocation. With s_mutex held.
bool InsideAllocation(CUdeviceptr first, CUdeviceptr end) {
    auto allocation = s_allocations.upper_bound(first);
    if (allocation == s_allocations.begin())
        return false;
    --allocation;
    return end <= allocation->first + allocation->second;
}

// Only what the transforms do: host rows into pitched device memory, and device rows into host memory.
extern "C" __attribute__((visibility("default"))) CUresult cuMemcpy2DAsync_v2(const CUDA_MEMCPY2D* copy,
                                                                              CUstream stream) {
    PYX_REQUIRE_INIT();
    if (t_contextStack.empty())
        return Refuse(InvalidContext, __func__, "no current context");
    if (copy == nullptr)
        return Refuse(InvalidValue, __func__, "null copy");
    const bool upload = copy->srcMemoryType == CU_MEMORYTYPE_HOST &&
                        copy->dstMemoryType == CU_MEMORYTYPE_DEVICE && copy->srcHost != nullptr;
    const bool download = copy->srcMemoryType == CU_MEMORYTYPE_DEVICE &&
                          copy->dstMemoryType == CU_MEMORYTYPE_HOST && copy->dstHost != nullptr;
    if (!upload && !download)
        return Refuse(InvalidValue, __func__, "only host to device and device to host copies are supported");
    if (copy->srcPitch < copy->WidthInBytes || copy->dstPitch < copy->WidthInBytes || copy->Height == 0)
        return Refuse(InvalidValue, __func__, "a pitch below the row width, or no rows");
    std::lock_guard lock(s_mutex);
    const auto stored = s_streams.find(stream);
    if (stored == s_streams.end())
        return Refuse(InvalidValue, __func__, "not a stream of this driver");
    const std::size_t extent =
        (copy->Height - 1) * (upload ? copy->dstPitch : copy->srcPitch) + copy->WidthInBytes;
    const CUdeviceptr device = upload ? copy->dstDevice + copy->dstY * copy->dstPitch + copy->dstXInBytes
                                      : copy->srcDevice + copy->srcY * copy->srcPitch + copy->srcXInBytes;
    if (!InsideAllocation(device, device + extent))
        return Refuse(InvalidValue, __func__, "device rows outside one allocation");
    PendingCopy pending{};
    pending.rowBytes = copy->WidthInBytes;
    pending.rows = copy->Height;
    if (upload) {
        pending.destination = reinterpret_cast<unsigned char*>(device);
        pending.pitch = copy->dstPitch;
        pending.bytes.resize(copy->WidthInBytes * copy->Height);
        const auto* source = static_cast<const unsigned char*>(copy->srcHost) + copy->srcY * copy->srcPitch +
                             copy->srcXInBytes;
        for (std::size_t row = 0; row < copy->Height; ++row)
            std::memcpy(pending.bytes.data() + row * copy->WidthInBytes, source + row * copy->srcPitch,
                        copy->WidthInBytes);
    } else {
        pending.source = reinterpret_cast<const unsigned char*>(device);
        pending.sourcePitch = copy->srcPitch;
        pending.destination =
            static_cast<unsigned char*>(copy->dstHost) + copy->dstY * copy->dstPitch + copy->dstXInBytes;
        pending.pitch = copy->dstPitch;
    }
    stored->second.push_back(std::move(pending));
    return CUDA_SUCCESS;
}

// For the fake encoder: whether `pointer` lies inside device memory with `bytes` to spare.
extern "C" __attribute__((visibility("default"))) bool fakeCudaIsDeviceMemory(CUdeviceptr pointer,
                                                                              std::size_t bytes) {
    std::lock_guard lock(s_mutex);
    return InsideAllocation(pointer, pointer + bytes);
}

extern "C" __attribute__((visibility("default"))) CUresult cuGetErrorName(CUresult error, const char** text) {
    if (text == nullptr)
        return Refuse(InvalidValue, __func__, "null text");
    switch (int(error)) {
    case 0:
        *text = "CUDA_SUCCESS";
        return CUDA_SUCCESS;
    case 1:
        *text = "CUDA_ERROR_INVALID_VALUE";
        return CUDA_SUCCESS;
    case 3:
        *text = "CUDA_ERROR_NOT_INITIALIZED";
        return CUDA_SUCCESS;
    case 201:
        *text = "CUDA_ERROR_INVALID_CONTEXT";
        return CUDA_SUCCESS;
    default:
        *text = nullptr;
        return InvalidValue;
    }
}

// The implemented entry points have the tables' signatures.
static_assert(std::is_same_v<decltype(cuInit), ::tcuInit>);
static_assert(std::is_same_v<decltype(cuDriverGetVersion), kiv::nv::tcuDriverGetVersion>);
static_assert(std::is_same_v<decltype(cuDeviceGetCount), ::tcuDeviceGetCount>);
static_assert(std::is_same_v<decltype(cuDeviceGet), ::tcuDeviceGet>);
static_assert(std::is_same_v<decltype(cuDeviceGetName), ::tcuDeviceGetName>);
static_assert(std::is_same_v<decltype(cuCtxCreate_v2), ::tcuCtxCreate_v2>);
static_assert(std::is_same_v<decltype(cuCtxDestroy_v2), ::tcuCtxDestroy_v2>);
static_assert(std::is_same_v<decltype(cuCtxPushCurrent_v2), ::tcuCtxPushCurrent_v2>);
static_assert(std::is_same_v<decltype(cuCtxPopCurrent_v2), ::tcuCtxPopCurrent_v2>);
static_assert(std::is_same_v<decltype(cuCtxGetCurrent), kiv::nv::tcuCtxGetCurrent>);
static_assert(std::is_same_v<decltype(cuMemAlloc_v2), ::tcuMemAlloc_v2>);
static_assert(std::is_same_v<decltype(cuMemFree_v2), ::tcuMemFree_v2>);
static_assert(std::is_same_v<decltype(cuGetErrorName), ::tcuGetErrorName>);
static_assert(std::is_same_v<decltype(cuMemAllocPitch_v2), ::tcuMemAllocPitch_v2>);
static_assert(std::is_same_v<decltype(cuDeviceGetByPCIBusId), kiv::nv::tcuDeviceGetByPCIBusId>);
static_assert(std::is_same_v<decltype(cuDeviceGetPCIBusId), kiv::nv::tcuDeviceGetPCIBusId>);
static_assert(std::is_same_v<decltype(cuStreamCreate), ::tcuStreamCreate>);
static_assert(std::is_same_v<decltype(cuStreamSynchronize), ::tcuStreamSynchronize>);
static_assert(std::is_same_v<decltype(cuStreamDestroy_v2), ::tcuStreamDestroy_v2>);
static_assert(std::is_same_v<decltype(cuMemcpy2DAsync_v2), ::tcuMemcpy2DAsync_v2>);
