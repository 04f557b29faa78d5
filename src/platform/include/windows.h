#pragma once
// The kernel, user and GDI services of the platform layer, as one header (COM smart pointers and object
// bases are in <wrl/client.h> and <wrl/implements.h>, as on Windows).

#include <debugapi.h>
#include <fileapi.h>
#include <guiddef.h>
#include <handleapi.h>
#include <libloaderapi.h>
#include <minwindef.h>
#include <processthreadsapi.h>
#include <stringapiset.h>
#include <synchapi.h>
#include <unknwn.h>
#include <wingdi.h>
#include <winuser.h>
