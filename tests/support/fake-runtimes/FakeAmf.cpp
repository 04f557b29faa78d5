// An AMF runtime as the Linux driver offers it, coding on the processor: it reports its version and
// initialises only for an SDK version it can serve (not newer than itself), handing out its factory. The
// factory makes contexts, which open (in the fake: pretend to open) a Vulkan device and allocate host
// buffers and surfaces, and the AVC and HEVC encoder and decoder components (FakeAmfCodecs.cpp). It keeps
// the runtime's rules and refuses, loudly, whatever breaks them: components on a context without a device,
// unknown properties or values of the wrong kind, a context terminated before its components, an object
// released more often than acquired. Tests steer the version and can make it hand out no factory.

#include "Codec/AmdEntryPoints.h"
#include "FakeAmfObjects.h"

#include <cstdlib>
#include <set>
#include <string>
#include <type_traits>

namespace fakeamf {

namespace {

std::atomic<std::uint64_t> s_version{0x0001000400210000ULL}; // 1.4.33.0
std::atomic<bool> s_noFactory{false};

} // namespace

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

FakeAmfObservations& Seen() {
    static FakeAmfObservations seen;
    return seen;
}

std::atomic<int>& Live() {
    static std::atomic<int> live{0};
    return live;
}

std::atomic<int>& InputFullAnswers() {
    static std::atomic<int> answers{0};
    return answers;
}

AMF_RESULT Refuse(AMF_RESULT result, const char* entry, const char* why) {
    {
        std::lock_guard lock(Mutex());
        ++Seen().complaints;
    }
    FakeRuntimeComplaint("AMF", "%s: %s", entry, why);
    return result;
}

AMF_RESULT Store(Properties& properties, const wchar_t* name, const AMFVariantStruct& value) {
    PYX_AMF_CHECK(name != nullptr, AMF_INVALID_POINTER, "null name");
    PYX_AMF_CHECK(value.type != AMF_VARIANT_STRING && value.type != AMF_VARIANT_WSTRING &&
                      value.type != AMF_VARIANT_INTERFACE,
                  AMF_NOT_SUPPORTED, "the fake keeps values only");
    for (auto& [key, stored] : properties)
        if (key == name) {
            stored = value;
            return AMF_OK;
        }
    properties.emplace_back(name, value);
    return AMF_OK;
}

const AMFVariantStruct* Find(const Properties& properties, const wchar_t* name) {
    for (const auto& [key, stored] : properties)
        if (name != nullptr && key == name)
            return &stored;
    return nullptr;
}

long Plane::Acquire() { return m_surface.Acquire(); }
long Plane::Release() { return m_surface.Release(); }

void* Plane::GetNative() {
    if (!m_surface.InHostMemory()) {
        Refuse(AMF_WRONG_STATE, "GetNative",
               "the plane is in device memory: Convert it to host memory first");
        return nullptr;
    }
    return m_bytes;
}

Surface::Surface(AMF_MEMORY_TYPE memory, AMF_SURFACE_FORMAT format, int width, int height)
    : Data(memory), m_format(format), m_width(width), m_height(height) {
    const int bytesPerPixel = format == AMF_SURFACE_BGRA ? 4 : 1;
    const int pitch = (width * bytesPerPixel + 255) / 256 * 256 + 64;
    const int rows = format == AMF_SURFACE_NV12 ? height + height / 2 : height;
    m_bytes.assign(std::size_t(pitch) * rows, 0);
    if (format == AMF_SURFACE_NV12) {
        m_planes.push_back(
            std::make_unique<Plane>(*this, AMF_PLANE_Y, m_bytes.data(), width, height, 1, pitch));
        m_planes.push_back(std::make_unique<Plane>(*this, AMF_PLANE_UV, m_bytes.data() + pitch * height,
                                                   width / 2, height / 2, 2, pitch));
    } else {
        m_planes.push_back(
            std::make_unique<Plane>(*this, AMF_PLANE_PACKED, m_bytes.data(), width, height, 4, pitch));
    }
}

AMFPlane* Surface::GetPlaneAt(std::size_t index) {
    if (index >= m_planes.size()) {
        Refuse(AMF_OUT_OF_RANGE, "GetPlaneAt", "no such plane");
        return nullptr;
    }
    return m_planes[index].get();
}

AMFPlane* Surface::GetPlane(AMF_PLANE_TYPE type) {
    for (auto& plane : m_planes)
        if (plane->GetType() == type)
            return plane.get();
    return nullptr;
}

class Context final : public Storage<AMFContext1> {
public:
    ~Context() override {
        if (m_components != 0)
            Refuse(AMF_WRONG_STATE, "Release", "a context released while its components live");
    }
    AMF_RESULT Terminate() override {
        PYX_AMF_CHECK(m_components == 0, AMF_WRONG_STATE, "terminated before its components were");
        m_device = false;
        return AMF_OK;
    }
    AMF_RESULT InitVulkan(void* device) override {
        PYX_AMF_CHECK(!m_device, AMF_ALREADY_INITIALIZED, "a device is already open");
        PYX_AMF_CHECK(device == nullptr, AMF_NOT_SUPPORTED, "the fake opens its own device only");
        m_device = true;
        return AMF_OK;
    }
    AMF_RESULT AllocBuffer(AMF_MEMORY_TYPE type, std::size_t size, AMFBuffer** buffer) override {
        PYX_AMF_CHECK(buffer != nullptr && size > 0, AMF_INVALID_ARG, "null buffer or no size");
        PYX_AMF_CHECK(type == AMF_MEMORY_HOST, AMF_NOT_SUPPORTED, "the fake allocates host memory only");
        *buffer = new Buffer(size);
        return AMF_OK;
    }
    AMF_RESULT AllocSurface(AMF_MEMORY_TYPE type, AMF_SURFACE_FORMAT format, std::int32_t width,
                            std::int32_t height, AMFSurface** surface) override {
        PYX_AMF_CHECK(surface != nullptr, AMF_INVALID_POINTER, "null surface");
        PYX_AMF_CHECK(type == AMF_MEMORY_HOST, AMF_NOT_SUPPORTED, "the fake allocates host memory only");
        PYX_AMF_CHECK(format == AMF_SURFACE_NV12 || format == AMF_SURFACE_BGRA, AMF_INVALID_FORMAT, "format");
        PYX_AMF_CHECK(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0, AMF_INVALID_RESOLUTION,
                      "size");
        *surface = new Surface(type, format, width, height);
        return AMF_OK;
    }
    bool HasDevice() const { return m_device; }
    std::atomic<int> m_components{0}; // not yet terminated

    KIV_AMF_CONTEXT_DEVICE_SLOTS(PYX_AMF_REFUSED)
    KIV_AMF_CONTEXT_WRAP_SLOTS(PYX_AMF_REFUSED)
    KIV_AMF_CONTEXT1_ALLOC_SLOTS(PYX_AMF_REFUSED)
    KIV_AMF_CONTEXT1_VULKAN_SLOTS(PYX_AMF_REFUSED)

protected:
    bool Answers(const AMFGuid& id) const override {
        return Storage::Answers(id) || id == AMFPropertyStorage::IID() || id == AMFContext::IID();
    }

private:
    bool m_device = false;
};

Component::Component(Context& context, std::wstring id, std::vector<PropertyDesc> known)
    : m_context(context), m_id(std::move(id)), m_known(std::move(known)) {
    m_context.Acquire();
    ++m_context.m_components;
    for (const PropertyDesc& desc : m_known) {
        AMFPropertyInfo info;
        info.name = desc.name;
        info.type = desc.type;
        info.accessType = desc.access;
        m_infos.push_back(info);
    }
    std::lock_guard lock(Mutex());
    Seen().component = m_id;
    Seen().propertiesSet.clear();
    Seen().forcedPictureTypes.clear();
    Seen().initFormat = AMF_SURFACE_UNKNOWN;
}

Component::~Component() {
    if (m_initialized)
        Refuse(AMF_WRONG_STATE, "Release", "a component released without Terminate");
    else if (!m_terminated)
        --m_context.m_components;
    m_context.Release();
}

AMF_RESULT Component::SetProperty(const wchar_t* name, AMFVariantStruct value) {
    PYX_AMF_CHECK(name != nullptr, AMF_INVALID_POINTER, "null name");
    const PropertyDesc* desc = nullptr;
    for (const PropertyDesc& known : m_known)
        if (std::wcscmp(known.name, name) == 0)
            desc = &known;
    if (desc == nullptr) {
        FakeRuntimeComplaint("AMF", "unknown property %ls", name);
        return Refuse(AMF_NOT_FOUND, __func__, "a property the component does not have");
    }
    PYX_AMF_CHECK(desc->type == value.type, AMF_INVALID_ARG, "a value of another kind than the property's");
    PYX_AMF_CHECK(!m_initialized || (desc->access & AMF_PROPERTY_ACCESS_WRITE_RUNTIME) != 0, AMF_WRONG_STATE,
                  "a property that cannot change after Init");
    {
        std::lock_guard lock(Mutex());
        Seen().propertiesSet.emplace_back(name, value);
    }
    std::lock_guard lock(m_propertyMutex);
    return Storage::SetProperty(name, value);
}

AMF_RESULT Component::GetPropertyInfo(std::size_t index, const AMFPropertyInfo** info) const {
    PYX_AMF_CHECK(info != nullptr, AMF_INVALID_POINTER, "null info");
    if (index >= m_infos.size())
        return AMF_OUT_OF_RANGE;
    *info = &m_infos[index];
    return AMF_OK;
}

AMF_RESULT Component::GetPropertyInfo(const wchar_t* name, const AMFPropertyInfo** info) const {
    PYX_AMF_CHECK(info != nullptr && name != nullptr, AMF_INVALID_POINTER, "null name or info");
    for (const AMFPropertyInfo& candidate : m_infos)
        if (std::wcscmp(candidate.name, name) == 0) {
            *info = &candidate;
            return AMF_OK;
        }
    return AMF_NOT_FOUND;
}

AMF_RESULT Component::Init(AMF_SURFACE_FORMAT format, std::int32_t width, std::int32_t height) {
    PYX_AMF_CHECK(!m_initialized && !m_terminated, AMF_ALREADY_INITIALIZED, "initialised twice");
    PYX_AMF_CHECK(width > 0 && height > 0, AMF_INVALID_RESOLUTION, "size");
    m_format = format;
    m_width = width;
    m_height = height;
    {
        std::lock_guard lock(Mutex());
        Seen().initFormat = format;
        Seen().initWidth = width;
        Seen().initHeight = height;
    }
    const AMF_RESULT opened = Open();
    m_initialized = opened == AMF_OK;
    return opened;
}

AMF_RESULT Component::Terminate() {
    PYX_AMF_CHECK(!m_terminated, AMF_WRONG_STATE, "terminated twice");
    if (m_initialized)
        Close();
    m_initialized = false;
    m_terminated = true;
    --m_context.m_components;
    return AMF_OK;
}

bool Component::Answers(const AMFGuid& id) const {
    return Storage::Answers(id) || id == AMFPropertyStorage::IID() || id == AMFPropertyStorageEx::IID();
}

std::int64_t Component::Int(const wchar_t* name, std::int64_t otherwise) const {
    std::lock_guard lock(m_propertyMutex);
    const AMFVariantStruct* value = Find(m_properties, name);
    return value != nullptr && value->type == AMF_VARIANT_INT64 ? value->int64Value : otherwise;
}

namespace {

class Factory final : public AMFFactory {
public:
    AMF_RESULT CreateContext(AMFContext** context) override {
        PYX_AMF_CHECK(context != nullptr, AMF_INVALID_POINTER, "null context");
        auto* created = new Context;
        std::lock_guard lock(Mutex());
        m_contexts.insert(created);
        *context = created;
        return AMF_OK;
    }
    AMF_RESULT CreateComponent(AMFContext* context, const wchar_t* id, AMFComponent** component) override {
        PYX_AMF_CHECK(component != nullptr && id != nullptr, AMF_INVALID_POINTER, "null id or component");
        auto* ours = static_cast<Context*>(context);
        {
            std::lock_guard lock(Mutex());
            PYX_AMF_CHECK(m_contexts.count(ours) != 0, AMF_INVALID_ARG, "not a context of this runtime");
        }
        PYX_AMF_CHECK(ours->HasDevice(), AMF_NOT_INITIALIZED, "a component on a context without a device");
        // A GPU without an H.264 encoder, as its runtime answers.
        if (std::getenv("PYX_FAKE_AMF_WITHOUT_H264_ENCODER") != nullptr &&
            std::wstring(id) == L"AMFVideoEncoderVCE_AVC")
            return AMF_CODEC_NOT_SUPPORTED;
        *component = CreateCodec(*ours, id);
        PYX_AMF_CHECK(*component != nullptr, AMF_CODEC_NOT_SUPPORTED, "a component the fake does not offer");
        return AMF_OK;
    }
    PYX_AMF_REFUSED(SetCacheFolder)
    PYX_AMF_REFUSED(GetCacheFolder)
    PYX_AMF_REFUSED(GetDebug)
    PYX_AMF_REFUSED(GetTrace)
    PYX_AMF_REFUSED(GetPrograms)

private:
    std::set<Context*> m_contexts; // contexts are never reused at the same address while the fake runs
};

} // namespace

} // namespace fakeamf

extern "C" __attribute__((visibility("default"))) void fakeAmfSetVersion(std::uint64_t version) {
    fakeamf::s_version = version;
}
extern "C" __attribute__((visibility("default"))) void fakeAmfHandOutNoFactory(bool none) {
    fakeamf::s_noFactory = none;
}
// The encoders' queue is full for the next `times` submissions, as a busy hardware encoder's is.
extern "C" __attribute__((visibility("default"))) void fakeAmfAnswerInputFull(int times) {
    fakeamf::InputFullAnswers() = times;
}
extern "C" __attribute__((visibility("default"))) FakeAmfObservations fakeAmfObservations() {
    std::lock_guard lock(fakeamf::Mutex());
    FakeAmfObservations seen = fakeamf::Seen();
    seen.liveObjects = fakeamf::Live();
    return seen;
}

extern "C" __attribute__((visibility("default"))) AMF_RESULT AMFQueryVersion(std::uint64_t* version) {
    if (version == nullptr)
        return fakeamf::Refuse(AMF_INVALID_POINTER, "AMFQueryVersion", "null version");
    *version = fakeamf::s_version;
    return AMF_OK;
}

extern "C" __attribute__((visibility("default"))) AMF_RESULT AMFInit(std::uint64_t version,
                                                                     amf::AMFFactory** factory) {
    static fakeamf::Factory s_factory;
    if (factory == nullptr)
        return fakeamf::Refuse(AMF_INVALID_POINTER, "AMFInit", "null factory");
    if (version > fakeamf::s_version)
        return fakeamf::Refuse(AMF_NOT_SUPPORTED, "AMFInit", "the SDK version is newer than the runtime");
    *factory = fakeamf::s_noFactory ? nullptr : &s_factory;
    return AMF_OK;
}

static_assert(std::is_same_v<decltype(AMFInit), kiv::amd::AMFInit_Fn>);
static_assert(std::is_same_v<decltype(AMFQueryVersion), kiv::amd::AMFQueryVersion_Fn>);
