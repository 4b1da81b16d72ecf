#pragma once
// Shared helpers of the decoder tests: running an entry through the host
// seam with in-memory input and output, counting the seam calls the decoders
// make, and writing deflate bit streams by hand.
#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/decode_result.h"

// Starts the core (the CRC table among it) once per test program.
void EnsureCrcTable();

struct Decoded {
  std::string out;
  uint32_t crc;   // complemented, comparable with a stored CRC-32
  DecodeResult result;
};

// Runs InflateEntry / CopyStoredEntry on 'input' (already encrypted when
// 'flags' bit 0 is set; the keys must then be set by the caller).
Decoded Inflate(const std::string& input, uint16_t flags = 0);
Decoded CopyStored(const std::string& input, uint16_t flags = 0);
// Runs LzmaEntry on 'input' (header and stream) as an entry of 'size' bytes.
Decoded DecodeLzma(const std::string& input, uint32_t size, uint16_t flags = 0);
// Runs LzmaEntry on 'input' as the solid entry numbered 'number' in the walk.
Decoded DecodeSolid(const std::string& input, uint32_t size, uint32_t number);

// Deflate bits, least significant bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, int n);
  // A Huffman code of 'length' bits, its most significant bit first.
  void Code(uint32_t code, int length);
  void AlignToByte();
  void Byte(uint8_t b);
  std::string Finish();   // pads the last byte with zeros

 private:
  std::string bytes_;
  uint32_t pending_ = 0;
  int count_ = 0;
};

// Canonical codes of RFC 1951 for a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

// Writes blocks by hand and keeps the output they should decode to.
class StreamBuilder {
 public:
  BitWriter bits;
  std::string expected;

  void FixedHeader(bool last);
  void FixedLiteral(uint8_t c);
  void FixedMatch(int length, int distance);   // appends to 'expected' too
  void FixedSymbol(int symbol);                // raw literal/length symbol
  void FixedDistanceSymbol(int symbol);
  void FixedEnd();
  void Stored(bool last, const std::string& data);

  // A dynamic block header whose code lengths are sent as plain lengths 0..15
  // (code-length code: every length value 4 bits). Codes for the block body are
  // then written with the returned literal/length and distance codes.
  void DynamicHeader(bool last, const std::vector<int>& litLengths,
                     const std::vector<int>& distLengths);
  std::vector<uint32_t> litCodes, distCodes;
  std::vector<int> litLens, distLens;
  void DynLiteral(uint8_t c);
  void DynMatch(int length, int distance);
  void DynEnd();

  std::string Finish() { return bits.Finish(); }
};

// Length and distance symbols with their extra bits, as RFC 1951 assigns them.
void LengthSymbol(int length, int& symbol, int& extraBits, int& extra);
void DistanceSymbol(int distance, int& symbol, int& extraBits, int& extra);

// Raw deflate by zlib (the oracle) with the given parameters.
std::string ZlibDeflate(const std::string& data, int level, int windowBits = 15,
                        int memLevel = 8, int strategy = 0);
uint32_t ZlibCrc(const std::string& data);

// Reproducible pseudo-random bytes.
std::string RandomBytes(size_t n, unsigned seed);

// The decoder's three code loops: 64-bit word, 32-bit word (the stub's) and
// the byte reader. Tests derived from this fixture run once per loop.
enum Loop { WideWord, NarrowWord, ByteReader };
class InflateLoops : public ::testing::TestWithParam<Loop> {
 protected:
  void SetUp() override;
  void TearDown() override;
};
std::string LoopName(const ::testing::TestParamInfo<Loop>& info);
