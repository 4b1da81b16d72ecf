#pragma once
// The check that keeps an archive entry's name inside the destination folder.

// True when 'name' (as stored in the archive, either separator style) may be
// joined below the destination folder. Refused: the empty name; a rooted or
// UNC name; any ':' (drive prefixes, alternate data streams); a component that
// Windows would read as ".." once it strips trailing dots and spaces (".",
// "..", "...", ".. "); a reserved device name as any component, with or
// without an extension (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9);
// characters Windows does not allow in names (control characters, < > " | ? *),
// which would otherwise act as search patterns when the engine tests whether a
// file exists.
bool IsSafeEntryName(const char* name);
