#pragma once

#include "Capture/VideoCaptureControl.h"

// The video capture the recorder runs: of the window, or of the monitor when the window is null, encoded at
// the recording's frame size once it is known, with the command line's choices.
std::unique_ptr<IVideoCapture> CreateVideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize,
                                                  const CaptureChoices& choices);
