#include "CaptureCapability.h"

#include "platform/capture/ApiInformation.h"
#include "platform/capture/GraphicsCaptureAccess.h"

bool IsBorderlessCaptureSupported() {
    if (!ApiInformation::IsPropertyPresent(L"Windows.Graphics.Capture.GraphicsCaptureSession",
                                           L"IsBorderRequired"))
        return false;
    return GraphicsCaptureAccess::RequestAccessAsync(GraphicsCaptureAccessKind::Borderless).get() ==
           AppCapabilityAccessStatus::Allowed;
}
