#pragma once
// Process ancestry as the kernel reports it, for recording what a process and its descendants play.

#include <minwindef.h>

// True when `processId` is `root` or a descendant of it, at the moment of asking. A process whose parent
// ended was handed to another ancestor by the system and no longer counts as a descendant.
bool IsInProcessTree(DWORD processId, DWORD root);
