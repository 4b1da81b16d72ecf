#pragma once
// Text and path operations on 8-bit texts, shared by the engine, the dialogs
// and the after-extraction command.
//
// Paths use '\' as separator; '/' (as stored in entry names) is accepted as a
// separator wherever a path is split, and ':' ends a drive prefix.
//
// A counted text is plain: a pointer to its first character and a length
// (32 bits: 16-bit ones cost an extension or a prefix at every use). StringFromBuffer and ExtractDir only compute a length; the text is
// always the first 'length' characters of the buffer they were given.
#include <stdint.h>

#include "base/text.h"

// Characters a destination folder may have, as it always had in the ANSI
// code page; in UTF-8 (up to four bytes each) and with the two bytes
// AddBackslash adds they fit DestFolder's PathTextSize bytes.
const uint16_t FolderTextLimit = 254;

// Longest path ForceFolders works on, in bytes (characters for a UTF-8
// path); longer ones are left alone (the caller's PathExists test then
// reports the folder as missing).
const uint16_t ForceFoldersLimit = 259;

// Appends '\' unless the text already ends with one; the buffer must have
// room for two more bytes. Returns the same buffer.
char* AddBackslash(char* text);

// Removes one trailing '\', if there is one. Returns the same buffer.
char* RemoveBackslash(char* text);

// Length of the folder part of the counted path (a prefix of it): the path
// up to its last separator, keeping the separator of a drive root ("C:\")
// and the ':' of a drive ("C:File" -> "C:").
uint32_t ExtractDir(const char* path, uint32_t length);

// Replaces every '/' of the whole text by '\'. Returns the same buffer.
char* SlashesToBackslashes(char* text);

// True when a search for the path finds an entry. A path ending in '\' asks
// whether the folder lists anything (path + "*.*"); a path of more than 251
// bytes (characters for a UTF-8 path) ending in '\' answers false.
// Otherwise the caller's own text has its slashes turned into backslashes
// before the search.
bool PathExists(char* path);

// Creates the folder of the counted path and every missing parent, outermost
// first. Does nothing for paths longer than ForceFoldersLimit and stops at a
// component ending in ':' (such a folder cannot be created). The folder it
// last created or found is taken as existing, with its parents, until
// ForgetKnownFolder. True when it knows the folder exists; false leaves the
// answer to the caller's PathExists test.
bool ForceFolders(const char* path, uint32_t length);

// Makes ForceFolders test every level again (each walk starts with it: the
// user may have removed folders since the last).
void ForgetKnownFolder();

// Characters of a UTF-8 text: its bytes but continuation bytes.
uint32_t TextCharacters(const char* text);

// The one way a folder text gets into DestFolder (PathTextSize bytes): copies
// at most FolderTextLimit characters of 'source' (UTF-8) and terminates, so
// AddBackslash always has room. Returns the copied length in bytes.
uint32_t CopyFolderText(char* dest, const char* source);
