// Prints this process's arguments as the command-line services see them, each followed by a zero byte.

#include <shellapi.h>
#include <stringapiset.h>

#include <cstdio>

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return 1;
    for (int i = 0; i < count; ++i) {
        const std::string text = WideToUtf8(arguments[i]);
        std::fwrite(text.c_str(), 1, text.size() + 1, stdout);
    }
    LocalFree(arguments);
    return 0;
}
