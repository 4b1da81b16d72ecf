#include "base/entry.h"

const uint8_t* FindExtraField(const uint8_t* extra, uint32_t length, uint32_t tag, uint32_t* size) {
  for (uint32_t at = 0; at + 4 <= length;) {
    uint32_t id = Read16(extra + at);
    uint32_t fieldSize = Read16(extra + at + 2);
    at += 4;
    if (at + fieldSize > length) break;   // runs past the end: damaged
    if (id == tag) {
      *size = fieldSize;
      return extra + at;
    }
    at += fieldSize;
  }
  return nullptr;
}
