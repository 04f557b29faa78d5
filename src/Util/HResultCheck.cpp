#include "HResultCheck.h"

#include "ComException.h"
#include "Logger.h"

#include <string>

void ThrowIfFailed(HRESULT hr, const char* callText) {
    if (FAILED(hr))
        throw ComException(std::string(callText) + " failed", hr);
}

HRESULT LogIfFailed(HRESULT hr, const char* callText) {
    if (FAILED(hr))
        LogError("%s failed with error 0x%08lx", callText,
                 static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    return hr;
}
