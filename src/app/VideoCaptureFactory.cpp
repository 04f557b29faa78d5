#include "VideoCaptureFactory.h"

#include "Capture/VideoCapture.h"

std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize) {
    return std::make_unique<VideoCapture>(monitor, window, frameSize);
}
