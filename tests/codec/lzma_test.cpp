// The LZMA decoder against liblzma: streams liblzma encodes decode to the
// same bytes; cut, altered and unservable entries end without producing more
// than their size, and whatever liblzma accepts decodes as liblzma decodes it.
#include <gtest/gtest.h>
#include <lzma.h>

#include <string>
#include <vector>

#include "base/entry.h"
#include "codec/lzma.h"
#include "tests/codec/codec_support.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

struct Settings {
  uint32_t lc = 3, lp = 0, pb = 2;
  uint32_t dictionary = 1 << 16;
  bool marker = false;
  uint32_t preset = 6;
};

lzma_options_lzma Options(const Settings& s, uint64_t size) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, s.preset);
  options.lc = s.lc;
  options.lp = s.lp;
  options.pb = s.pb;
  options.dict_size = s.dictionary;
  options.ext_flags = s.marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_set_ext_size(options, size);
  return options;
}

// An entry's data: the 9-byte header, then the stream liblzma writes.
std::string Encode(const std::string& data, const Settings& s) {
  lzma_options_lzma options = Options(s, data.size());
  return testpkg::Lzma(data, &options);
}

// liblzma's reading of an entry, with the size known and the end marker
// allowed as the flag says; false unless it decodes the size and uses every byte.
bool OracleDecode(const std::string& entry, uint32_t size, const Settings& s, std::string& out) {
  if (entry.size() < LzmaHeaderSize || entry[2] != 5 || (uint8_t)entry[4] >= 225) return false;
  lzma_options_lzma options = Options(s, size);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  out.assign(size, '\0');
  size_t inPos = LzmaHeaderSize, outPos = 0;
  lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, (const uint8_t*)entry.data(), &inPos,
                                        entry.size(), (uint8_t*)out.data(), &outPos, out.size());
  return ret == LZMA_OK && inPos == entry.size() && outPos == size;
}

std::string Sample(size_t n, unsigned seed) {
  // Text-like runs, random stretches and far repeats, so that literals,
  // matched literals, new matches and every kind of repeat occur.
  std::string words[] = {"window ", "range ", "literal ", "match ", "state\n", "rep0 "};
  std::string s, random = RandomBytes(n / 4 + 1, seed);
  unsigned x = seed;
  while (s.size() < n) {
    x = x * 1103515245 + 12345;
    switch ((x >> 16) % 4) {
      case 0: s += words[(x >> 8) % 6]; break;
      case 1: s += random.substr((x >> 4) % random.size(), 40); break;
      case 2: if (s.size() > 3000) s += s.substr(s.size() - 3000 + (x >> 20) % 2000, 300); break;
      default: s.append((x >> 10) % 30, (char)(x >> 24));
    }
  }
  s.resize(n);
  return s;
}

void ExpectDecodes(const std::string& data, const Settings& s, const std::string& what) {
  std::string entry = Encode(data, s);
  host::ResetCounters();
  long long before = host::Counters().liveBytes;
  Decoded d = DecodeLzma(entry, (uint32_t)data.size(), s.marker ? FlagLzmaEndMarker : 0);
  ASSERT_EQ(d.result.end, DecodeDone) << what;
  ASSERT_EQ(d.result.written, data.size()) << what;
  ASSERT_TRUE(d.out == data) << what;
  ASSERT_EQ(d.crc, ZlibCrc(data)) << what;
  ASSERT_EQ(host::Counters().liveBytes, before) << what;
}

TEST(LzmaDecoder, EveryPropertyLiblzmaWritesWithAndWithoutTheEndMarker) {
  EnsureCrcTable();
  std::string data = Sample(30000, 1);
  for (uint32_t lc = 0; lc <= 4; lc++)
    for (uint32_t lp = 0; lc + lp <= 4; lp++)
      for (uint32_t pb = 0; pb <= 4; pb++)
        for (bool marker : {false, true}) {
          Settings s;
          s.lc = lc, s.lp = lp, s.pb = pb, s.marker = marker, s.preset = 1;
          ExpectDecodes(data, s, "lc " + std::to_string(lc) + " lp " + std::to_string(lp) +
                                     " pb " + std::to_string(pb) + (marker ? " marker" : ""));
        }
}

TEST(LzmaDecoder, SizesAroundTheWindowThePortionAndTheRangeCoder) {
  EnsureCrcTable();
  // The window is the larger of 64 KiB and the dictionary, at most the
  // entry; input comes in 32 KiB portions. Random data (stored almost as it
  // is) puts portion ends everywhere in the stream.
  struct Case {
    const char* kind;
    size_t size;
    uint32_t dictionary;
  } cases[] = {
      {"sample", 0, 4096},          {"sample", 1, 4096},        {"sample", 2, 4096},
      {"sample", 5, 1 << 20},       {"sample", 65535, 4096},    {"sample", 65536, 4096},
      {"sample", 65537, 4096},      {"sample", 300001, 4096},   {"sample", 300001, 1 << 17},
      {"sample", 200000, 1 << 24},  {"random", 32760, 4096},    {"random", 32768, 4096},
      {"random", 98310, 1 << 16},   {"zeros", 1000000, 4096},   {"zeros", 1 << 17, 1 << 16},
  };
  for (const Case& c : cases)
    for (bool marker : {false, true}) {
      std::string kind = c.kind;
      std::string data = kind == "random" ? RandomBytes(c.size, 7)
                         : kind == "zeros" ? std::string(c.size, '\0')
                                           : Sample(c.size, 3);
      Settings s;
      s.dictionary = c.dictionary, s.marker = marker;
      ExpectDecodes(data, s, kind + " " + std::to_string(c.size) + " dictionary " +
                                 std::to_string(c.dictionary) + (marker ? " marker" : ""));
    }
}

// Every alteration of one fixture: the decoder never writes more than the
// entry's size, never leaks, ends as liblzma judges the stream, and where
// liblzma decodes it, decodes the same bytes.
TEST(LzmaDecoder, DamagedCutAndUnservableEntries) {
  EnsureCrcTable();
  std::string data = Sample(70000, 5);
  for (bool marker : {false, true}) {
    Settings s;
    s.marker = marker;
    const std::string entry = Encode(data, s);
    const uint16_t flags = marker ? FlagLzmaEndMarker : 0;
    const uint32_t size = (uint32_t)data.size();
    auto check = [&](const std::string& altered, uint32_t declared, const std::string& what,
                     bool servable = true) {
      host::ResetCounters();
      long long before = host::Counters().liveBytes;
      Decoded d = DecodeLzma(altered, declared, flags);
      std::string expected;
      bool valid = servable && OracleDecode(altered, declared, s, expected);
      EXPECT_LE(d.out.size(), declared) << what;
      EXPECT_EQ(d.result.written, d.out.size()) << what;
      EXPECT_EQ(host::Counters().liveBytes, before) << what;
      if (valid)
        EXPECT_TRUE(d.result.end == DecodeDone && d.out == expected) << what;
      else
        EXPECT_TRUE(d.result.end != DecodeDone || d.out.size() != declared) << what;
      return d;
    };
    std::string tag = marker ? " (marker)" : "";
    for (size_t cut = 0; cut < entry.size(); cut += 1 + cut / 3)
      EXPECT_NE(check(entry.substr(0, cut), size, "cut at " + std::to_string(cut) + tag).result.end,
                DecodeDone);
    for (size_t at = LzmaHeaderSize; at < entry.size(); at += 97) {
      std::string flipped = entry;
      flipped[at] ^= (char)(1 << (at % 8));
      check(flipped, size, "flip at " + std::to_string(at) + tag);
    }
    EXPECT_EQ(check(entry + "x", size, "a byte too many" + tag).result.end, DecodeDamaged);
    EXPECT_EQ(check(entry, size - 1, "declared one byte short" + tag).result.end, DecodeDamaged);
    check(entry, size + 1, "declared one byte long" + tag);
    std::string nonzero = entry;
    nonzero[LzmaHeaderSize] = 1;
    EXPECT_EQ(check(nonzero, size, "first range byte not 0" + tag).result.end, DecodeDamaged);

    std::string badProperties = entry, badSize = entry;
    badProperties[4] = (char)225;
    badSize[2] = 6;
    for (const std::string& unsupported : {badProperties, badSize}) {
      Decoded d = check(unsupported, size, "unsupported properties" + tag);
      EXPECT_EQ(d.result.end, DecodeUnsupported);
      EXPECT_EQ(d.out.size(), 0u);
    }
    host::SetAllocationLimit(1 << 15);
    Decoded d = check(entry, size, "window refused" + tag, false);
    host::SetAllocationLimit(SIZE_MAX);
    EXPECT_EQ(d.result.end, DecodeOutOfMemory);
    EXPECT_EQ(d.out.size(), 0u);
  }
}

}  // namespace
