#include "CodecReport.h"

#include "Util/Assert.h"
#include "Util/Logger.h"

#include <cstdint>
#include <string_view>

namespace kiv::mfcodec {

namespace {

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(static_cast<std::uint32_t>(hr)); }

// Position of the '(' that opens the parameter list: the last one at nesting depth 0.
std::size_t ParameterListStart(std::string_view text) {
    int depth = 0;
    for (std::size_t i = text.size(); i-- > 0;) {
        const char c = text[i];
        if (c == ')' || c == '>' || c == ']')
            ++depth;
        else if (c == '<' || c == '[')
            --depth;
        else if (c == '(' && --depth == 0)
            return i;
    }
    return text.size();
}

} // namespace

std::string FunctionText(const char* signature) {
    const std::string_view text(signature);
    const std::string_view head = text.substr(0, ParameterListStart(text));
    // The name is the last word at template depth 0; the return type and qualifiers stand before it.
    int depth = 0;
    std::size_t nameStart = 0;
    for (std::size_t i = head.size(); i-- > 0;) {
        const char c = head[i];
        if (c == '>')
            ++depth;
        else if (c == '<')
            --depth;
        else if (c == ' ' && depth == 0) {
            nameStart = i + 1;
            break;
        }
    }
    std::string result;
    for (const std::string_view qualifier : {"virtual ", "static "})
        if (text.substr(0, qualifier.size()) == qualifier)
            result = qualifier;
    result += head.substr(nameStart);
    return result;
}

HRESULT ReportFailedCall(HRESULT hr, const char* call, const char* signature, int line) {
    LogError("%s -> 0x%08X [%s@%d]", call, Hex(hr), FunctionText(signature).c_str(), line);
    return hr;
}

HRESULT ReportFailedCondition(HRESULT hr, const char* condition, const char* signature, int line) {
    LogError("(%s) does not hold [%s@%d]", condition, FunctionText(signature).c_str(), line);
    return hr;
}

void ReportAssertion(const char* condition, const char* signature, int line) {
    ::AssertionFailed(condition, FunctionText(signature).c_str(), line);
}

} // namespace kiv::mfcodec
