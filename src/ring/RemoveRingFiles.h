#pragma once
// Removes the ring files of NAME (data 0, index 0, data 1, index 1, ..., and the clock notes). An absent file
// is not an error. A status query that fails for another reason throws std::filesystem::filesystem_error with
// the operation "exists", a failed removal with "remove". True when all of them are gone.

#include <string>

bool RemoveRingFiles(const std::wstring& name);
