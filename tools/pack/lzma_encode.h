#pragma once
// LZMA entry data (ZIP method 14) made by liblzma's LZMA1 encoder: the 4-byte
// header (encoder version, properties size 5), the 5 properties bytes, then
// the raw stream with its end marker, as the entry's flag bit 1 says.
#include <lzma.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pack {

// The dictionary never exceeds this (preset 6's): the encoder then needs
// about 100 MB per thread, whatever the level and the entry's size.
const uint32_t MaxLzmaDictionary = 8u << 20;

// Encodes 'size' bytes at tolvane-pack's 'level' (1..12, mapped onto the
// presets 1..9) into 'out'; returns the entry's data length, or 0 when they
// would take 'room' bytes or more.
size_t LzmaCompress(const uint8_t* data, size_t size, int level, uint8_t* out, size_t room);

// One solid block's stream (docs/solid.md): liblzma's raw LZMA2 encoder at
// tolvane-pack's level, its dictionary the smallest that covers the block's
// input (and no larger than the level's). Each file's chunks are what the
// encoder writes up to a flush at the file's end.
class SolidEncoder {
 public:
  SolidEncoder() = default;
  ~SolidEncoder() { lzma_end(&stream_); }
  SolidEncoder(const SolidEncoder&) = delete;
  SolidEncoder& operator=(const SolidEncoder&) = delete;

  bool Start(int level, uint64_t blockBytes, std::string& error);
  // The block's property byte: its dictionary size.
  uint8_t Property() const { return property_; }
  // Appends the chunks of the next file to 'out'.
  bool Entry(const uint8_t* data, size_t size, std::string& out, std::string& error);

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  uint8_t property_ = 0;
};

// What one SolidEncoder needs at this level, in bytes.
uint64_t SolidEncoderMemory(int level, uint64_t blockBytes);

}  // namespace pack
