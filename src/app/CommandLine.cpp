#include "CommandLine.h"

#include <shellapi.h>

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
