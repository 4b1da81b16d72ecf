#include "extract/names.h"

#include <stddef.h>
#include <stdint.h>

#include "base/text.h"
#include "platform/held.h"

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

}  // namespace

// Windows maps these names to devices in every folder, whatever extension
// follows and with trailing blanks ignored: "con", "Con.txt", "nul .tar.gz".
bool IsDeviceComponent(const char* part, size_t length, bool utf8) {
  size_t base = 0;
  while (base < length && part[base] != '.') base++;
  while (base > 0 && (part[base - 1] == ' ' || part[base - 1] == '.')) base--;
  // One packed list, not a table of pointers: each pointer would cost the
  // stub a relocation.
  static const char devices[] = "con\0prn\0aux\0nul\0conin$\0conout$\0";
  for (const char* device = devices; *device;) {
    if (SameNoCase(part, base, device)) return true;
    while (*device++) {}
  }
  // Both prefixes from one address: each constant address costs a relocation.
  static const char ports[] = "com\0lpt";
  const char* port = Held(ports);
  if (SameNoCase(part, 3, port) || SameNoCase(part, 3, port + 4)) {
    // 0-9 (current Windows reserves COM0 and LPT0 too), and the superscript
    // digits 1, 2, 3 (U+00B9, U+00B2, U+00B3), which
    // Windows also accepts as device numbers: one byte in the ANSI code page,
    // C2 and that byte in UTF-8.
    const uint8_t* digit = (const uint8_t*)part + 3;
    size_t size = base - 3;
    if (utf8 && size == 2 && *digit == 0xC2) digit++, size--;
    uint8_t d = *digit;
    if (size == 1 && ((d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3)) return true;
  }
  return false;
}

const char* FindDirectionControl(const char* text) {
  // Their lead bytes, D8 and E2, are never continuation bytes: any position will do.
  for (const uint8_t* p = (const uint8_t*)text; *p; p++) {
    if (p[0] == 0xD8 && p[1] == 0x9C) return (const char*)p;
    if (p[0] == 0xE2 && ((p[1] == 0x80 && (p[2] == 0x8E || p[2] == 0x8F || (p[2] >= 0xAA && p[2] <= 0xAE))) ||
                         (p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9)))
      return (const char*)p;
  }
  return nullptr;
}

bool IsSafeEntryName(const char* name, bool utf8) {
  if (!name || name[0] == 0) return false;
  if (utf8 && (!IsValidUtf8(name) || FindDirectionControl(name))) return false;
  if (IsSeparator(name[0])) return false;  // rooted, or UNC ("\\server\share")
  const char* part = name;
  for (const char* p = name;; p++) {
    char c = *p;
    if (c == 0 || IsSeparator(c)) {
      size_t length = (size_t)(p - part);
      if (IsParentComponent(part, length) || IsDeviceComponent(part, length, utf8)) return false;
      if (c == 0) return true;
      part = p + 1;
    } else if (IsForbiddenCharacter((uint8_t)c)) {
      return false;
    }
  }
}

