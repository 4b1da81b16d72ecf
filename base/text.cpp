#include "base/text.h"

const char* DecimalText(uint32_t number, char (&digits)[11]) {
  char* at = digits + 10;
  *at = 0;
  do *--at = (char)('0' + number % 10);
  while (number /= 10);
  return at;
}

uint32_t StrLength(const char* text) {
  uint32_t length = 0;
  while (length < 0xFFFF && text[length]) length++;
  return length;
}

uint32_t StringFromBuffer(const char* buffer, uint32_t count) {
  uint32_t length = 0;
  while (length < count && buffer[length]) length++;
  return length;
}

bool IsValidUtf8(const char* text) {
  for (const uint8_t* p = (const uint8_t*)text; *p;) {
    uint8_t c = *p++;
    if (c < 0x80) continue;
    // C0 and C1 only start overlong forms of ASCII; past F4 lies beyond U+10FFFF.
    if (c < 0xC2 || c > 0xF4) return false;
    // The second byte excludes the overlong forms after E0 and F0, the
    // surrogates after ED and what lies beyond U+10FFFF after F4.
    uint8_t low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    uint8_t high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (*p < low || *p > high) return false;   // the terminator fails here too
    for (int more = (c >= 0xE0) + (c >= 0xF0); more > 0; more--)
      if ((*++p & 0xC0) != 0x80) return false;
    p++;
  }
  return true;
}
