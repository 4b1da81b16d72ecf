#include "extract/paths.h"

#include "platform/held.h"
#include "base/state.h"
#include "platform/platform.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// PathExists builds "<folder>\*.*" in a work area of this many characters.
const uint16_t SearchAreaSize = 255;

// The limits count an ANSI path's bytes, as always, and a UTF-8 path's
// characters (its bytes but continuation bytes): a Japanese name takes three
// bytes per character, and Windows counts characters. Characters beyond
// U+FFFF count once here and twice for Windows, which then refuses the path.
uint32_t PathUnits(const char* path, uint32_t length) {
  uint32_t units = length;
  if (State.Utf8Name)
    for (uint32_t i = 0; i < length; i++) units -= ((uint8_t)path[i] & 0xC0) == 0x80;
  return units;
}

}  // namespace

char* AddBackslash(char* text) {
  uint32_t length = StrLength(text);
  if (length == 0 || text[length - 1] != '\\') {
    text[length] = '\\';
    text[length + 1] = 0;
  }
  return text;
}

char* RemoveBackslash(char* text) {
  uint32_t length = StrLength(text);
  if (length > 0 && text[length - 1] == '\\') text[length - 1] = 0;
  return text;
}

uint32_t ExtractDir(const char* path, uint32_t length) {
  if (length == 3 && (path[0] == ':' || path[1] == ':' || path[2] == ':')) return 3;
  uint32_t last = length;  // 1-based position of the last separator or ':'
  while (last > 0 && !IsSeparator(path[last - 1]) && path[last - 1] != ':') last--;
  if (last > 0 && IsSeparator(path[last - 1])) {
    bool driveRootSeparator = last == 3 && path[1] == ':';
    if (!driveRootSeparator) last--;
  }
  return last;
}

char* SlashesToBackslashes(char* text) {
  for (char* p = text; *p; p++)
    if (*p == '/') *p = '\\';
  return text;
}

bool PathExists(char* path) {
  uint32_t length = StrLength(path);
  if (length > 0 && path[length - 1] == '\\') {
    // Room for the text, "*.*" and the terminator; a longer folder answers false.
    if (PathUnits(path, length) + 4 > SearchAreaSize) return false;
    char* search = static_cast<char*>(Allocate(length + 4));
    for (uint32_t i = 0; i < length; i++) search[i] = path[i];
    search[length] = '*';
    search[length + 1] = '.';
    search[length + 2] = '*';
    search[length + 3] = 0;
    bool found = FindAny(SlashesToBackslashes(search));
    Release(search);
    return found;
  }
  return FindAny(SlashesToBackslashes(path));
}

namespace {

// The folder ForceFolders last created or found. It and its parents exist,
// so a later call for it, for one of its parents, or for a folder below it,
// stops testing there instead of asking the system again, level by level.
// The length and the text lie together: a function holding them in a
// register reaches both without a relocation for each.
struct KnownFolderRecord {
  uint32_t Length;
  char Text[4 * ForceFoldersLimit + 1];   // UTF-8: up to four bytes a character
};
KnownFolderRecord KnownFolder;

bool IsKnownFolder(const char* work, uint32_t length) {
  const KnownFolderRecord& known = Held(KnownFolder);
  if (length > known.Length || (length < known.Length && known.Text[length] != '\\')) return false;
  for (uint32_t i = 0; i < length; i++)
    if (work[i] != known.Text[i]) return false;
  return true;
}

void RememberFolder(const char* work, uint32_t length) {
  KnownFolderRecord& known = Held(KnownFolder);
  for (uint32_t i = 0; i < length; i++) known.Text[i] = work[i];
  known.Length = length;
}

// ForceFolders on the first 'length' characters of 'work'. The parents are
// prefixes of the same text, so every level works in the one copy, ending
// its text with a NUL for the duration of its own calls.
bool ForceFoldersIn(char* work, uint32_t length) {
  if (length > 0 && work[length - 1] == '\\') length--;
  // A drive ("C:") is neither made nor looked for; a short relative folder
  // ("ab") is a folder like any other.
  if (length == 0 || (length == 2 && work[1] == ':')) return false;
  if (IsKnownFolder(work, length)) return true;
  char saved = work[length];
  work[length] = 0;
  // A last component ending in ':' is its own folder part: such a name
  // cannot be created, and going on would never end.
  uint32_t parent = ExtractDir(work, length);
  bool creatable = parent < length;
  // Creating first costs one call where the parent exists (packages list a
  // folder before what it holds); a refusal then tells apart a folder that
  // is there from one whose parent is missing.
  // Only a folder counts: a file standing in its place is never taken for it.
  bool exists = (creatable && MakeFolder(work)) || FindPath(work) == PathFolder;
  if (!exists && creatable) {
    ForceFoldersIn(work, parent);
    exists = MakeFolder(work);
  }
  if (exists) RememberFolder(work, length);
  work[length] = saved;
  return exists;
}

}  // namespace

void ForgetKnownFolder() { KnownFolder.Length = 0; }

bool ForceFolders(const char* path, uint32_t length) {
  if (PathUnits(path, length) > ForceFoldersLimit) return false;
  // Four UTF-8 bytes at most for each character.
  char work[4 * ForceFoldersLimit + 1];
  for (uint32_t i = 0; i < length; i++) work[i] = path[i];
  work[length] = 0;
  return ForceFoldersIn(work, length);
}

namespace {
bool StartsCharacter(char c) { return ((uint8_t)c & 0xC0) != 0x80; }
}  // namespace

uint32_t TextCharacters(const char* text) {
  uint32_t characters = 0;
  for (; *text; text++) characters += StartsCharacter(*text);
  return characters;
}

uint32_t CopyFolderText(char* dest, const char* source) {
  uint32_t length = 0, characters = 0;
  for (char c; (c = source[length]) != 0; length++) {
    if (StartsCharacter(c) && ++characters > FolderTextLimit) break;
    dest[length] = c;
  }
  dest[length] = 0;
  return length;
}
