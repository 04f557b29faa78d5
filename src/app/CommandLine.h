#pragma once
// The recorder's command line: the process arguments, program path first.

#include <string>
#include <vector>

using ArgumentList = std::vector<std::wstring>;

// The arguments of this process, read once and kept for the life of the process.
const ArgumentList& GetArguments();
