#pragma once
// A list of transform classes as MFTEnumEx finds them: class id, category, kind (synchronous, asynchronous,
// hardware), friendly name, declared input and output types, vendor (hardware only) and a factory. The
// platform's own list holds its transforms; other lists (in tests) hold whatever they are given.

#include <mftransform.h>

#include <functional>
#include <string>
#include <vector>

struct TransformClass {
    CLSID clsid = GUID_NULL;
    GUID category = GUID_NULL;
    // MFT_ENUM_FLAG_SYNCMFT, MFT_ENUM_FLAG_ASYNCMFT or MFT_ENUM_FLAG_HARDWARE (hardware transforms are
    // asynchronous).
    UINT32 kind = MFT_ENUM_FLAG_SYNCMFT;
    std::wstring friendlyName;
    std::vector<MFT_REGISTER_TYPE_INFO> inputTypes;
    std::vector<MFT_REGISTER_TYPE_INFO> outputTypes;
    // Hardware only: "VEN_xxxx" with the PCI vendor id, and the device the transform runs on.
    std::wstring vendorId;
    std::wstring hardwareUrl;
    std::function<HRESULT(IMFTransform** transform)> create;
};

class TransformRegistry {
public:
    TransformRegistry() = default;
    explicit TransformRegistry(std::vector<TransformClass> classes) : m_classes(std::move(classes)) {}

    // The platform's transforms, found once on first use (hardware encoders only where a device works).
    static const TransformRegistry& Platform();

    const std::vector<TransformClass>& Classes() const { return m_classes; }
    void Add(TransformClass transformClass) { m_classes.push_back(std::move(transformClass)); }

    // MFTEnumEx over this list: matching classes in list order. Flags 0 mean synchronous transforms.
    HRESULT Enumerate(REFGUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* inputType,
                      const MFT_REGISTER_TYPE_INFO* outputType, IMFActivate*** activates,
                      UINT32* count) const;
    // Creates the transform of a class; REGDB_E_CLASSNOTREG when the list has none.
    HRESULT Create(REFCLSID clsid, IMFTransform** transform) const;

private:
    std::vector<TransformClass> m_classes;
};

// The activation object of one class, as MFTEnumEx hands it out: its attributes describe the class; the
// attributes a client adds are copied onto the transform's own when the transform is created.
HRESULT CreateTransformActivate(const TransformClass& transformClass, IMFActivate** activate);
