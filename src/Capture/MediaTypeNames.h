#pragma once
// Names of media type GUIDs for the log: the Media Foundation symbol of an attribute, major type or subtype.

#include <guiddef.h>

#include <string>
#include <vector>

// "NullGUID" for the zero GUID, "(Unknown)" for a GUID the table does not hold.
const wchar_t* MediaTypeName(REFGUID guid);

// "[" name ", " name ... "]".
std::wstring MediaTypeNameList(const std::vector<GUID>& guids);
