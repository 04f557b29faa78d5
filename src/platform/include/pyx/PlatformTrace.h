#pragma once
// The platform's trace channel, for a developer chasing a failed call: exceptions stopped at a COM method,
// failed results, unimplemented methods and interface requests an object does not answer, each reported
// once per place on standard error. Off unless PYX_PLATFORM_TRACE is set to something other than "0".

#include <guiddef.h>

#include <source_location>
#include <typeinfo>

bool PlatformTraceEnabled();

// The call at `where` stopped an exception (`what` is its text, or how it was unknown).
void TraceException(const std::source_location& where, const char* what);
// The call at `where` failed with `hr`; traced once per place and result.
void TraceFailure(const std::source_location& where, HRESULT hr);
// An object of type `object` was asked for an interface it does not implement; traced once per type and IID.
void TraceUnknownInterface(const std::type_info& object, REFIID riid);

// Every E_NOTIMPL is returned through here, so each unimplemented method is traced once.
HRESULT NotImplemented(const std::source_location& where = std::source_location::current());
