// A CUDA driver that keeps device memory in host memory. It follows the driver API's rules that the
// bindings and transforms rely on and refuses, loudly, whatever breaks them: nothing but the version query
// before cuInit, allocations only with a current context, frees only of what it allocated.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeRuntime.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
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
std::set<CUdeviceptr> s_allocations;
std::set<CUcontext> s_contexts;
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
    s_allocations.insert(*pointer);
    return CUDA_SUCCESS;
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
