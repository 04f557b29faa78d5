#pragma once
// Joining arguments into one command line and splitting it again by the Windows rules.

#include <string>
#include <string_view>
#include <vector>

// The first argument is the program name, which the splitting rules take without escapes: it is quoted
// when it holds blanks, and double quotes (which a Windows program name cannot hold) are left out.
std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments);
// Splits a non-empty command line; the first argument follows the program-name rule.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);
