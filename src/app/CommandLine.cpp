#include "CommandLine.h"

#include <shellapi.h>

#include <cwchar>

const ArgumentList& GetArguments() {
    static const ArgumentList arguments = [] {
        ArgumentList list;
        int count = 0;
        if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
            list.assign(argv, argv + count);
            LocalFree(argv);
        }
        return list;
    }();
    return arguments;
}

std::wstring GetOptionValue(const ArgumentList& arguments, std::wstring_view name) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring_view argument = arguments[i];
        if (!argument.starts_with(name))
            continue;
        if (argument.size() > name.size() && argument[name.size()] == L'=')
            return std::wstring(argument.substr(name.size() + 1));
        if (argument.size() == name.size() && i + 1 < arguments.size())
            return arguments[i + 1];
    }
    return {};
}

std::wstring GetOptionValue(std::wstring_view name) { return GetOptionValue(GetArguments(), name); }

bool HasFlag(const ArgumentList& arguments, std::wstring_view name) {
    for (const auto& argument : arguments)
        if (std::wstring_view(argument).starts_with(name))
            return true;
    return false;
}

bool HasFlag(std::wstring_view name) { return HasFlag(GetArguments(), name); }

std::uint64_t WideToUnsigned(const std::wstring& text, int base) {
    return std::wcstoull(text.c_str(), nullptr, base);
}
