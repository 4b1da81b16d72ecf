// Solid entries against liblzma's raw LZMA2 decoder: a block's entries,
// decoded one by one in order, give what liblzma makes of the whole stream
// (every entry boundary, uncompressed chunks, dictionary resets, lc/lp/pb),
// and damage fails its entry and the later entries of its block only.
#include <gtest/gtest.h>
#include <lzma.h>

#include <string>
#include <vector>

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/lzma.h"
#include "tests/codec/codec_support.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

struct Decoding {
  std::string out;
  DecodeResult result;
  uint32_t crc;   // complemented
  bool orphaned;
};

// The entry numbered 'number' in the walk, with 'data' as its stored data.
Decoding Solid(const std::string& data, uint32_t size, uint32_t number) {
  Decoded d = DecodeSolid(data, size, number);
  return Decoding{d.out, d.result, d.crc, SolidEntryOrphaned()};
}

// liblzma's reading of a whole block: its entries' chunks one after another,
// then LZMA2's end byte.
bool Oracle(const std::vector<std::string>& entries, size_t size, std::string& out) {
  std::string stream;
  for (const std::string& e : entries) stream += e.substr(1);
  stream += '\0';
  lzma_filter filter = {LZMA_FILTER_LZMA2, nullptr};
  if (lzma_properties_decode(&filter, nullptr, (const uint8_t*)entries[0].data(), 1) != LZMA_OK) return false;
  lzma_filter filters[] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
  out.assign(size + 1, '\0');
  size_t inPos = 0, outPos = 0;
  lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, (const uint8_t*)stream.data(), &inPos, stream.size(),
                                        (uint8_t*)&out[0], &outPos, out.size());
  free(filter.options);
  out.resize(outPos);
  return ret == LZMA_OK && inPos == stream.size();
}

std::string Text(size_t n, unsigned seed) {
  static const char* words[] = {"block ", "chunk ", "entry ", "window ", "state\n", "dictionary "};
  std::string s;
  unsigned x = seed;
  while (s.size() < n) {
    x = x * 1103515245 + 12345;
    s += words[(x >> 16) % 6];
    if ((x >> 8) % 7 == 0) s += std::to_string(x % 1000);
  }
  s.resize(n);
  return s;
}

lzma_options_lzma Options(uint32_t dictionary, uint32_t lc = 3, uint32_t lp = 0, uint32_t pb = 2) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, 6);
  o.dict_size = dictionary;
  o.lc = lc;
  o.lp = lp;
  o.pb = pb;
  return o;
}

// Decodes 'entries' (numbered from 'first') and expects each to come out as
// its file, and liblzma to read the block as the files one after another.
void ExpectBlock(const std::vector<std::string>& files, const std::vector<std::string>& entries, uint32_t first,
                 const std::string& what) {
  std::string all;
  for (size_t i = 0; i < files.size(); i++) {
    Decoding r = Solid(entries[i], (uint32_t)files[i].size(), first + (uint32_t)i);
    ASSERT_EQ(r.result.end, DecodeDone) << what << ", entry " << i;
    ASSERT_EQ(r.out, files[i]) << what << ", entry " << i;
    EXPECT_EQ(r.result.written, files[i].size());
    EXPECT_EQ(r.crc, testpkg::Crc32(files[i])) << what;
    all += files[i];
  }
  std::string oracle;
  ASSERT_TRUE(Oracle(entries, all.size(), oracle)) << what;
  EXPECT_EQ(oracle, all) << what;
}

TEST(Solid, BlocksDecodeEntryByEntryAsLiblzmaReadsThem) {
  std::string random = RandomBytes(300000, 7);
  struct Case {
    const char* what;
    std::vector<std::string> files;
    lzma_options_lzma options;
  } cases[] = {
      // More than the dictionary in all, so the window wraps within and
      // between entries; an entry of several chunks; empty and one-byte entries.
      {"text, window wraps", {Text(70000, 1), "", "x", Text(5000, 2), Text(2500000, 3), Text(90000, 4), Text(10, 5)},
       Options(1 << 16)},
      // Incompressible data first: an uncompressed chunk resets the
      // dictionary and the next LZMA chunk brings the properties; then an
      // uncompressed chunk amid LZMA ones, followed by a state reset.
      {"uncompressed chunks", {random.substr(0, 4000), Text(20000, 6), random.substr(5000, 70000), Text(30000, 7),
                               random.substr(100000, 100)}, Options(1 << 20)},
      {"lc 0 lp 4 pb 4", {Text(40000, 8), random.substr(0, 300), Text(40000, 9)}, Options(1 << 20, 0, 4, 4)},
      {"lc 4 lp 0 pb 0", {Text(40000, 10), Text(40000, 11)}, Options(1 << 20, 4, 0, 0)},
      {"lc 1 lp 3 pb 1, small dictionary", {Text(100000, 12), Text(100000, 13)}, Options(4096, 1, 3, 1)},
  };
  uint32_t number = 1;
  for (Case& c : cases) {
    std::vector<std::string> entries = testpkg::SolidBlock(c.files, &c.options);
    if (c.files[0].size() == 4000) {
      EXPECT_EQ(entries[0][1], 1) << "an uncompressed chunk resets the dictionary";
    }
    // Each case is a block that follows the one before: its first chunk resets the dictionary.
    ExpectBlock(c.files, entries, number, c.what);
    number += (uint32_t)c.files.size();
  }

  // A dictionary reset inside an entry: the chunks of two blocks in one entry.
  lzma_options_lzma options = Options(1 << 16);
  std::vector<std::string> a = testpkg::SolidBlock({Text(50000, 14)}, &options);
  std::vector<std::string> b = testpkg::SolidBlock({Text(60000, 15), Text(20000, 16)}, &options);
  std::vector<std::string> joined = {a[0] + b[0].substr(1), b[1]};
  ExpectBlock({Text(50000, 14) + Text(60000, 15), Text(20000, 16)}, joined, number, "a reset inside an entry");
}

TEST(Solid, DamageFailsItsEntryAndTheRestOfItsBlockOnly) {
  std::vector<std::string> files;
  for (unsigned i = 0; i < 6; i++) files.push_back(Text(30000 + 1000 * i, 20 + i));
  lzma_options_lzma options = Options(1 << 20);
  std::vector<std::string> block = testpkg::SolidBlock(files, &options);
  std::vector<std::string> next = testpkg::SolidBlock({Text(9000, 30)}, &options);
  struct Damage {
    const char* what;
    size_t entry;
    std::string (*change)(std::string);
  } damages[] = {
      {"a chunk's header", 2, [](std::string d) { d[1] = 0x05; return d; }},
      {"cut short", 3, [](std::string d) { return d.substr(0, d.size() / 2); }},
      {"a byte too many", 0, [](std::string d) { return d + 'x'; }},
      {"the range coder's first byte", 4, [](std::string d) { d[7] = 1; return d; }},
      {"a chunk's packed size", 1, [](std::string d) { d[5] ^= 1; return d; }},
      {"a property byte beyond the format", 0, [](std::string d) { d[0] = 41; return d; }},
  };
  for (const Damage& d : damages) {
    uint32_t number = 100;
    for (size_t i = 0; i < files.size(); i++, number++) {
      Decoding r = Solid(i == d.entry ? d.change(block[i]) : block[i], (uint32_t)files[i].size(), number);
      if (i < d.entry) {
        EXPECT_EQ(r.result.end, DecodeDone) << d.what << ", entry " << i;
      } else if (i == d.entry) {
        EXPECT_NE(r.result.end, DecodeDone) << d.what;
        EXPECT_FALSE(r.orphaned) << d.what;
      } else {
        // Later entries of the block continue a state that is not there.
        EXPECT_EQ(r.result.end, DecodeDamaged) << d.what << ", entry " << i;
        EXPECT_TRUE(r.orphaned) << d.what << ", entry " << i;
        EXPECT_EQ(r.result.written, 0u) << d.what;
      }
    }
    // The next block starts afresh.
    Decoding r = Solid(next[0], 9000, number);
    EXPECT_EQ(r.result.end, DecodeDone) << d.what;
    EXPECT_EQ(r.out, Text(9000, 30)) << d.what;
  }

  // The first entry of a walk continues nothing: chunks that do not reset the
  // dictionary (an LZMA chunk, an uncompressed one) fail it.
  ForgetSolidBlock();
  for (const std::string& data : {block[1], std::string("\x14\x02\x00\x02xyz", 7)}) {
    Decoding orphan = Solid(data, 3, 1);
    EXPECT_EQ(orphan.result.end, DecodeDamaged);
    EXPECT_TRUE(orphan.orphaned);
  }
  // An entry given out of turn (the one before it was never decoded) fails,
  // and so does one that continues nothing.
  Solid(block[0], (uint32_t)files[0].size(), 200);
  Decoding skipped = Solid(block[2], (uint32_t)files[2].size(), 202);
  EXPECT_EQ(skipped.result.end, DecodeDamaged);
  EXPECT_TRUE(skipped.orphaned);
  // A size beyond what the chunks hold, and below it.
  Decoding first = Solid(block[0], (uint32_t)files[0].size() + 1, 300);
  EXPECT_EQ(first.result.end, DecodeDamaged);
  first = Solid(block[0], (uint32_t)files[0].size() - 1, 301);
  EXPECT_EQ(first.result.end, DecodeDamaged);
  EXPECT_LT(first.result.written, files[0].size());
  ForgetSolidBlock();
}

TEST(Solid, AWindowThatCannotBeHadFailsTheBlock) {
  std::vector<std::string> files = {Text(5000, 40), Text(5000, 41)};
  lzma_options_lzma options = Options(1 << 16);
  std::vector<std::string> block = testpkg::SolidBlock(files, &options);
  // A dictionary of 3 GiB, refused as a 32-bit system would.
  block[0][0] = 39;
  host::SetAllocationLimit(1 << 30);
  Decoding r = Solid(block[0], 5000, 1);
  host::SetAllocationLimit(SIZE_MAX);
  EXPECT_EQ(r.result.end, DecodeOutOfMemory);
  r = Solid(block[1], 5000, 2);
  EXPECT_EQ(r.result.end, DecodeDamaged);
  EXPECT_TRUE(r.orphaned);
  ForgetSolidBlock();
}

}  // namespace
