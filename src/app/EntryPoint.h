#pragma once

#include "Capture/VideoCaptureControl.h"

// Runs the recorder process from its command line with the given video capture, told the audio the command
// line asks for; returns the process exit status (see ExitStatus.h).
int RunEntryPoint(const ChosenCaptureFactory& videoCaptureFactory);
