#include "CommandLineQuoting.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

void AppendProgramName(std::wstring& line, const std::wstring& name) {
    std::wstring bare;
    for (wchar_t c : name) {
        if (c != L'"')
            bare.push_back(c);
    }
    const bool quote = bare.empty() || bare.find_first_of(L" \t") != std::wstring::npos;
    if (quote)
        line.push_back(L'"');
    line += bare;
    if (quote)
        line.push_back(L'"');
}

void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows: then each is doubled and the quote escaped.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        line.push_back(c);
        backslashes = 0;
    }
    // The closing quote must not be escaped by trailing backslashes.
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
}

std::size_t SkipBlanks(std::wstring_view text, std::size_t i) {
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return i;
}

// The program name: up to the closing quote when it starts with one, else up to the first blank.
std::size_t ReadProgramName(std::wstring_view text, std::wstring& name) {
    std::size_t i = 0;
    if (!text.empty() && text[0] == L'"') {
        const std::size_t close = text.find(L'"', 1);
        name = text.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
        return close == std::wstring_view::npos ? text.size() : close + 1;
    }
    while (i < text.size() && !IsBlank(text[i]))
        ++i;
    name = text.substr(0, i);
    return i;
}

// One argument from i: 2n backslashes and a quote give n backslashes and toggle quoting, 2n+1 give n
// backslashes and a literal quote; inside quotes a doubled quote is a literal quote that ends the quoting.
std::size_t ReadArgument(std::wstring_view text, std::size_t i, std::wstring& argument) {
    bool quoted = false;
    std::size_t backslashes = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            argument.append(backslashes / 2, L'\\');
            const bool escaped = backslashes % 2 != 0;
            backslashes = 0;
            if (escaped) {
                argument.push_back(L'"');
            } else if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
                argument.push_back(L'"');
                ++i;
                quoted = false;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        argument.append(backslashes, L'\\');
        backslashes = 0;
        if (IsBlank(c) && !quoted)
            break;
        argument.push_back(c);
    }
    argument.append(backslashes, L'\\');
    return i;
}

} // namespace

std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0) {
            AppendProgramName(line, arguments[i]);
        } else {
            line.push_back(L' ');
            AppendArgument(line, arguments[i]);
        }
    }
    return line;
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine) {
    std::vector<std::wstring> arguments(1);
    std::size_t i = SkipBlanks(commandLine, ReadProgramName(commandLine, arguments[0]));
    while (i < commandLine.size()) {
        std::wstring argument;
        i = SkipBlanks(commandLine, ReadArgument(commandLine, i, argument));
        arguments.push_back(std::move(argument));
    }
    return arguments;
}
