#pragma once

// Whether the graphics-capture service offers borderless window capture, which recording needs.
bool IsBorderlessCaptureSupported();
