#include "VideoCaptureFactory.h"

#include "Capture/VideoCapture.h"

std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR monitor, HWND window) {
    return std::make_unique<VideoCapture>(monitor, window);
}
