#include "tests/codec/codec_support.h"

#include <random>
#include <stdexcept>

#include <zlib.h>

#include "codec/inflate.h"
#include "codec/lzma.h"
#include "codec/entry_io.h"
#include "codec/stored.h"
#include "base/entry.h"
#include "base/state.h"
#include "package/core.h"
#include "base/reader.h"
#include "tests/support/host_double.h"

// ---- running the decoders -----------------------------------------------------

static Decoded Run(DecodeResult (*decoder)(ExtractState&), const std::string& input, uint16_t flags,
                   uint32_t size = 0, uint16_t method = MethodStored);

void EnsureCrcTable() {
  if (State.CrcTable == nullptr) {
    StartCore(NoFile);
    // The fixed-code tables live for the whole run: build them now, so that
    // every test sees the same heap before and after an entry.
    Run(InflateEntry, std::string("\x03\x00", 2), 0);
  }
}

// The decoders read the method only to tell a solid entry from another.
static Decoded Run(DecodeResult (*decoder)(ExtractState&), const std::string& input, uint16_t flags,
                   uint32_t size, uint16_t method) {
  EnsureCrcTable();
  std::string sink;
  UseArchiveFile(host::OpenMemoryFile(input.data(), input.size()));
  State.OutputFile = host::CreateMemorySink(&sink);
  State.CompressedLeft = (int32_t)input.size();
  State.CurrentEntry.Method = method;
  State.CurrentEntry.EntryFlags = flags;
  State.CurrentEntry.UncompressedSize = size;
  State.Crc = 0xFFFFFFFF;
  DecodeResult result = decoder(State);
  CloseFileHandle(State.ArchiveFile);
  CloseFileHandle(State.OutputFile);
  return Decoded{sink, State.Crc ^ 0xFFFFFFFFu, result};
}

Decoded Inflate(const std::string& input, uint16_t flags) { return Run(InflateEntry, input, flags); }
Decoded DecodeLzma(const std::string& input, uint32_t size, uint16_t flags) {
  Decoded streamed = Run(LzmaEntry, input, flags, size);
  // The same data decoded from memory, as the second thread of the stub
  // decodes them, come out the same.
  std::string sink;
  uint32_t crc = 0xFFFFFFFF;
  FileHandle output = host::CreateMemorySink(&sink);
  DecodeResult result = LzmaFromMemory(reinterpret_cast<const uint8_t*>(input.data()), (uint32_t)input.size(),
                                       size, (flags & FlagLzmaEndMarker) != 0, output, crc);
  CloseFileHandle(output);
  EXPECT_EQ(sink, streamed.out);
  EXPECT_EQ(crc ^ 0xFFFFFFFFu, streamed.crc);
  EXPECT_EQ(result.end, streamed.result.end);
  EXPECT_EQ(result.written, streamed.result.written);
  return streamed;
}
Decoded CopyStored(const std::string& input, uint16_t flags) {
  return Run(CopyStoredEntry, input, flags);
}
Decoded DecodeSolid(const std::string& input, uint32_t size, uint32_t number) {
  State.EntryNumber = number;
  return Run(LzmaEntry, input, 0, size, MethodSolid);
}

// ---- bit streams -------------------------------------------------------------

void BitWriter::Bits(uint32_t value, int n) {
  for (int i = 0; i < n; i++) {
    pending_ |= ((value >> i) & 1u) << count_;
    if (++count_ == 8) {
      bytes_.push_back((char)pending_);
      pending_ = 0;
      count_ = 0;
    }
  }
}

void BitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; i--) Bits((code >> i) & 1u, 1);
}

void BitWriter::AlignToByte() {
  if (count_ > 0) Bits(0, 8 - count_);
}

void BitWriter::Byte(uint8_t b) { Bits(b, 8); }

std::string BitWriter::Finish() {
  AlignToByte();
  return bytes_;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[17] = {0};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[17] = {0};
  uint32_t code = 0;
  for (int bits = 1; bits <= 16; bits++) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); i++)
    if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
  return codes;
}

static const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const int distBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                 33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const int distExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void LengthSymbol(int length, int& symbol, int& extraBits, int& extra) {
  int i = 28;
  while (lengthBase[i] > length) i--;
  if (length == 258) i = 28;
  symbol = 257 + i;
  extraBits = lengthExtra[i];
  extra = length - lengthBase[i];
}

void DistanceSymbol(int distance, int& symbol, int& extraBits, int& extra) {
  int i = 29;
  while (distBase[i] > distance) i--;
  symbol = i;
  extraBits = distExtra[i];
  extra = distance - distBase[i];
}

void StreamBuilder::FixedHeader(bool last) {
  bits.Bits(last ? 1 : 0, 1);
  bits.Bits(1, 2);
}

void StreamBuilder::FixedSymbol(int s) {
  if (s < 144)
    bits.Code(0x30 + s, 8);
  else if (s < 256)
    bits.Code(0x190 + (s - 144), 9);
  else if (s < 280)
    bits.Code(s - 256, 7);
  else
    bits.Code(0xC0 + (s - 280), 8);
}

void StreamBuilder::FixedDistanceSymbol(int symbol) { bits.Code(symbol, 5); }

void StreamBuilder::FixedLiteral(uint8_t c) {
  FixedSymbol(c);
  expected.push_back((char)c);
}

static void AppendMatch(std::string& out, int length, int distance) {
  size_t from = out.size() - distance;
  for (int i = 0; i < length; i++) out.push_back(out[from + i]);
}

void StreamBuilder::FixedMatch(int length, int distance) {
  int symbol, extraBits, extra;
  LengthSymbol(length, symbol, extraBits, extra);
  FixedSymbol(symbol);
  bits.Bits(extra, extraBits);
  DistanceSymbol(distance, symbol, extraBits, extra);
  FixedDistanceSymbol(symbol);
  bits.Bits(extra, extraBits);
  AppendMatch(expected, length, distance);
}

void StreamBuilder::FixedEnd() { FixedSymbol(256); }

void StreamBuilder::Stored(bool last, const std::string& data) {
  bits.Bits(last ? 1 : 0, 1);
  bits.Bits(0, 2);
  bits.AlignToByte();
  bits.Bits((uint32_t)data.size(), 16);
  bits.Bits(~(uint32_t)data.size() & 0xFFFF, 16);
  for (char c : data) bits.Byte((uint8_t)c);
  expected += data;
}

void StreamBuilder::DynamicHeader(bool last, const std::vector<int>& litLengths,
                                  const std::vector<int>& distLengths) {
  bits.Bits(last ? 1 : 0, 1);
  bits.Bits(2, 2);
  bits.Bits((uint32_t)litLengths.size() - 257, 5);
  bits.Bits((uint32_t)distLengths.size() - 1, 5);
  bits.Bits(19 - 4, 4);
  // Code-length code: lengths 0..15 get 4 bits each (code = value), 16..18 none.
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int i = 0; i < 19; i++) bits.Bits(order[i] < 16 ? 4 : 0, 3);
  for (int l : litLengths) bits.Code(l, 4);
  for (int l : distLengths) bits.Code(l, 4);
  litLens = litLengths;
  distLens = distLengths;
  litCodes = CanonicalCodes(litLengths);
  distCodes = CanonicalCodes(distLengths);
}

void StreamBuilder::DynLiteral(uint8_t c) {
  bits.Code(litCodes[c], litLens[c]);
  expected.push_back((char)c);
}

void StreamBuilder::DynMatch(int length, int distance) {
  int symbol, extraBits, extra;
  LengthSymbol(length, symbol, extraBits, extra);
  bits.Code(litCodes[symbol], litLens[symbol]);
  bits.Bits(extra, extraBits);
  DistanceSymbol(distance, symbol, extraBits, extra);
  bits.Code(distCodes[symbol], distLens[symbol]);
  bits.Bits(extra, extraBits);
  AppendMatch(expected, length, distance);
}

void StreamBuilder::DynEnd() { bits.Code(litCodes[256], litLens[256]); }

// ---- zlib as the oracle ----------------------------------------------------------

std::string ZlibDeflate(const std::string& data, int level, int windowBits, int memLevel,
                        int strategy) {
  z_stream z = {};
  if (deflateInit2(&z, level, Z_DEFLATED, -windowBits, memLevel, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = (Bytef*)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = (Bytef*)&out[0];
  z.avail_out = (uInt)out.size();
  int rc = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

uint32_t ZlibCrc(const std::string& data) {
  return (uint32_t)crc32(0, (const Bytef*)data.data(), (uInt)data.size());
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = (char)(rng() & 0xFF);
  return s;
}

void InflateLoops::SetUp() {
  InflateUses = GetParam() == ByteReader ? ByteLoops : GetParam() == NarrowWord ? StubLoops : FastestLoops;
  EnsureCrcTable();
  // The fixed tables live for the run once a fixed block has built them:
  // an empty fixed block builds them here, outside the entries the tests
  // count allocations of.
  Inflate(std::string("\x03\x00", 2));
}

void InflateLoops::TearDown() {
  InflateUses = FastestLoops;
}

std::string LoopName(const ::testing::TestParamInfo<Loop>& info) {
  return info.param == WideWord ? "WideWord" : info.param == NarrowWord ? "NarrowWord" : "ByteReader";
}
