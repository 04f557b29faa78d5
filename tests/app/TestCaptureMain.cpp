// pyx-video with the test capture in place of the real one.

#include "TestVideoCapture.h"
#include "app/EntryPoint.h"

int main() {
    return RunEntryPoint(
        [](HMONITOR monitor, HWND window, FrameSize, const AudioChoice&) -> std::unique_ptr<IVideoCapture> {
            return std::make_unique<TestVideoCapture>(monitor, window);
        });
}
