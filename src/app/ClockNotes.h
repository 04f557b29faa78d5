#pragma once
// The clock notes beside the ring of NAME (RingClockPath): the text of the recording's CaptureLog, written
// whole by the recorder as its captures start writing and as they stop, and read back by an export.

#include <optional>
#include <string>

// False with `error` in words, naming the path, when they cannot be written.
bool WriteClockNotes(const std::wstring& name, const std::string& text, std::string& error);

// None when there are none or they cannot be read; `error` then says why, unless there are none.
std::optional<std::string> ReadClockNotes(const std::wstring& name, std::string& error);
