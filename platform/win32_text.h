#pragma once
// A text the core passed, in UTF-16 for the wide calls: converted from the
// encoding the core last chose with SetUtf8Texts (win32.cpp). The result
// stays valid until the next conversion.
#include <windows.h>

const WCHAR* ListText(const char* text);
