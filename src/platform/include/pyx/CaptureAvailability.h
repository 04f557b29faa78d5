#pragma once
// Why window capture is unavailable here, in this system's terms: no X display, or the display extensions it
// lacks. Empty when capture is available.

#include <string>

std::string CaptureUnavailableReason();
