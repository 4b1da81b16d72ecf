#pragma once
// The rules an entry name must follow for the stub to extract it on Windows.
#include <stddef.h>
#include <string>

namespace pack {

const size_t MaxNameBytes = 257;         // the stub's name buffer holds 258 bytes with the NUL
const size_t AssumedDestination = 100;   // destination folder length the path check assumes
const size_t MaxWindowsPath = 259;       // MAX_PATH without the NUL

// Checks a name as stored (UTF-8, '/' separators, a folder ends in '/').
// Returns an empty string when the stub accepts it, else the reason.
std::string NameProblem(const std::string& name);

// Names outside ASCII are stored as UTF-8 and marked with flag bit 11.
bool IsAscii(const std::string& text);

// True when a component (without separators) is a reserved device name.
bool IsReservedDeviceName(const std::string& component);

// True when destination + '\' + name would exceed MAX_PATH (counted in UTF-16
// units, as Windows does) for a destination of AssumedDestination characters.
bool NameTooLongForWindows(const std::string& name);
// The UTF-16 length of a UTF-8 text.
size_t Utf16Length(const std::string& utf8);

}  // namespace pack
