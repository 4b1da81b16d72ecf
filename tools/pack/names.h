#pragma once
// The rules an entry name must follow for the stub to extract it on Windows.
#include <stddef.h>
#include <string>

namespace pack {

const size_t MaxNameBytes = 257;         // the stub's name buffer holds 258 bytes with the NUL
const size_t AssumedDestination = 100;   // destination folder length the path check assumes
const size_t MaxWindowsPath = 259;       // MAX_PATH without the NUL

// Checks a name as stored (code page bytes, '/' separators, a folder ends in
// '/'). Returns an empty string when the stub accepts it, else the reason.
std::string NameProblem(const std::string& name);

// True when a component (without separators) is a reserved device name.
bool IsReservedDeviceName(const std::string& component);

// True when destination + '\' + name would exceed MAX_PATH for a destination
// of AssumedDestination characters.
bool NameTooLongForWindows(const std::string& name);

}  // namespace pack
