#pragma once
// The check that keeps an archive entry's name inside the destination folder.
#include <stddef.h>

// True when a path component (its first 'length' bytes, UTF-8 or in the
// ANSI code page) is a reserved device name, as IsSafeEntryName refuses it.
bool IsDeviceComponent(const char* part, size_t length, bool utf8);

// True when 'name' (as stored in the archive, either separator style) may be
// joined below the destination folder. Refused: the empty name; a rooted or
// UNC name; any ':' (drive prefixes, alternate data streams); a component that
// Windows would read as ".." once it strips trailing dots and spaces (".",
// "..", "...", ".. "); a reserved device name as any component, with or
// without an extension (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9);
// characters Windows does not allow in names (control characters, < > " | ? *),
// which would otherwise act as search patterns when the engine tests whether a
// file exists.
//
// A UTF-8 name ('utf8') must also be valid UTF-8 in its shortest form, with
// no surrogate halves and nothing above U+10FFFF: such a name converts to
// UTF-16 one character for one, so every separator, dot, colon and device
// name Windows sees is one of the ASCII bytes checked here, and look-alikes
// such as the fullwidth solidus U+FF0F or full stop U+FF0E stay ordinary
// characters. A lenient decoder would read the overlong C0 AF as '/'. Nor may
// it hold a direction control (FindDirectionControl).
bool IsSafeEntryName(const char* name, bool utf8);

// Controls that change the direction the rest of a text reads in, so that a
// name shows as another one ("report" U+202E "txt.exe" reads "reportexe.txt"):
// U+061C, U+200E, U+200F, U+202A to U+202E and U+2066 to U+2069. The first
// one's UTF-8 in 'text' (UTF-8), or null when there is none.
const char* FindDirectionControl(const char* text);
