#include "CaptureCapability.h"

#include <winrt/Windows.Foundation.Metadata.h>
#include <winrt/Windows.Graphics.Capture.h>

bool IsBorderlessCaptureSupported() {
    if (!ApiInformation::IsPropertyPresent(L"Windows.Graphics.Capture.GraphicsCaptureSession",
                                           L"IsBorderRequired"))
        return false;
    return GraphicsCaptureAccess::RequestAccessAsync(GraphicsCaptureAccessKind::Borderless).get() ==
           AppCapabilityAccessStatus::Allowed;
}
