#pragma once

#include "Capture/VideoCaptureControl.h"

// Runs the recorder process from its command line with the given video capture; returns the process exit
// status (see ExitStatus.h).
int RunEntryPoint(const VideoCaptureFactory& videoCaptureFactory);
