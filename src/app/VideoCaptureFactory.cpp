#include "VideoCaptureFactory.h"

#include "Capture/VideoCapture.h"

std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize,
                                                  const CaptureChoices& choices) {
    return std::make_unique<VideoCapture>(monitor, window, frameSize, choices);
}
