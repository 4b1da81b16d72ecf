#pragma once
// Small helpers shared by the packaging tool's commands.
#include <stdint.h>
#include <string>
#include <vector>

namespace pack {

// Everything the tool reports goes to stderr with this prefix.
void Warn(const std::string& text);
void Error(const std::string& text);
int WarningCount();

// Control characters (C0, DEL, C1) written as \xNN, so names from a package
// cannot move the cursor or recolour the terminal; line feeds stay when asked.
std::string Printable(const std::string& utf8, bool keepLineFeeds = false);
// A JSON string literal, quotes included; bytes that are not UTF-8 become U+FFFD,
// so the output is always valid UTF-8 JSON.
std::string JsonString(const std::string& utf8);

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// "1 entry", "2 entries".
std::string Count(uint64_t n, const char* one, const char* many);
// The size of the file at 'path'; 0 when it cannot be read.
uint64_t FileSize(const std::string& path);

// The folder part of a path ("." when it has none) and its last component.
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

// MS-DOS date (high 16 bits) and time (low 16 bits) of a moment, clamped to
// 1980..2107. 'utc' selects UTC instead of local time.
uint32_t DosDateTime(int64_t seconds, bool utc);

// Value of SOURCE_DATE_EPOCH, when set to a valid number.
bool SourceDateEpoch(int64_t& seconds);

void PutLe16(std::string& out, uint32_t value);
void PutLe32(std::string& out, uint32_t value);
uint16_t GetLe16(const void* p);
uint32_t GetLe32(const void* p);

// Removes a folder tree; errors are ignored (used for temporary folders).
void RemoveTree(const std::string& path);

// A CRC-32 or other 32-bit value as 8 hex digits.
std::string Hex8(uint32_t value);

}  // namespace pack
