#include <winrt/Windows.Graphics.Capture.h>

#include "platform/x11/CaptureExtensions.h"

std::future<AppCapabilityAccessStatus>
GraphicsCaptureAccess::RequestAccessAsync(GraphicsCaptureAccessKind kind) {
    return std::async(std::launch::async, [kind] {
        if (kind != GraphicsCaptureAccessKind::Borderless && kind != GraphicsCaptureAccessKind::Programmatic)
            return AppCapabilityAccessStatus::NotDeclaredByApp;
        return x11::QueryCaptureExtensions().AllPresent() ? AppCapabilityAccessStatus::Allowed
                                                          : AppCapabilityAccessStatus::DeniedBySystem;
    });
}
