#include "base/text.h"

uint16_t StrLength(const char* text) {
  uint16_t length = 0;
  while (length < 0xFFFF && text[length]) length++;
  return length;
}

uint16_t StringFromBuffer(const char* buffer, uint16_t count) {
  uint16_t length = 0;
  while (length < count && buffer[length]) length++;
  return length;
}
