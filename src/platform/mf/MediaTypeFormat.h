#pragma once
// The one place where a media type becomes the muxing backend's stream format.

#include "platform/av/StreamFormat.h"
#include <mfobjects.h>

// MF_E_INVALIDMEDIATYPE for a type the MP4 writer cannot carry.
HRESULT MediaTypeToStreamFormat(IMFMediaType* type, av::StreamFormat& format);
