// The table builders: widths, statuses, sub-table shapes and invalid entries
// of the linked tables, and the packed tables against them.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "codec/huffman.h"
#include "codec/packed_table.h"
#include "tests/support/host_double.h"
#include "tests/codec/codec_support.h"

namespace {

// The tables are computed at start-up; every test here reads them.
const bool TablesBuilt = (BuildLengthTables(), true);

struct Built {
  int32_t status = -1;
  int32_t width = 0;
  DecodeEntry* root = nullptr;
  TableChain chain = nullptr;
  ~Built() { FreeDecodeTables(chain); }
};

void Build(Built& b, const std::vector<uint16_t>& lengths, uint16_t s, int32_t width,
           const uint16_t* base = LengthBase, const uint8_t* extra = LengthExtra) {
  b.width = width;
  b.status = BuildDecodeTable(lengths.data(), (uint16_t)lengths.size(), s, base, extra, b.root,
                              b.chain, b.width);
}

std::vector<uint16_t> FixedLitLengths() {
  std::vector<uint16_t> l(288);
  for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// Table widths in the chain, header included: size of each block in entries.
std::map<int, int> SubTableCounts(const Built& b) {
  std::map<int, int> counts;
  // Walk the root's links: every link entry names a distinct sub-table once
  // per pattern it covers; count distinct tables by width.
  std::map<DecodeEntry*, int> seen;
  for (int i = 0; i < (1 << b.width); i++) {
    const DecodeEntry& e = b.root[i];
    if (e.Op > OpLiteral && e.Op != OpInvalid) seen[e.Next] = e.Op - OpLiteral;
  }
  for (auto& kv : seen) counts[1 << kv.second]++;
  return counts;
}

// Decodes one symbol from a code given MSB-first, walking the tables as the
// decoder does.
const DecodeEntry* Lookup(const Built& b, uint32_t code, int length) {
  uint32_t bits = 0;   // bit-reversed code: first bit in bit 0
  for (int i = 0; i < length; i++) bits |= ((code >> (length - 1 - i)) & 1u) << i;
  const DecodeEntry* t = b.root + (bits & LowBits(b.width));
  while (t->Op > OpLiteral && t->Op != OpInvalid) {
    bits >>= t->Bits;
    t = t->Next + (bits & LowBits(t->Op - OpLiteral));
  }
  return t;
}

TEST(HuffmanTables, LengthAndDistanceTablesAreTheFormatsOwn) {
  ASSERT_TRUE(TablesBuilt);
  const uint16_t lengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27, 31,
                                   35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
  const uint8_t lengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
  const uint16_t distBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                 49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0,     0};
  const uint8_t distExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 99, 99};
  for (int i = 0; i < 31; i++) {
    EXPECT_EQ(LengthBase[i], lengthBase[i]) << i;
    EXPECT_EQ(LengthExtra[i], lengthExtra[i]) << i;
  }
  for (int i = 0; i < 32; i++) {
    EXPECT_EQ(DistBase[i], distBase[i]) << i;
    EXPECT_EQ(DistExtra[i], distExtra[i]) << i;
  }
}

TEST(HuffmanTables, FixedLiteralLengthCodeHasSevenBitRootAndNarrowSubTables) {
  Built b;
  Build(b, FixedLitLengths(), 257, 7);
  EXPECT_EQ(b.status, TableBuilt);
  EXPECT_EQ(b.width, 7);
  std::map<int, int> counts = SubTableCounts(b);
  EXPECT_EQ(counts[2], 76);
  EXPECT_EQ(counts[4], 28);
  EXPECT_EQ(counts.size(), 2u);
  int chainLength = 0;
  for (DecodeEntry* t = b.chain; t != nullptr; t = t->Next) chainLength++;
  EXPECT_EQ(chainLength, 1 + 76 + 28);

  // Every symbol decodes through its canonical code with the right Op/Value.
  std::vector<int> lens(288);
  for (int i = 0; i < 288; i++) lens[i] = FixedLitLengths()[i];
  std::vector<uint32_t> codes = CanonicalCodes(lens);
  for (int sym = 0; sym < 288; sym++) {
    const DecodeEntry* e = Lookup(b, codes[sym], lens[sym]);
    if (sym < 256) {
      EXPECT_EQ(e->Op, OpLiteral) << sym;
      EXPECT_EQ(e->Value, sym);
    } else if (sym == 256) {
      EXPECT_EQ(e->Op, OpEndOfBlock);
    } else {
      EXPECT_EQ(e->Op, LengthExtra[sym - 257]) << sym;
      EXPECT_EQ(e->Value, LengthBase[sym - 257]) << sym;
    }
  }
  // 286 and 287 exist in the code but are invalid symbols.
  EXPECT_EQ(Lookup(b, codes[286], 8)->Op, OpInvalid);
  EXPECT_EQ(Lookup(b, codes[287], 8)->Op, OpInvalid);
}

TEST(HuffmanTables, FixedDistanceCodeIsIncompleteWithInvalidSparePatterns) {
  Built b;
  Build(b, std::vector<uint16_t>(30, 5), 0, 5, DistBase, DistExtra);
  EXPECT_EQ(b.status, TableIncomplete);
  EXPECT_EQ(b.width, 5);
  for (int code = 0; code < 30; code++) {
    const DecodeEntry* e = Lookup(b, code, 5);
    EXPECT_EQ(e->Op, DistExtra[code]);
    EXPECT_EQ(e->Value, DistBase[code]);
    EXPECT_EQ(e->Bits, 5);
  }
  EXPECT_EQ(Lookup(b, 30, 5)->Op, OpInvalid);
  EXPECT_EQ(Lookup(b, 31, 5)->Op, OpInvalid);
}

TEST(HuffmanTables, DistanceSymbolsThirtyAndThirtyOneAreInvalidWhenCoded) {
  std::vector<uint16_t> lengths(32, 5);
  Built b;
  Build(b, lengths, 0, 6, DistBase, DistExtra);
  EXPECT_EQ(b.status, TableBuilt);   // complete: 32 codes of 5 bits
  EXPECT_EQ(Lookup(b, 29, 5)->Value, 24577);
  EXPECT_EQ(Lookup(b, 30, 5)->Op, OpInvalid);
  EXPECT_EQ(Lookup(b, 31, 5)->Op, OpInvalid);
}

TEST(HuffmanTables, SingleOneBitCodeBuildsWithTheOtherPatternInvalid) {
  Built b;
  Build(b, {1}, 0, 6, DistBase, DistExtra);
  EXPECT_EQ(b.status, TableBuilt);
  EXPECT_EQ(b.width, 1);
  EXPECT_EQ(b.root[0].Op, 0);
  EXPECT_EQ(b.root[0].Value, 1);
  EXPECT_EQ(b.root[0].Bits, 1);
  EXPECT_EQ(b.root[1].Op, OpInvalid);
}

TEST(HuffmanTables, EmptyAndOverSubscribedCodesAllocateNothing) {
  host::ResetCounters();
  long long live = host::Counters().liveBytes;
  Built empty;
  empty.root = (DecodeEntry*)&empty;   // must be cleared
  Build(empty, std::vector<uint16_t>(19, 0), 19, 7);
  EXPECT_EQ(empty.status, TableBuilt);
  EXPECT_EQ(empty.root, nullptr);
  EXPECT_EQ(empty.width, 0);

  Built over;
  DecodeEntry* marker = (DecodeEntry*)&over;
  over.root = marker;
  Build(over, {1, 1, 1}, 19, 7);
  EXPECT_EQ(over.status, TableOversubscribed);
  EXPECT_EQ(over.root, marker);   // untouched
  over.root = nullptr;
  EXPECT_EQ(host::Counters().peakBytes, live);
}

TEST(HuffmanTables, IncompleteCodeMarksEverySparePatternInvalid) {
  // Symbols 0 and 5 with 2 bits, the rest unused: half the patterns are spare,
  // although zero-length symbols follow the used ones.
  std::vector<uint16_t> lengths(19, 0);
  lengths[0] = 2;
  lengths[5] = 2;
  Built b;
  Build(b, lengths, 19, 7);
  EXPECT_EQ(b.status, TableIncomplete);
  EXPECT_EQ(b.width, 2);
  int invalid = 0;
  for (int i = 0; i < 4; i++) invalid += b.root[i].Op == OpInvalid;
  EXPECT_EQ(invalid, 2);
  EXPECT_EQ(Lookup(b, 0, 2)->Value, 0);
  EXPECT_EQ(Lookup(b, 1, 2)->Value, 5);
}

TEST(HuffmanTables, RequestedWidthIsClampedToTheCodeLengths) {
  // Longest code 3 bits: a request of 9 gives 3.
  Built narrow;
  Build(narrow, {1, 2, 3, 3}, 19, 9);
  EXPECT_EQ(narrow.status, TableBuilt);
  EXPECT_EQ(narrow.width, 3);
  // Shortest code 4 bits: a request of 2 gives 4.
  std::vector<uint16_t> lengths(16, 4);
  Built wide;
  Build(wide, lengths, 19, 2);
  EXPECT_EQ(wide.status, TableBuilt);
  EXPECT_EQ(wide.width, 4);
}

TEST(HuffmanTables, LongCodesDecodeThroughSubTablesAndFreeCompletely) {
  // A skewed complete code with lengths 1..15 (and two of 15).
  std::vector<int> lens;
  for (int l = 1; l <= 15; l++) lens.push_back(l);
  lens.push_back(15);
  std::vector<uint16_t> lengths(lens.begin(), lens.end());
  host::ResetCounters();
  long long live = host::Counters().liveBytes;
  {
    Built b;
    Build(b, lengths, 19, 7);
    EXPECT_EQ(b.status, TableBuilt);
    EXPECT_EQ(b.width, 7);
    std::vector<uint32_t> codes = CanonicalCodes(lens);
    for (size_t sym = 0; sym < lens.size(); sym++) {
      const DecodeEntry* e = Lookup(b, codes[sym], lens[sym]);
      EXPECT_EQ(e->Op, OpLiteral);
      EXPECT_EQ(e->Value, sym);
    }
    EXPECT_GT(host::Counters().liveBytes, live + 128 * 8);
  }
  EXPECT_EQ(host::Counters().liveBytes, live);
}

// What a table gives for a 15-bit pattern: kind (0 length/distance,
// 1 literal, 2 end of block, 3 invalid), value and the code's bits.
struct Decoded {
  int kind, value, bits;
  bool operator==(const Decoded& o) const {
    return kind == o.kind && (kind == 3 || (value == o.value && bits == o.bits));
  }
};

Decoded LinkedDecode(const Built& b, uint32_t pattern) {
  const DecodeEntry* t = b.root + (pattern & LowBits(b.width));
  int used = 0;
  while (t->Op > OpLiteral && t->Op != OpInvalid) {
    used += t->Bits;
    t = t->Next + ((pattern >> used) & LowBits(t->Op - OpLiteral));
  }
  int kind = t->Op == OpInvalid ? 3 : t->Op == OpLiteral ? 1 : t->Op == OpEndOfBlock ? 2 : 0;
  return {kind, t->Value, used + t->Bits};
}

Decoded PackedDecode(const std::vector<PackedEntry>& table, uint32_t width, uint32_t pattern) {
  PackedEntry e = table[pattern & ((1u << width) - 1)];
  uint32_t used = 0;
  if (e & PackedLink) {
    used = PackedDrop(e);
    e = table[PackedValue(e) + ((pattern >> used) & ((1u << PackedCodeBits(e)) - 1))];
  }
  int kind = e & PackedInvalid ? 3 : e & PackedLiteral ? 1 : e & PackedEnd ? 2 : 0;
  return {kind, (int)PackedValue(e), (int)(used + PackedCodeBits(e))};
}

TEST(PackedTables, DecodeEveryPatternAsTheLinkedTablesDo) {
  // Random codes grown by splitting leaves (complete), then some with a code
  // taken away (incomplete) or added (over-subscribed); literal/length and
  // distance alphabets, the extra bits of lengths and distances included.
  std::mt19937 rng(7);
  std::vector<PackedEntry> table;
  int statuses[3] = {0, 0, 0};
  for (int round = 0; round < 120; round++) {
    const bool lit = round % 2 == 0;
    const uint32_t n = lit ? 288 : 32;
    std::vector<int> leaves = {0};
    uint32_t want = 1 + rng() % n;
    while (leaves.size() < want) {
      size_t i = rng() % leaves.size();
      if (leaves[i] == 15) break;
      leaves[i]++;
      leaves.push_back(leaves[i]);
    }
    std::vector<uint16_t> lengths(n, 0);
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; i++) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t i = 0; i < leaves.size(); i++) lengths[order[i]] = (uint16_t)leaves[i];
    if (round % 5 == 3) lengths[order[0]] = 0;
    if (round % 5 == 4) lengths[order[n - 1]] = (uint16_t)(1 + rng() % 15);

    Built linked;
    Build(linked, lengths, lit ? 257 : 0, lit ? 10 : 8, lit ? LengthBase : DistBase,
          lit ? LengthExtra : DistExtra);
    table.assign(lit ? PackedLitEntries : PackedDistEntries, 0xA5A5A5A5);
    uint32_t width = lit ? PackedLitRootWidth : PackedDistRootWidth;
    int32_t status = BuildPackedTable(lengths.data(), n, lit ? 257 : 0, lit ? LengthBase : DistBase,
                                      lit ? LengthExtra : DistExtra, table.data(),
                                      (uint32_t)table.size(), width);
    ASSERT_EQ(status, linked.status) << round;
    statuses[status]++;
    if (status == TableOversubscribed || linked.root == nullptr) continue;
    for (uint32_t pattern = 0; pattern < (1u << 15); pattern++)
      ASSERT_TRUE(LinkedDecode(linked, pattern) == PackedDecode(table, width, pattern))
          << "round " << round << " pattern " << pattern;
  }
  EXPECT_GT(statuses[TableBuilt], 40);
  EXPECT_GT(statuses[TableIncomplete], 5);
  EXPECT_GT(statuses[TableOversubscribed], 5);
}

}  // namespace
