#include <shellapi.h>

#include "CommandLineQuoting.h"
#include <stringapiset.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The arguments as the kernel holds them: each one followed by a zero byte.
std::vector<std::wstring> ProcessArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string raw{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::wstring> arguments;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos)
            end = raw.size();
        arguments.push_back(Utf8ToWide(std::string_view(raw).substr(start, end - start)));
        start = end + 1;
    }
    return arguments;
}

std::wstring ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? Utf8ToWide(std::string_view(path, static_cast<std::size_t>(length))) : std::wstring();
}

} // namespace

LPWSTR GetCommandLineW() {
    static std::wstring commandLine = BuildCommandLine(ProcessArguments());
    return commandLine.data();
}

LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* numArgs) {
    if (numArgs == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::vector<std::wstring> arguments = commandLine == nullptr || *commandLine == L'\0'
                                                    ? std::vector<std::wstring>{ProgramPath()}
                                                    : SplitCommandLine(commandLine);
    // One block: the pointer array (null-terminated) followed by the strings it points into.
    const std::size_t pointerBytes = (arguments.size() + 1) * sizeof(LPWSTR);
    std::size_t bytes = pointerBytes;
    for (const auto& argument : arguments)
        bytes += (argument.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<char*>(std::malloc(bytes));
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* argv = reinterpret_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<wchar_t*>(block + pointerBytes);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        argv[i] = text;
        std::memcpy(text, arguments[i].c_str(), (arguments[i].size() + 1) * sizeof(wchar_t));
        text += arguments[i].size() + 1;
    }
    argv[arguments.size()] = nullptr;
    *numArgs = static_cast<int>(arguments.size());
    return argv;
}

void* LocalFree(void* memory) {
    std::free(memory);
    return nullptr;
}
