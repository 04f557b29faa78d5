#pragma once
// The recorder's command line: option lookup over the process arguments (program path first).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using ArgumentList = std::vector<std::wstring>;

// The arguments of this process, read once and kept for the life of the process.
const ArgumentList& GetArguments();

// Value of `--name=value` or of the argument after an exact `--name`; empty when absent.
std::wstring GetOptionValue(const ArgumentList& arguments, std::wstring_view name);
std::wstring GetOptionValue(std::wstring_view name);

// True when any argument begins with `name`.
bool HasFlag(const ArgumentList& arguments, std::wstring_view name);
bool HasFlag(std::wstring_view name);

// The C library's wide-string to unsigned 64-bit conversion: leading blanks and a sign accepted, stops at the
// first non-digit of the base, 0 without digits.
std::uint64_t WideToUnsigned(const std::wstring& text, int base);
