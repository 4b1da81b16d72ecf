// Hand-written deflate streams: the edge cases of the block formats, and the
// damaged streams that must end the entry at once without unbounded output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/state.h"
#include "codec/inflate.h"
#include "tests/support/host_double.h"
#include "tests/codec/codec_support.h"

namespace {

class InflateEdges : public InflateLoops {
 protected:
  void SetUp() override {
    InflateLoops::SetUp();
    host::ResetCounters();
  }
  Decoded Run(StreamBuilder& s) {
    std::string input = s.Finish();
    host::ResetCounters();
    long long before = host::Counters().liveBytes;
    Decoded d = Inflate(input);
    EXPECT_EQ(host::Counters().liveBytes, before) << "every allocation of the entry is released";
    return d;
  }
  // Expects the decoded output to be exactly what the builder wrote, CRC included.
  void ExpectExact(StreamBuilder& s) {
    Decoded d = Run(s);
    EXPECT_EQ(d.out.size(), s.expected.size());
    EXPECT_TRUE(d.out == s.expected);
    EXPECT_EQ(d.crc, ZlibCrc(s.expected));
  }
};

TEST_P(InflateEdges, EndOfBlockAloneWritesNothingAndKeepsTheCrc) {
  StreamBuilder s;
  s.FixedHeader(true);
  s.FixedEnd();
  Decoded d = Run(s);
  EXPECT_EQ(d.out, "");
  EXPECT_EQ(d.crc, 0u);
  EXPECT_EQ(host::Counters().writes, 0);
  EXPECT_EQ(host::Counters().reads, 1);
}

TEST_P(InflateEdges, NoInputDecodesNothingAndReadsNothing) {
  host::ResetCounters();
  Decoded d = Inflate("");
  EXPECT_EQ(d.out, "");
  EXPECT_EQ(d.crc, 0u);
  EXPECT_EQ(host::Counters().reads, 0);
  EXPECT_EQ(host::Counters().writes, 0);
}

TEST_P(InflateEdges, StoredBlocksStartAtByteBoundariesAndMayBeEmpty) {
  StreamBuilder s;
  s.FixedHeader(false);
  s.FixedLiteral('x');
  s.FixedEnd();                // leaves the stream off a byte boundary
  s.Stored(false, "");         // LEN = 0
  s.Stored(false, "hello");
  s.FixedHeader(false);
  s.FixedMatch(5, 5);
  s.FixedEnd();
  s.Stored(true, "");
  ExpectExact(s);
  EXPECT_EQ(s.expected, "xhellohello");
}

TEST_P(InflateEdges, StoredBlockWithWrongNlenStopsTheEntry) {
  StreamBuilder s;
  s.Stored(false, "good");
  s.bits.Bits(1, 1);
  s.bits.Bits(0, 2);
  s.bits.AlignToByte();
  s.bits.Bits(3, 16);
  s.bits.Bits(0x1234, 16);   // not the complement of 3
  s.bits.Bits('b', 8);
  s.bits.Bits('a', 8);
  s.bits.Bits('d', 8);
  Decoded d = Run(s);
  EXPECT_EQ(d.out, "good");
}

TEST_P(InflateEdges, LongestMatchAtDistanceOneRepeatsThePreviousByte) {
  StreamBuilder s;
  s.FixedHeader(true);
  s.FixedLiteral('z');
  s.FixedMatch(258, 1);
  s.FixedMatch(258, 1);
  s.FixedLiteral('y');
  s.FixedMatch(3, 2);
  s.FixedEnd();
  ExpectExact(s);
  EXPECT_EQ(s.expected, std::string(517, 'z') + "yzyz");
}

TEST_P(InflateEdges, MatchesAcrossTheWindowEndAreSplitCorrectly) {
  // The destination crosses window position 32768.
  StreamBuilder s;
  s.Stored(false, RandomBytes(32760, 1));
  s.FixedHeader(false);
  s.FixedMatch(100, 1000);     // 32760..32859: split at 32768
  s.FixedMatch(258, 32768);    // the whole window back: source = destination slot
  s.FixedEnd();
  // Now at 33118 (window position 350): a source in the previous cycle that
  // runs over its end (32768 - 30 = source position 32700, crossing 32768).
  s.FixedHeader(false);
  s.FixedMatch(200, 350 + 68);
  s.FixedMatch(10, 7);         // overlapping, near the start
  s.FixedEnd();
  s.Stored(true, RandomBytes(40000, 2));
  ExpectExact(s);
  // Full windows only, then the rest.
  for (size_t i = 0; i + 1 < host::Counters().writeSizes.size(); i++) EXPECT_EQ(host::Counters().writeSizes[i], 32768u);
}

TEST_P(InflateEdges, OutputOfExactlyOneWindowIsWrittenOnce) {
  StreamBuilder s;
  s.Stored(false, RandomBytes(32767, 3));
  s.FixedHeader(true);
  s.FixedLiteral('!');
  s.FixedEnd();
  ExpectExact(s);
  ASSERT_EQ(host::Counters().writes, 1);
  EXPECT_EQ(host::Counters().writeSizes[0], 32768u);
}

TEST_P(InflateEdges, DynamicBlockWithASingleOneBitDistanceCode) {
  std::vector<int> lit(258, 0);
  lit['A'] = 2;
  lit[256] = 2;
  lit[257] = 1;   // length 3
  StreamBuilder s;
  s.DynamicHeader(true, lit, {1});
  s.DynLiteral('A');
  s.DynMatch(3, 1);
  s.DynMatch(3, 1);
  s.DynEnd();
  ExpectExact(s);
  EXPECT_EQ(s.expected, "AAAAAAA");
}

// Writes a dynamic header whose code lengths use the repeat codes, with a
// code-length code of four 2-bit codes for 16, 18, 1 and 2.
void RepeatHeader(BitWriter& b, bool repeatPastEnd) {
  b.Bits(1, 1);
  b.Bits(2, 2);
  b.Bits(258 - 257, 5);
  b.Bits(0, 5);          // one distance code
  b.Bits(18 - 4, 4);     // code-length lengths up to order position 17 (symbol 1)
  // order: 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1
  const int order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (int sym : order) b.Bits(sym == 16 || sym == 18 || sym == 1 || sym == 2 ? 2 : 0, 3);
  // Canonical 2-bit codes by symbol: 1 -> 00, 2 -> 01, 16 -> 10, 18 -> 11.
  auto one = [&] { b.Code(0, 2); };
  auto two = [&] { b.Code(1, 2); };
  auto rep16 = [&](int n) { b.Code(2, 2); b.Bits(n - 3, 2); };
  auto rep18 = [&](int n) { b.Code(3, 2); b.Bits(n - 11, 7); };
  rep16(3);         // at the very start: three zeros (symbols 0..2)
  rep18(62);        // 3..64
  one();            // 'A' = 65
  rep18(138);       // 66..203
  rep18(52);        // 204..255
  two();            // 256
  two();            // 257
  if (repeatPastEnd) {
    rep16(3);       // one distance length expected, three given
    return;
  }
  one();            // distance symbol 0
}

TEST_P(InflateEdges, RepeatAtTheVeryStartRepeatsZero) {
  BitWriter b;
  RepeatHeader(b, false);
  // 'A' = 0, end = 10, length 3 = 11, distance 0 = 0 (one bit).
  b.Code(0, 1);
  b.Code(3, 2);
  b.Code(0, 1);
  b.Code(2, 2);
  StreamBuilder s;
  s.bits = b;
  Decoded d = Run(s);
  EXPECT_EQ(d.out, "AAAA");
}

TEST_P(InflateEdges, RepeatRunningPastTheLengthsStopsTheEntry) {
  BitWriter b;
  RepeatHeader(b, true);
  for (int i = 0; i < 8; i++) b.Byte(0);
  StreamBuilder s;
  s.bits = b;
  host::ResetCounters();
  Decoded d = Run(s);
  EXPECT_EQ(d.out, "");
  EXPECT_EQ(host::Counters().writes, 0);
}

TEST_P(InflateEdges, DamagedCodesStopTheEntryAtOnce) {
  struct Case {
    const char* what;
    std::vector<int> lit, dist;
    bool useLength;
  };
  std::vector<int> base(258, 0);
  base['A'] = 2;
  base[256] = 2;
  base[257] = 1;
  std::vector<Case> cases;
  {
    Case c{"over-subscribed literal/length code", base, {1}, false};
    c.lit['B'] = 1;
    cases.push_back(c);
  }
  {
    Case c{"incomplete literal/length code", base, {1}, false};
    c.lit[257] = 2;
    cases.push_back(c);
  }
  cases.push_back(Case{"over-subscribed distance code", base, {1, 1, 1}, false});
  cases.push_back(Case{"length with no distance code", base, {0}, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StreamBuilder s;
    s.Stored(false, "before");
    s.DynamicHeader(true, c.lit, c.dist);
    s.bits.Code(s.litCodes['A'], s.litLens['A']);
    if (c.useLength) s.bits.Code(s.litCodes[257], s.litLens[257]);
    s.bits.Code(0, 8);
    Decoded d = Run(s);
    if (c.useLength)
      EXPECT_EQ(d.out, "beforeA");
    else
      EXPECT_EQ(d.out, "before");
  }
  // A block of literals needs no distance code at all.
  StreamBuilder s;
  s.DynamicHeader(true, base, {0});
  s.DynLiteral('A');
  s.DynLiteral('A');
  s.DynEnd();
  ExpectExact(s);
}

TEST_P(InflateEdges, InvalidSymbolsAndDistancesStopTheEntry) {
  struct Case {
    const char* what;
    int symbol, distanceSymbol;
  };
  const Case cases[] = {{"length symbol 286", 286, 0},
                        {"length symbol 287", 287, 0},
                        {"distance symbol 30", 257, 30},
                        {"distance symbol 31", 257, 31},
                        {"distance before the first byte", 257, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StreamBuilder s;
    s.FixedHeader(true);
    s.FixedLiteral('a');
    s.FixedSymbol(c.symbol);
    s.FixedDistanceSymbol(c.distanceSymbol);   // symbol 2 = distance 3 > 1 byte written
    s.FixedLiteral('b');
    s.FixedEnd();
    for (int i = 0; i < 4; i++) s.bits.Byte(0);
    Decoded d = Run(s);
    EXPECT_EQ(d.out, "a");
  }
}

TEST_P(InflateEdges, ExhaustedInputStopsTheEntryWithBoundedOutput) {
  // In a fixed block, 1-bits decode as literal 0xFF: 9 bits per byte written.
  StreamBuilder s;
  s.FixedHeader(false);
  for (int i = 0; i < 1000; i++) s.bits.Byte(0xFF);
  Decoded d = Run(s);
  EXPECT_LE(d.out.size(), 1000u * 8 / 9 + 1);
  EXPECT_GE(d.out.size(), 1000u * 8 / 9 - 1);
  // (the last code may take zero bits of the final byte's padding)
  EXPECT_TRUE(d.out.substr(0, d.out.size() - 1) == std::string(d.out.size() - 1, '\xFF'));
  // A stream cut in the middle gives a prefix of its output.
  StreamBuilder whole;
  whole.FixedHeader(true);
  for (int i = 0; i < 3000; i++) whole.FixedLiteral((uint8_t)("abcdefgh"[i % 8] + i / 700));
  whole.FixedEnd();
  std::string input = whole.Finish();
  for (size_t cut : {size_t(0), size_t(1), size_t(17), input.size() / 2, input.size() - 1}) {
    Decoded part = Inflate(input.substr(0, cut));
    EXPECT_LE(part.out.size(), whole.expected.size());
    EXPECT_TRUE(part.out == whole.expected.substr(0, part.out.size())) << cut;
    if (cut <= input.size() / 2) {
      EXPECT_LT(part.out.size(), whole.expected.size() * 2 / 3);
    }
  }
}

TEST_P(InflateEdges, ReservedBlockTypeDecodesNothing) {
  StreamBuilder s;
  s.bits.Bits(0, 1);
  s.bits.Bits(3, 2);   // type 3, not last: the next header follows at once
  s.FixedHeader(true);
  s.FixedLiteral('q');
  s.FixedEnd();
  ExpectExact(s);
}

TEST_P(InflateEdges, FixedTablesServeSeveralBlocksAndEntries) {
  StreamBuilder s;
  for (int block = 0; block < 5; block++) {
    s.FixedHeader(block == 4);
    for (int i = 0; i < 50; i++) s.FixedLiteral((uint8_t)(i * 37 + block));
    s.FixedMatch(40, 50);
    s.FixedEnd();
  }
  ExpectExact(s);
  StreamBuilder again;
  again.FixedHeader(true);
  again.FixedLiteral('1');
  again.FixedEnd();
  ExpectExact(again);
}

// The end of a run frees the fixed tables; a later fixed block builds them
// afresh and nothing of the freed ones is reached.
TEST_P(InflateEdges, FixedTablesAreBuiltAgainOnceFreed) {
  StreamBuilder s;
  s.FixedHeader(true);
  for (int i = 0; i < 20; i++) s.FixedLiteral((uint8_t)('a' + i));
  s.FixedMatch(10, 5);
  s.FixedEnd();
  std::string input = s.Finish();
  for (int run = 0; run < 2; run++) {
    FreeFixedTables();
    Decoded d = Inflate(input);
    EXPECT_EQ(d.result.end, DecodeDone) << run;
    EXPECT_TRUE(d.out == s.expected) << run;
    EXPECT_EQ(d.crc, ZlibCrc(s.expected)) << run;
  }
}

TEST_P(InflateEdges, InputLargerThanOneChunkIsReadInChunks) {
  std::string data = RandomBytes(70000, 9);
  StreamBuilder s;
  s.Stored(false, data.substr(0, 32768));
  s.Stored(true, data.substr(32768));
  std::string input = s.Finish();
  host::ResetCounters();
  Decoded d = Inflate(input);
  EXPECT_TRUE(d.out == data);
  EXPECT_EQ(host::Counters().reads, 3);   // 32768 + 32768 + the rest
  StreamBuilder small;
  small.Stored(true, data.substr(0, 32768 - 5));
  input = small.Finish();
  ASSERT_EQ(input.size(), 32768u);
  host::ResetCounters();
  Inflate(input);
  EXPECT_EQ(host::Counters().reads, 1);
}

INSTANTIATE_TEST_SUITE_P(Loops, InflateEdges, ::testing::Values(WideWord, NarrowWord, ByteReader),
                         LoopName);

}  // namespace
