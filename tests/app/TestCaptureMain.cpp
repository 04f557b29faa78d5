// pyx-video with the test capture in place of the real one.

#include "TestVideoCapture.h"
#include "app/EntryPoint.h"
#include "platform/launch/ProcessGuard.h"

int main() {
    GuardProcessStart();
    return RunEntryPoint([](HMONITOR monitor, HWND window, FrameSize,
                            const CaptureChoices&) -> std::unique_ptr<IVideoCapture> {
        return std::make_unique<TestVideoCapture>(monitor, window);
    });
}
