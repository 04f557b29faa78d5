#include "Exception.h"

#include "CodecReport.h"

#include <cstdint>
#include <cstdio>

namespace kiv::mfcodec {

Exception::Exception(HRESULT hr, int line, const char* expression, const char* function, const char* file)
    : hr(hr), line(line), expression(expression), function(function), file(file) {
    const std::string functionText = FunctionText(function);
    // snprintf always terminates; a longer text is cut.
    if (hr != 0)
        std::snprintf(message, sizeof(message), "%s -> 0x%08X [%s@%d]", expression,
                      static_cast<unsigned>(static_cast<std::uint32_t>(hr)), functionText.c_str(), line);
    else
        std::snprintf(message, sizeof(message), "(%s) does not hold [%s@%d]", expression,
                      functionText.c_str(), line);
}

} // namespace kiv::mfcodec
