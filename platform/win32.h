#pragma once
// Pieces of the Win32 seam that the stub's own Win32 code shares.
#include <windows.h>

// A text the core passed, in UTF-16 for the wide calls: converted from the
// encoding the core last chose with SetUtf8Texts (win32.cpp). The result
// stays valid until the next conversion.
const WCHAR* ListText(const char* text);

// The dialog's control 'id' (GetDlgItem; win32_list.cpp).
HWND DialogControl(HWND dialog, int id);

// SendMessageW, for the entry list's messages and the progress field's text
// (win32_list.cpp).
LRESULT ControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// Compares two texts as the entry list sorts them (win32_list.cpp): case
// ignored, in the user's locale. Answers below, at or above zero, as the first sorts before,
// with or after the second.
int CompareNoCase(const WCHAR* a, const WCHAR* b);

// Sets the main dialog's progress bar to the total size of the list's
// selected entries, at nothing written.
void StartProgressBar(HWND dialog, HWND list);

// A function of shell32, which is not imported: it is loaded from the system
// folder on first use. Null when it cannot be had.
void* ShellFunction(const char* name);

// ExitProcess and GetProcAddress from one call site each (win32.cpp).
[[noreturn]] void EndProcess(UINT code);
void* ModuleFunction(HMODULE module, const char* name);

// A UTF-8 path in UTF-16, in conversion area 'slot' (0 or 1) of the seam;
// empty when it is not valid UTF-8. Valid until the next conversion there.
const WCHAR* WidePath(const char* path, int slot = 0);
// Writes 'wide' in code page 'page' into 'buffer' (terminated); returns its
// length, 0 when it does not fit.
uint32_t FromWide(UINT page, const WCHAR* wide, char* buffer, uint32_t size);
