#include "VideoCaptureFactory.h"

#include <stdexcept>

std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR, HWND) {
    throw std::runtime_error("video capture is not available yet");
}
