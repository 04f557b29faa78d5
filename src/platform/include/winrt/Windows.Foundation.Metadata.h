#pragma once
// Metadata queries about the runtime types this platform provides.

#include <string_view>

class ApiInformation {
public:
    static bool IsTypePresent(std::wstring_view typeName);
    static bool IsPropertyPresent(std::wstring_view typeName, std::wstring_view propertyName);
};
