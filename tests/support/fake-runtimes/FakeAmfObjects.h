#pragma once
// The fake AMF runtime's objects: reference counting and interface answers, property storage, host-memory
// buffers and surfaces, and components with a table of the properties they know. Whatever breaks the
// runtime's rules is refused loudly (a line on standard error and a complaint counted).

#include "Codec/AmfInterfaces.h"
#include "FakeAmfObservations.h"
#include "FakeRuntime.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fakeamf {

using namespace amf;

// One lock for the fake's shared records; the fake is not about speed.
std::mutex& Mutex();
FakeAmfObservations& Seen(); // under Mutex()
std::atomic<int>& Live();
// How many submissions encoders answer with AMF_INPUT_FULL before they take one again.
std::atomic<int>& InputFullAnswers();

AMF_RESULT Refuse(AMF_RESULT result, const char* entry, const char* why);

#define PYX_AMF_CHECK(condition, result, why)                                                                \
    if (!(condition))                                                                                        \
    return ::fakeamf::Refuse(result, __func__, why)

// A slot the transforms never call.
#define PYX_AMF_REFUSED(name)                                                                                \
    AMF_RESULT name(...) override { return ::fakeamf::Refuse(AMF_NOT_IMPLEMENTED, #name, "not offered"); }

template <class Interface>
class Object : public Interface {
public:
    Object() { ++Live(); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() { --Live(); }

    long Acquire() override { return ++m_refs; }
    long Release() override {
        const long refs = --m_refs;
        if (refs < 0)
            Refuse(AMF_UNEXPECTED, "Release", "released more often than acquired");
        if (refs == 0)
            delete this;
        return refs;
    }
    AMF_RESULT QueryInterface(const AMFGuid& id, void** object) override {
        PYX_AMF_CHECK(object != nullptr, AMF_INVALID_POINTER, "null object");
        *object = nullptr;
        if (!Answers(id))
            return AMF_NO_INTERFACE;
        Acquire();
        *object = static_cast<Interface*>(this);
        return AMF_OK;
    }

protected:
    virtual bool Answers(const AMFGuid& id) const {
        return id == AMFInterface::IID() || id == Interface::IID();
    }

private:
    std::atomic<long> m_refs{1};
};

using Properties = std::vector<std::pair<std::wstring, AMFVariantStruct>>;

// Values only: the transforms set no strings or interfaces, whose ownership the fake would have to keep.
AMF_RESULT Store(Properties& properties, const wchar_t* name, const AMFVariantStruct& value);
const AMFVariantStruct* Find(const Properties& properties, const wchar_t* name);

template <class Interface>
class Storage : public Object<Interface> {
public:
    AMF_RESULT SetProperty(const wchar_t* name, AMFVariantStruct value) override {
        return Store(m_properties, name, value);
    }
    AMF_RESULT GetProperty(const wchar_t* name, AMFVariantStruct* value) const override {
        PYX_AMF_CHECK(name != nullptr && value != nullptr, AMF_INVALID_POINTER, "null name or value");
        const AMFVariantStruct* found = Find(m_properties, name);
        if (found == nullptr)
            return AMF_NOT_FOUND;
        *value = *found;
        return AMF_OK;
    }
    bool HasProperty(const wchar_t* name) const override { return Find(m_properties, name) != nullptr; }
    std::size_t GetPropertyCount() const override { return m_properties.size(); }
    AMF_RESULT GetPropertyAt(std::size_t index, wchar_t* name, std::size_t nameSize,
                             AMFVariantStruct* value) const override {
        PYX_AMF_CHECK(name != nullptr && value != nullptr && nameSize > 0, AMF_INVALID_POINTER, "null name");
        if (index >= m_properties.size())
            return AMF_OUT_OF_RANGE;
        std::wcsncpy(name, m_properties[index].first.c_str(), nameSize - 1);
        name[nameSize - 1] = L'\0';
        *value = m_properties[index].second;
        return AMF_OK;
    }
    PYX_AMF_REFUSED(Clear)
    PYX_AMF_REFUSED(AddTo)
    PYX_AMF_REFUSED(CopyTo)
    void AddObserver(AMFPropertyStorageObserver*) override {
        Refuse(AMF_NOT_IMPLEMENTED, "AddObserver", "none");
    }
    void RemoveObserver(AMFPropertyStorageObserver*) override {
        Refuse(AMF_NOT_IMPLEMENTED, "RemoveObserver", "none");
    }

    Properties m_properties;
};

template <class Interface>
class Data : public Storage<Interface> {
public:
    explicit Data(AMF_MEMORY_TYPE memory) : m_memory(memory) {}

    AMF_MEMORY_TYPE GetMemoryType() override { return m_memory; }
    AMF_RESULT Convert(AMF_MEMORY_TYPE type) override {
        // The fake's memory is always the processor's; a conversion to host memory makes it readable there.
        PYX_AMF_CHECK(type == AMF_MEMORY_HOST, AMF_NOT_SUPPORTED, "only conversions to host memory");
        m_memory = type;
        return AMF_OK;
    }
    PYX_AMF_REFUSED(Duplicate)
    PYX_AMF_REFUSED(Interop)
    PYX_AMF_REFUSED(IsReusable)
    void SetPts(std::int64_t pts) override { m_pts = pts; }
    std::int64_t GetPts() override { return m_pts; }
    void SetDuration(std::int64_t duration) override { m_duration = duration; }
    std::int64_t GetDuration() override { return m_duration; }

protected:
    bool Answers(const AMFGuid& id) const override {
        return Object<Interface>::Answers(id) || id == AMFPropertyStorage::IID() || id == AMFData::IID();
    }

    AMF_MEMORY_TYPE m_memory;
    std::int64_t m_pts = 0;
    std::int64_t m_duration = 0;
};

class Buffer final : public Data<AMFBuffer> {
public:
    explicit Buffer(std::size_t size) : Data(AMF_MEMORY_HOST), m_bytes(size) {}
    AMF_DATA_TYPE GetDataType() override { return AMF_DATA_BUFFER; }
    PYX_AMF_REFUSED(SetSize)
    std::size_t GetSize() override { return m_bytes.size(); }
    void* GetNative() override { return m_bytes.data(); }
    void AddObserver(AMFBufferObserver*) override { Refuse(AMF_NOT_IMPLEMENTED, "AddObserver", "none"); }
    void RemoveObserver(AMFBufferObserver*) override {
        Refuse(AMF_NOT_IMPLEMENTED, "RemoveObserver", "none");
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

class Surface;

// A plane lives as long as its surface and is counted with it.
class Plane final : public AMFPlane {
public:
    Plane(Surface& surface, AMF_PLANE_TYPE type, std::uint8_t* bytes, int width, int height, int pixelSize,
          int pitch)
        : m_surface(surface), m_type(type), m_bytes(bytes), m_width(width), m_height(height),
          m_pixelSize(pixelSize), m_pitch(pitch) {}
    long Acquire() override;
    long Release() override;
    AMF_RESULT QueryInterface(const AMFGuid&, void**) override { return AMF_NO_INTERFACE; }
    AMF_PLANE_TYPE GetType() override { return m_type; }
    void* GetNative() override;
    std::int32_t GetPixelSizeInBytes() override { return m_pixelSize; }
    std::int32_t GetOffsetX() override { return 0; }
    std::int32_t GetOffsetY() override { return 0; }
    std::int32_t GetWidth() override { return m_width; }
    std::int32_t GetHeight() override { return m_height; }
    std::int32_t GetHPitch() override { return m_pitch; }
    std::int32_t GetVPitch() override { return m_height; }
    bool IsTiled() override { return false; }
    std::uint8_t* Bytes() { return m_bytes; } // the runtime's own access, wherever the memory is

private:
    Surface& m_surface;
    AMF_PLANE_TYPE m_type;
    std::uint8_t* m_bytes;
    int m_width, m_height, m_pixelSize, m_pitch;
};

// NV12 or BGRA in host memory, rows padded past the width so that a reader must honour the pitch.
class Surface final : public Data<AMFSurface> {
public:
    Surface(AMF_MEMORY_TYPE memory, AMF_SURFACE_FORMAT format, int width, int height);
    AMF_DATA_TYPE GetDataType() override { return AMF_DATA_SURFACE; }
    AMF_SURFACE_FORMAT GetFormat() override { return m_format; }
    std::size_t GetPlanesCount() override { return m_planes.size(); }
    AMFPlane* GetPlaneAt(std::size_t index) override;
    AMFPlane* GetPlane(AMF_PLANE_TYPE type) override;
    AMF_FRAME_TYPE GetFrameType() override { return m_frameType; }
    void SetFrameType(AMF_FRAME_TYPE type) override { m_frameType = type; }
    PYX_AMF_REFUSED(SetCrop)
    PYX_AMF_REFUSED(CopySurfaceRegion)
    void AddObserver(AMFSurfaceObserver*) override { Refuse(AMF_NOT_IMPLEMENTED, "AddObserver", "none"); }
    void RemoveObserver(AMFSurfaceObserver*) override {
        Refuse(AMF_NOT_IMPLEMENTED, "RemoveObserver", "none");
    }
    bool InHostMemory() const { return m_memory == AMF_MEMORY_HOST; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    Plane& PlaneAt(std::size_t index) { return *m_planes[index]; }
    // Released with the surface (decoders count their pool with it).
    std::shared_ptr<void> m_poolSlot;

private:
    AMF_SURFACE_FORMAT m_format;
    int m_width, m_height;
    AMF_FRAME_TYPE m_frameType = AMF_FRAME_PROGRESSIVE;
    std::vector<std::uint8_t> m_bytes;
    std::vector<std::unique_ptr<Plane>> m_planes;
};

class Context;

// What a component knows of one property.
struct PropertyDesc {
    const wchar_t* name;
    AMF_VARIANT_TYPE type;
    std::uint32_t access; // AMF_PROPERTY_ACCESS_WRITE_RUNTIME: may change after Init
};

class Component : public Storage<AMFComponent> {
public:
    Component(Context& context, std::wstring id, std::vector<PropertyDesc> known);
    ~Component() override;

    AMF_RESULT SetProperty(const wchar_t* name, AMFVariantStruct value) override;
    AMF_RESULT GetProperty(const wchar_t* name, AMFVariantStruct* value) const override {
        std::lock_guard lock(m_propertyMutex);
        return Storage::GetProperty(name, value);
    }
    std::size_t GetPropertiesInfoCount() const override { return m_infos.size(); }
    AMF_RESULT GetPropertyInfo(std::size_t index, const AMFPropertyInfo** info) const override;
    AMF_RESULT GetPropertyInfo(const wchar_t* name, const AMFPropertyInfo** info) const override;
    PYX_AMF_REFUSED(ValidateProperty)
    AMF_RESULT Init(AMF_SURFACE_FORMAT format, std::int32_t width, std::int32_t height) override;
    PYX_AMF_REFUSED(ReInit)
    AMF_RESULT Terminate() override;
    PYX_AMF_REFUSED(Drain)
    PYX_AMF_REFUSED(Flush)
    PYX_AMF_REFUSED(GetContext)
    PYX_AMF_REFUSED(SetOutputDataAllocatorCB)
    PYX_AMF_REFUSED(GetCaps)
    PYX_AMF_REFUSED(Optimize)

protected:
    bool Answers(const AMFGuid& id) const override;
    // Opens the codec for the properties set; the result Init returns.
    virtual AMF_RESULT Open() = 0;
    virtual void Close() = 0;
    std::int64_t Int(const wchar_t* name, std::int64_t otherwise) const;

    Context& m_context;
    const std::wstring m_id;
    bool m_initialized = false;
    bool m_terminated = false;
    AMF_SURFACE_FORMAT m_format = AMF_SURFACE_UNKNOWN;
    int m_width = 0;
    int m_height = 0;

private:
    mutable std::mutex m_propertyMutex; // the caller's threads set and read properties concurrently
    std::vector<PropertyDesc> m_known;
    std::vector<AMFPropertyInfo> m_infos;
};

// Components by id: encoders and decoders; null for an id the fake does not offer.
Component* CreateCodec(Context& context, const std::wstring& id);

} // namespace fakeamf
