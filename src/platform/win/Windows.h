#pragma once
// The kernel and user services of the platform layer.

#include "ComObject.h"
#include "ComPtr.h"
#include "CommandLine.h"
#include "Debug.h"
#include "Event.h"
#include "File.h"
#include "Guid.h"
#include "Handle.h"
#include "Library.h"
#include "Process.h"
#include "Strings.h"
#include "Time.h"
#include "Unknown.h"
#include "Wait.h"
#include "WinTypes.h"
