#pragma once
// LZMA entry data (ZIP method 14) made by liblzma's LZMA1 encoder: the 4-byte
// header (encoder version, properties size 5), the 5 properties bytes, then
// the raw stream with its end marker, as the entry's flag bit 1 says.
#include <stddef.h>
#include <stdint.h>

namespace pack {

// The dictionary never exceeds this (preset 6's): the encoder then needs
// about 100 MB per thread, whatever the level and the entry's size.
const uint32_t MaxLzmaDictionary = 8u << 20;

// Encodes 'size' bytes at tolvane-pack's 'level' (1..12, mapped onto the
// presets 1..9) into 'out'; returns the entry's data length, or 0 when they
// would take 'room' bytes or more.
size_t LzmaCompress(const uint8_t* data, size_t size, int level, uint8_t* out, size_t room);

}  // namespace pack
