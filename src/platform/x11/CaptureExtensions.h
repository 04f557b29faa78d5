#pragma once
// Whether the X display named by DISPLAY offers what window and monitor capture need.

namespace x11 {

struct CaptureExtensions {
    bool displayOpened = false;
    bool composite = false;
    bool damage = false;
    bool sharedMemory = false;

    bool AllPresent() const { return displayOpened && composite && damage && sharedMemory; }
};

CaptureExtensions QueryCaptureExtensions();

} // namespace x11
