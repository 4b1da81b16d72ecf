#pragma once
// Lengths of 8-bit texts.
#include <stdint.h>

// Bytes before the first NUL, at most 0xFFFF. 32-bit results: a 16-bit one
// costs its callers an extension at every call.
uint32_t StrLength(const char* text);

// 'number' in decimal digits, written to the end of 'digits'; returns where they start.
const char* DecimalText(uint32_t number, char (&digits)[11]);

// The length of the text made of the first 'count' bytes of 'buffer' (at
// most 0xFFFF), cut before the first NUL byte among them. The text is the
// buffer's prefix.
uint32_t StringFromBuffer(const char* buffer, uint32_t count);

// Whether the text is UTF-8 in its shortest form, of code points up to
// U+10FFFF without surrogates (the byte ranges of RFC 3629).
bool IsValidUtf8(const char* text);
