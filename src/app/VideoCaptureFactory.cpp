#include "VideoCaptureFactory.h"

#include "Capture/VideoCapture.h"

std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize,
                                                  const AudioChoice& audio) {
    return std::make_unique<VideoCapture>(monitor, window, frameSize, audio);
}
