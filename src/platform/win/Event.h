#pragma once
// Event objects on eventfd: signalled means readable. Manual-reset events stay signalled until ResetEvent;
// a successful wait on an auto-reset event consumes the signal.

#include "Handle.h"

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
