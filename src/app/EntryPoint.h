#pragma once

#include "Capture/VideoCaptureControl.h"

// Runs the recorder process from its command line with the given video capture, told the audio the command
// line asks for; returns the process exit code (0, or -1 on failure).
int RunEntryPoint(const AudioVideoCaptureFactory& videoCaptureFactory);
