#include "extract/names.h"

#include <stddef.h>
#include <stdint.h>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool IsForbiddenCharacter(uint8_t c) {
  if (c < 32) return true;
  switch (c) {
    case ':': case '<': case '>': case '"': case '|': case '?': case '*':
      return true;
  }
  return false;
}

// A component made only of dots and spaces with at least two dots becomes ".."
// (or climbs further on old systems) after Windows strips its trailing dots
// and spaces; a lone "." with blanks is harmless and allowed.
bool IsParentComponent(const char* part, size_t length) {
  size_t dots = 0;
  for (size_t i = 0; i < length; i++) {
    if (part[i] == '.') dots++;
    else if (part[i] != ' ') return false;
  }
  return dots >= 2;
}

bool SameNoCase(const char* text, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length; i++) {
    if (word[i] == 0 || Lower(text[i]) != word[i]) return false;
  }
  return word[i] == 0;
}

// Windows maps these names to devices in every folder, whatever extension
// follows and with trailing blanks ignored: "con", "Con.txt", "nul .tar.gz".
bool IsDeviceComponent(const char* part, size_t length) {
  size_t base = 0;
  while (base < length && part[base] != '.') base++;
  while (base > 0 && (part[base - 1] == ' ' || part[base - 1] == '.')) base--;
  static const char* const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* device : devices) {
    if (SameNoCase(part, base, device)) return true;
  }
  if (base == 4 && (SameNoCase(part, 3, "com") || SameNoCase(part, 3, "lpt"))) {
    uint8_t digit = (uint8_t)part[3];
    // 1-9, and the superscript digits 1, 2, 3 of the ANSI code page, which
    // Windows also accepts as device numbers.
    if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
      return true;
  }
  return false;
}

}  // namespace

bool IsSafeEntryName(const char* name) {
  if (!name || name[0] == 0) return false;
  if (IsSeparator(name[0])) return false;  // rooted, or UNC ("\\server\share")
  const char* part = name;
  for (const char* p = name;; p++) {
    char c = *p;
    if (c == 0 || IsSeparator(c)) {
      size_t length = (size_t)(p - part);
      if (IsParentComponent(part, length) || IsDeviceComponent(part, length)) return false;
      if (c == 0) return true;
      part = p + 1;
    } else if (IsForbiddenCharacter((uint8_t)c)) {
      return false;
    }
  }
}
