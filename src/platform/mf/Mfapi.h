#pragma once
// The media objects of the platform: start-up, attributes, media types, buffers, samples, events, event and
// work queues, and the sink writer.

#include "Async.h"
#include "Attributes.h"
#include "EventQueue.h"
#include "MediaBuffer.h"
#include "MediaEvent.h"
#include "MediaType.h"
#include "MfError.h"
#include "MfGuids.h"
#include "Sample.h"
#include "SinkWriter.h"

constexpr ULONG MF_SDK_VERSION = 0x0002;
constexpr ULONG MF_API_VERSION = 0x0070;
constexpr ULONG MF_VERSION = (MF_SDK_VERSION << 16) | MF_API_VERSION;

constexpr DWORD MFSTARTUP_NOSOCKET = 0x1;
constexpr DWORD MFSTARTUP_LITE = MFSTARTUP_NOSOCKET;
constexpr DWORD MFSTARTUP_FULL = 0;

// Counted: the work-queue threads run from the first MFStartup until the matching last MFShutdown.
HRESULT MFStartup(ULONG Version, DWORD dwFlags = MFSTARTUP_FULL);
HRESULT MFShutdown();
