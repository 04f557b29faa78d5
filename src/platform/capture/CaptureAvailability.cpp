#include <pyx/CaptureAvailability.h>

#include "platform/x11/CaptureExtensions.h"

#include <cstdlib>

std::string CaptureUnavailableReason() {
    const x11::CaptureExtensions extensions = x11::QueryCaptureExtensions();
    if (!extensions.displayOpened) {
        const char* display = std::getenv("DISPLAY");
        return display == nullptr || *display == '\0' ? "no X display: DISPLAY is not set"
                                                      : std::string("no X display: cannot open ") + display;
    }
    std::string missing;
    for (const auto& [present, name] :
         {std::pair{extensions.composite, "Composite"}, std::pair{extensions.damage, "DAMAGE"},
          std::pair{extensions.sharedMemory, "MIT-SHM"}})
        if (!present)
            missing += (missing.empty() ? "" : ", ") + std::string(name);
    return missing.empty() ? std::string() : "the X display lacks the extension(s) " + missing;
}
