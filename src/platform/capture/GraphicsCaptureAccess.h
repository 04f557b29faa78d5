#pragma once
// The access request of the graphics-capture service. Capture is allowed when the X display offers
// Composite, DAMAGE and MIT-SHM; the answer comes asynchronously, as on Windows.

#include <future>

enum class GraphicsCaptureAccessKind { Borderless = 0, Programmatic = 1 };

enum class AppCapabilityAccessStatus {
    DeniedBySystem = 0,
    NotDeclaredByApp = 1,
    DeniedByUser = 2,
    UserPromptRequired = 3,
    Allowed = 4,
};

class GraphicsCaptureAccess {
public:
    static std::future<AppCapabilityAccessStatus> RequestAccessAsync(GraphicsCaptureAccessKind kind);
};
