#pragma once
// The one conversion between the backend's description of the default output and the wave formats that
// audio clients hand out and accept.

#include "platform/pulse/SinkFormat.h"
#include <audioclient.h>

// 32-bit float at the output's rate and channels, described as WAVEFORMATEXTENSIBLE.
WAVEFORMATEXTENSIBLE MixFormatOf(const pulse::SinkFormat& format);

// Whether a stream may be opened in `format` on a device with this mix format: S_OK for the same samples,
// rate and channels (plain float or extensible); E_INVALIDARG for a description that contradicts itself;
// AUDCLNT_E_UNSUPPORTED_FORMAT for any other format, since shared-mode streams use the mix format.
HRESULT CheckStreamFormat(const WAVEFORMATEX& format, const WAVEFORMATEXTENSIBLE& mixFormat);
