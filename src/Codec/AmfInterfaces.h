#pragma once
// AMD's AMF interfaces as far as the codec library and its fake runtime use them. AMD publishes no headers
// for Linux distributions, so these declarations are ours, after the public SDK: every interface lists its
// virtual functions in the SDK's order, so that its vtable matches the runtime's (built with GCC on Linux,
// which lists overloads in declaration order). A slot that nothing here calls keeps its place and its SDK
// name with a signature that stands for any (KIV_AMF_SLOT). Values of enumerations and GUIDs are the SDK's.

#include <cstddef>
#include <cstdint>
#include <utility>

// AMF results: 0 is success, 23 to 27 and 44 are success-class answers, the rest failures.
using AMF_RESULT = int;
constexpr AMF_RESULT AMF_OK = 0;
constexpr AMF_RESULT AMF_FAIL = 1;
constexpr AMF_RESULT AMF_UNEXPECTED = 2;
constexpr AMF_RESULT AMF_INVALID_ARG = 4;
constexpr AMF_RESULT AMF_OUT_OF_RANGE = 5;
constexpr AMF_RESULT AMF_INVALID_POINTER = 7;
constexpr AMF_RESULT AMF_NO_INTERFACE = 8;
constexpr AMF_RESULT AMF_NOT_IMPLEMENTED = 9;
constexpr AMF_RESULT AMF_NOT_SUPPORTED = 10;
constexpr AMF_RESULT AMF_NOT_FOUND = 11;
constexpr AMF_RESULT AMF_ALREADY_INITIALIZED = 12;
constexpr AMF_RESULT AMF_NOT_INITIALIZED = 13;
constexpr AMF_RESULT AMF_INVALID_FORMAT = 14;
constexpr AMF_RESULT AMF_WRONG_STATE = 15;
constexpr AMF_RESULT AMF_EOF = 23;
constexpr AMF_RESULT AMF_REPEAT = 24;
constexpr AMF_RESULT AMF_INPUT_FULL = 25;
constexpr AMF_RESULT AMF_INVALID_DATA_TYPE = 28;
constexpr AMF_RESULT AMF_INVALID_RESOLUTION = 29;
constexpr AMF_RESULT AMF_CODEC_NOT_SUPPORTED = 30;
constexpr AMF_RESULT AMF_SURFACE_FORMAT_NOT_SUPPORTED = 31;
constexpr AMF_RESULT AMF_DECODER_NO_FREE_SURFACES = 35;
constexpr AMF_RESULT AMF_NEED_MORE_INPUT = 44;

// A vtable slot nothing here calls.
#define KIV_AMF_SLOT(name) virtual AMF_RESULT name(...) = 0;

namespace amf {

struct AMFGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    bool operator==(const AMFGuid&) const = default;
};

struct AMFRect {
    std::int32_t left, top, right, bottom;
};
struct AMFSize {
    std::int32_t width, height;
};
struct AMFPoint {
    std::int32_t x, y;
};
struct AMFRate {
    std::uint32_t num, den;
};
struct AMFRatio {
    std::uint32_t num, den;
};
struct AMFColor {
    std::uint32_t rgba;
};
struct AMFFloatVector4D {
    float x, y, z, w;
};

enum AMF_VARIANT_TYPE : int {
    AMF_VARIANT_EMPTY = 0,
    AMF_VARIANT_BOOL = 1,
    AMF_VARIANT_INT64 = 2,
    AMF_VARIANT_DOUBLE = 3,
    AMF_VARIANT_RECT = 4,
    AMF_VARIANT_SIZE = 5,
    AMF_VARIANT_POINT = 6,
    AMF_VARIANT_RATE = 7,
    AMF_VARIANT_RATIO = 8,
    AMF_VARIANT_COLOR = 9,
    AMF_VARIANT_STRING = 10,
    AMF_VARIANT_WSTRING = 11,
    AMF_VARIANT_INTERFACE = 12,
    AMF_VARIANT_FLOAT = 13,
    AMF_VARIANT_FLOAT_SIZE = 14,
    AMF_VARIANT_FLOAT_POINT2D = 15,
    AMF_VARIANT_FLOAT_POINT3D = 16,
    AMF_VARIANT_FLOAT_VECTOR4D = 17,
};

class AMFInterface;

// Passed by value across the runtime boundary: the layout is the ABI.
struct AMFVariantStruct {
    AMF_VARIANT_TYPE type;
    union {
        bool boolValue;
        std::int64_t int64Value;
        double doubleValue;
        char* stringValue;
        wchar_t* wstringValue;
        AMFInterface* pInterface;
        AMFRect rectValue;
        AMFSize sizeValue;
        AMFPoint pointValue;
        AMFRate rateValue;
        AMFRatio ratioValue;
        AMFColor colorValue;
        float floatValue;
        AMFFloatVector4D floatVector4DValue; // also the float size and points, by their first members
    };
};
static_assert(sizeof(AMFVariantStruct) == 24);

enum AMF_MEMORY_TYPE : int {
    AMF_MEMORY_UNKNOWN = 0,
    AMF_MEMORY_HOST = 1,
    AMF_MEMORY_DX11 = 3,
    AMF_MEMORY_OPENCL = 4,
    AMF_MEMORY_VULKAN = 10,
};

enum AMF_DATA_TYPE : int {
    AMF_DATA_BUFFER = 0,
    AMF_DATA_SURFACE = 1,
};

enum AMF_DX_VERSION : int {
    AMF_DX11_0 = 110,
    AMF_DX11_1 = 111,
};

enum AMF_SURFACE_FORMAT : int {
    AMF_SURFACE_UNKNOWN = 0,
    AMF_SURFACE_NV12 = 1,
    AMF_SURFACE_YV12 = 2,
    AMF_SURFACE_BGRA = 3,
    AMF_SURFACE_YUY2 = 9,
    AMF_SURFACE_P010 = 10,
    AMF_SURFACE_RGBA_F16 = 11,
    AMF_SURFACE_UYVY = 12,
    AMF_SURFACE_R10G10B10A2 = 13,
    AMF_SURFACE_Y210 = 14,
    AMF_SURFACE_AYUV = 15,
    AMF_SURFACE_Y410 = 16,
    AMF_SURFACE_Y416 = 17,
    AMF_SURFACE_P016 = 20,
};

enum AMF_FRAME_TYPE : int {
    AMF_FRAME_PROGRESSIVE = 0,
};

enum AMF_PLANE_TYPE : int {
    AMF_PLANE_UNKNOWN = 0,
    AMF_PLANE_PACKED = 1,
    AMF_PLANE_Y = 2,
    AMF_PLANE_UV = 3,
};

// Access bits of a property description.
constexpr std::uint32_t AMF_PROPERTY_ACCESS_READ = 0x1;
constexpr std::uint32_t AMF_PROPERTY_ACCESS_WRITE = 0x2;
constexpr std::uint32_t AMF_PROPERTY_ACCESS_WRITE_RUNTIME = 0x4;
constexpr std::uint32_t AMF_PROPERTY_ACCESS_FULL = 0xFF;
constexpr std::uint32_t AMF_PROPERTY_ACCESS_NON_PERSISTANT = 0x4000;
constexpr std::uint32_t AMF_PROPERTY_ACCESS_INVALID = 0x8000;

struct AMFEnumDescriptionEntry {
    int value;
    const wchar_t* name;
};

// A property's description. The SDK's C++ declaration has a virtual destructor, so the runtime's records
// start with a vtable pointer.
struct AMFPropertyInfo {
    virtual ~AMFPropertyInfo() = default;

    const wchar_t* name = nullptr;
    const wchar_t* desc = nullptr;
    AMF_VARIANT_TYPE type = AMF_VARIANT_EMPTY;
    std::uint32_t contentType = 0;
    AMFVariantStruct defaultValue{};
    AMFVariantStruct minValue{};
    AMFVariantStruct maxValue{};
    std::uint32_t accessType = AMF_PROPERTY_ACCESS_FULL;
    const AMFEnumDescriptionEntry* pEnumDescription = nullptr;
};

struct AMFPropertyStorageObserver;
struct AMFBufferObserver;
struct AMFSurfaceObserver;

class AMFInterface {
public:
    static constexpr AMFGuid IID() {
        return {0x9d872f34, 0x90dc, 0x4b93, {0xb6, 0xb2, 0x6c, 0xa3, 0x7c, 0x85, 0x25, 0xdb}};
    }
    virtual long Acquire() = 0;
    virtual long Release() = 0;
    virtual AMF_RESULT QueryInterface(const AMFGuid& interfaceId, void** object) = 0;

protected:
    ~AMFInterface() = default;
};

class AMFPropertyStorage : public AMFInterface {
public:
    static constexpr AMFGuid IID() {
        return {0xc7cec05b, 0xcfb9, 0x48af, {0xac, 0xe3, 0xf6, 0x8d, 0xf8, 0x39, 0x5f, 0xe3}};
    }
    virtual AMF_RESULT SetProperty(const wchar_t* name, AMFVariantStruct value) = 0;
    virtual AMF_RESULT GetProperty(const wchar_t* name, AMFVariantStruct* value) const = 0;
    virtual bool HasProperty(const wchar_t* name) const = 0;
    virtual std::size_t GetPropertyCount() const = 0;
    virtual AMF_RESULT GetPropertyAt(std::size_t index, wchar_t* name, std::size_t nameSize,
                                     AMFVariantStruct* value) const = 0;
    KIV_AMF_SLOT(Clear)
    KIV_AMF_SLOT(AddTo)
    KIV_AMF_SLOT(CopyTo)
    virtual void AddObserver(AMFPropertyStorageObserver* observer) = 0;
    virtual void RemoveObserver(AMFPropertyStorageObserver* observer) = 0;

protected:
    ~AMFPropertyStorage() = default;
};

class AMFPropertyStorageEx : public AMFPropertyStorage {
public:
    static constexpr AMFGuid IID() {
        return {0x16b8958d, 0xe943, 0x4a33, {0xa3, 0x5a, 0x88, 0x5a, 0xd8, 0x28, 0xf2, 0x67}};
    }
    virtual std::size_t GetPropertiesInfoCount() const = 0;
    virtual AMF_RESULT GetPropertyInfo(std::size_t index, const AMFPropertyInfo** info) const = 0;
    virtual AMF_RESULT GetPropertyInfo(const wchar_t* name, const AMFPropertyInfo** info) const = 0;
    KIV_AMF_SLOT(ValidateProperty)

protected:
    ~AMFPropertyStorageEx() = default;
};

class AMFData : public AMFPropertyStorage {
public:
    static constexpr AMFGuid IID() {
        return {0xa1159bf6, 0x9104, 0x4107, {0x8e, 0xaa, 0xc5, 0x3d, 0x5d, 0xba, 0xc5, 0x11}};
    }
    virtual AMF_MEMORY_TYPE GetMemoryType() = 0;
    KIV_AMF_SLOT(Duplicate)
    // Moves the data into memory of `type`, copying through host memory where needed.
    virtual AMF_RESULT Convert(AMF_MEMORY_TYPE type) = 0;
    KIV_AMF_SLOT(Interop)
    virtual AMF_DATA_TYPE GetDataType() = 0;
    KIV_AMF_SLOT(IsReusable)
    virtual void SetPts(std::int64_t pts) = 0; // 100-ns units
    virtual std::int64_t GetPts() = 0;
    virtual void SetDuration(std::int64_t duration) = 0;
    virtual std::int64_t GetDuration() = 0;

protected:
    ~AMFData() = default;
};

class AMFBuffer : public AMFData {
public:
    static constexpr AMFGuid IID() {
        return {0xb04b7248, 0xb6f0, 0x4321, {0xb6, 0x91, 0xba, 0xa4, 0x74, 0x0f, 0x9f, 0xcb}};
    }
    KIV_AMF_SLOT(SetSize)
    virtual std::size_t GetSize() = 0;
    virtual void* GetNative() = 0;
    virtual void AddObserver(AMFBufferObserver* observer) = 0;
    virtual void RemoveObserver(AMFBufferObserver* observer) = 0;

protected:
    ~AMFBuffer() = default;
};

class AMFPlane : public AMFInterface {
public:
    static constexpr AMFGuid IID() {
        return {0xbede1aa6, 0xd8fa, 0x4625, {0x94, 0x65, 0x6c, 0x82, 0xc4, 0x37, 0x71, 0x2e}};
    }
    virtual AMF_PLANE_TYPE GetType() = 0;
    virtual void* GetNative() = 0; // host memory: the first byte of the plane
    virtual std::int32_t GetPixelSizeInBytes() = 0;
    virtual std::int32_t GetOffsetX() = 0;
    virtual std::int32_t GetOffsetY() = 0;
    virtual std::int32_t GetWidth() = 0;
    virtual std::int32_t GetHeight() = 0;
    virtual std::int32_t GetHPitch() = 0; // bytes per row
    virtual std::int32_t GetVPitch() = 0;
    virtual bool IsTiled() = 0;

protected:
    ~AMFPlane() = default;
};

class AMFSurface : public AMFData {
public:
    static constexpr AMFGuid IID() {
        return {0x3075dbe3, 0x8718, 0x4cfa, {0x86, 0xfb, 0x21, 0x14, 0xc0, 0xa5, 0xa4, 0x51}};
    }
    virtual AMF_SURFACE_FORMAT GetFormat() = 0;
    virtual std::size_t GetPlanesCount() = 0;
    virtual AMFPlane* GetPlaneAt(std::size_t index) = 0; // valid while the surface is held
    virtual AMFPlane* GetPlane(AMF_PLANE_TYPE type) = 0;
    virtual AMF_FRAME_TYPE GetFrameType() = 0;
    virtual void SetFrameType(AMF_FRAME_TYPE type) = 0;
    KIV_AMF_SLOT(SetCrop)
    KIV_AMF_SLOT(CopySurfaceRegion)
    virtual void AddObserver(AMFSurfaceObserver* observer) = 0;
    virtual void RemoveObserver(AMFSurfaceObserver* observer) = 0;

protected:
    ~AMFSurface() = default;
};

// The context's slots nothing here calls, listed once for the declarations and the fake runtime: the
// DirectX 9 and 11, OpenCL, OpenGL, XV and Gralloc devices; the wrapping of other objects; the Vulkan
// extension's other allocations and device access.
// clang-format off
#define KIV_AMF_CONTEXT_DEVICE_SLOTS(X)                                                                      \
    X(InitDX9) X(GetDX9Device) X(LockDX9) X(UnlockDX9)                                                       \
    X(InitDX11) X(GetDX11Device) X(LockDX11) X(UnlockDX11)                                                   \
    X(InitOpenCL) X(GetOpenCLContext) X(GetOpenCLCommandQueue) X(GetOpenCLDeviceID)                          \
    X(GetOpenCLComputeFactory) X(InitOpenCLEx) X(LockOpenCL) X(UnlockOpenCL)                                 \
    X(InitOpenGL) X(GetOpenGLContext) X(GetOpenGLDrawable) X(LockOpenGL) X(UnlockOpenGL)                     \
    X(InitXV) X(GetXVDevice) X(LockXV) X(UnlockXV)                                                           \
    X(InitGralloc) X(GetGrallocDevice) X(LockGralloc) X(UnlockGralloc)
#define KIV_AMF_CONTEXT_WRAP_SLOTS(X)                                                                        \
    X(AllocAudioBuffer) X(CreateBufferFromHostNative) X(CreateSurfaceFromHostNative)                         \
    X(CreateSurfaceFromDX9Native) X(CreateSurfaceFromDX11Native) X(CreateSurfaceFromOpenGLNative)            \
    X(CreateSurfaceFromGrallocNative) X(CreateSurfaceFromOpenCLNative) X(CreateBufferFromOpenCLNative)       \
    X(GetCompute)
#define KIV_AMF_CONTEXT1_ALLOC_SLOTS(X) X(CreateBufferFromDX11Native) X(AllocBufferEx) X(AllocSurfaceEx)
#define KIV_AMF_CONTEXT1_VULKAN_SLOTS(X)                                                                     \
    X(GetVulkanDevice) X(LockVulkan) X(UnlockVulkan)                                                         \
    X(CreateSurfaceFromVulkanNative) X(CreateBufferFromVulkanNative) X(GetVulkanDeviceExtensions)
// clang-format on

class AMFContext : public AMFPropertyStorage {
public:
    static constexpr AMFGuid IID() {
        return {0xa76a13f0, 0xd80e, 0x4fcc, {0xb5, 0x08, 0x65, 0xd0, 0xb5, 0x2e, 0xd9, 0xee}};
    }
    virtual AMF_RESULT Terminate() = 0;
    KIV_AMF_CONTEXT_DEVICE_SLOTS(KIV_AMF_SLOT)
    virtual AMF_RESULT AllocBuffer(AMF_MEMORY_TYPE type, std::size_t size, AMFBuffer** buffer) = 0;
    virtual AMF_RESULT AllocSurface(AMF_MEMORY_TYPE type, AMF_SURFACE_FORMAT format, std::int32_t width,
                                    std::int32_t height, AMFSurface** surface) = 0;
    KIV_AMF_CONTEXT_WRAP_SLOTS(KIV_AMF_SLOT)
protected:
    ~AMFContext() = default;
};

// The context's extension with the Vulkan device, reached through QueryInterface.
class AMFContext1 : public AMFContext {
public:
    static constexpr AMFGuid IID() {
        return {0xd9e9f868, 0x6220, 0x44c6, {0xa2, 0x2f, 0x7c, 0xd6, 0xda, 0xc6, 0x86, 0x46}};
    }
    KIV_AMF_CONTEXT1_ALLOC_SLOTS(KIV_AMF_SLOT)
    // A null device lets the runtime open its own on the default GPU.
    virtual AMF_RESULT InitVulkan(void* vulkanDevice) = 0;
    KIV_AMF_CONTEXT1_VULKAN_SLOTS(KIV_AMF_SLOT)
protected:
    ~AMFContext1() = default;
};

class AMFComponent : public AMFPropertyStorageEx {
public:
    static constexpr AMFGuid IID() {
        return {0x8b51e5e4, 0x455d, 0x4034, {0xa7, 0x46, 0xde, 0x1b, 0xed, 0xc3, 0xc4, 0x06}};
    }
    virtual AMF_RESULT Init(AMF_SURFACE_FORMAT format, std::int32_t width, std::int32_t height) = 0;
    KIV_AMF_SLOT(ReInit)
    virtual AMF_RESULT Terminate() = 0;
    KIV_AMF_SLOT(Drain)
    KIV_AMF_SLOT(Flush)
    virtual AMF_RESULT SubmitInput(AMFData* data) = 0;
    virtual AMF_RESULT QueryOutput(AMFData** data) = 0;
    KIV_AMF_SLOT(GetContext)
    KIV_AMF_SLOT(SetOutputDataAllocatorCB)
    KIV_AMF_SLOT(GetCaps)
    KIV_AMF_SLOT(Optimize)

protected:
    ~AMFComponent() = default;
};

// The runtime's singleton; not reference counted.
class AMFFactory {
public:
    virtual AMF_RESULT CreateContext(AMFContext** context) = 0;
    virtual AMF_RESULT CreateComponent(AMFContext* context, const wchar_t* id, AMFComponent** component) = 0;
    KIV_AMF_SLOT(SetCacheFolder)
    KIV_AMF_SLOT(GetCacheFolder)
    KIV_AMF_SLOT(GetDebug)
    KIV_AMF_SLOT(GetTrace)
    KIV_AMF_SLOT(GetPrograms)

protected:
    ~AMFFactory() = default;
};

// An owning pointer to an AMF object: Acquire on copy, Release on reset.
template <class T>
class AMFInterfacePtr {
public:
    AMFInterfacePtr() = default;
    AMFInterfacePtr(const AMFInterfacePtr& other) : m_object(other.m_object) { acquire(); }
    AMFInterfacePtr& operator=(const AMFInterfacePtr& other) {
        AMFInterfacePtr copy(other);
        std::swap(m_object, copy.m_object);
        return *this;
    }
    ~AMFInterfacePtr() { Release(); }

    void Release() {
        if (m_object != nullptr)
            m_object->Release();
        m_object = nullptr;
    }
    // For out-parameters: drops what was held.
    T** operator&() {
        Release();
        return &m_object;
    }
    T* operator->() const { return m_object; }
    T* GetPtr() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    T* Detach() {
        T* object = m_object;
        m_object = nullptr;
        return object;
    }

private:
    void acquire() {
        if (m_object != nullptr)
            m_object->Acquire();
    }

    T* m_object = nullptr;
};

} // namespace amf
