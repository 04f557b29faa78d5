#pragma once
// Wide/UTF-8 conversion for the names passed to the system.

#include <string>
#include <string_view>

std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);
