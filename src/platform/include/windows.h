#pragma once
// The kernel and user services of the platform layer.

#include <debugapi.h>
#include <fileapi.h>
#include <guiddef.h>
#include <handleapi.h>
#include <libloaderapi.h>
#include <minwindef.h>
#include <processthreadsapi.h>
#include <shellapi.h>
#include <stringapiset.h>
#include <synchapi.h>
#include <unknwn.h>
#include <wrl/client.h>
#include <wrl/implements.h>
