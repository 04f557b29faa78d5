#include <winrt/Windows.Foundation.Metadata.h>

#include <array>
#include <utility>

namespace {

struct TypeProperties {
    std::wstring_view type;
    std::array<std::wstring_view, 2> properties;
};

// The runtime types of the capture service and the properties they offer here.
constexpr std::array<TypeProperties, 1> KnownTypes{{
    {L"Windows.Graphics.Capture.GraphicsCaptureSession", {L"IsBorderRequired", L"IsCursorCaptureEnabled"}},
}};

} // namespace

bool ApiInformation::IsTypePresent(std::wstring_view typeName) {
    for (const auto& known : KnownTypes)
        if (known.type == typeName)
            return true;
    return false;
}

bool ApiInformation::IsPropertyPresent(std::wstring_view typeName, std::wstring_view propertyName) {
    for (const auto& known : KnownTypes)
        if (known.type == typeName)
            for (const auto& property : known.properties)
                if (property == propertyName)
                    return true;
    return false;
}
