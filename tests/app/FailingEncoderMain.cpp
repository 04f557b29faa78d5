// pyx-video whose first capture has a video encoder that fails after 90 frames; later captures are the
// ordinary ones.

#include "Capture/VideoCapture.h"
#include "FailingEncoder.h"
#include "app/EntryPoint.h"

#include <atomic>

int main() {
    return RunEntryPoint([](HMONITOR monitor, HWND window, FrameSize frameSize,
                            const CaptureChoices& choices) -> std::unique_ptr<IVideoCapture> {
        static std::atomic<bool> s_failed{false};
        return std::make_unique<VideoCapture>(monitor, window, frameSize, choices,
                                              s_failed.exchange(true) ? TransformEnumerator(MFTEnumEx)
                                                                      : FailingEncoderAt(90));
    });
}
