// Differential tests: streams made by zlib (raw deflate) decode to the same
// bytes and CRC in our decoder, with the word loop and with the byte reader.
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/state.h"
#include "tests/support/host_double.h"
#include "tests/codec/codec_support.h"

namespace {

// Test data with different statistics.
std::string Text(size_t n) {
  static const char* words[] = {"inflate ", "window ", "the ", "of ", "block ", "code\n",
                                "distance ", "length ", "Huffman ", "table, ", "stored. "};
  std::mt19937 rng(1);
  std::string s;
  while (s.size() < n) s += words[rng() % 11];
  s.resize(n);
  return s;
}
std::string Runs(size_t n) {
  std::mt19937 rng(3);
  std::string s;
  while (s.size() < n) s.append(1 + rng() % 600, (char)('a' + rng() % 3));
  s.resize(n);
  return s;
}
// Repeats of a 20000-byte random pattern: matches at distances near 20000
// and 40000-byte runs whose back-references wrap the window.
std::string FarRepeats(size_t n) {
  std::string unit = RandomBytes(20000, 4);
  std::string s;
  while (s.size() < n) s += unit.substr(0, 15000 + s.size() % 5000);
  s.resize(n);
  return s;
}
std::string Mixed(size_t n) {
  std::string s = Text(n / 3) + RandomBytes(n / 3, 5) + Runs(n - 2 * (n / 3));
  return s;
}

class ZlibOracle : public InflateLoops {
 protected:

  void Check(const std::string& data, const std::string& compressed, const std::string& what) {
    host::ResetCounters();
    long long before = host::Counters().liveBytes;
    Decoded d = Inflate(compressed);
    ASSERT_EQ(d.out.size(), data.size()) << what;
    ASSERT_TRUE(d.out == data) << what;
    ASSERT_EQ(d.crc, ZlibCrc(data)) << what;
    ASSERT_EQ(host::Counters().liveBytes, before) << what;
  }
};

TEST_P(ZlibOracle, EveryLevelOnEveryKindOfData) {
  struct Data {
    const char* name;
    std::string bytes;
  };
  std::vector<Data> sets = {{"text", Text(150000)},     {"random", RandomBytes(70000, 2)},
                            {"runs", Runs(120000)},     {"far", FarRepeats(140000)},
                            {"mixed", Mixed(100000)},   {"empty", ""},
                            {"one byte", "x"}};
  for (const Data& d : sets)
    for (int level = 0; level <= 9; level++)
      Check(d.bytes, ZlibDeflate(d.bytes, level),
            std::string(d.name) + " level " + std::to_string(level));
}

TEST_P(ZlibOracle, StrategiesMemoryLevelsAndSmallWindows) {
  std::string data = Mixed(90000) + Text(40000);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (int strategy : strategies)
    for (int level : {1, 6, 9})
      Check(data, ZlibDeflate(data, level, 15, 8, strategy),
            "strategy " + std::to_string(strategy) + " level " + std::to_string(level));
  for (int memLevel : {1, 2, 5, 9})
    Check(data, ZlibDeflate(data, 6, 15, memLevel), "memLevel " + std::to_string(memLevel));
  for (int windowBits = 9; windowBits <= 15; windowBits++)
    Check(data, ZlibDeflate(data, 9, windowBits), "windowBits " + std::to_string(windowBits));
}

TEST_P(ZlibOracle, SizesAroundOneAndTwoWindows) {
  std::string text = Text(70000);
  std::string random = RandomBytes(70000, 6);
  for (size_t base : {size_t(32768), size_t(65536)})
    for (long delta = -2; delta <= 2; delta++) {
      size_t n = base + delta;
      for (int level : {0, 1, 9}) {
        Check(text.substr(0, n), ZlibDeflate(text.substr(0, n), level), "text " + std::to_string(n));
        Check(random.substr(0, n), ZlibDeflate(random.substr(0, n), level),
              "random " + std::to_string(n));
      }
    }
  std::string zeros(65536 + 258, '\0');
  Check(zeros, ZlibDeflate(zeros, 9), "zeros");
  Check(zeros, ZlibDeflate(zeros, 9, 15, 8, Z_RLE), "zeros rle");
}

// Deflates in pieces, switching parameters and flushing between them, so
// that stored, fixed and dynamic blocks follow each other in one stream.
std::string MultiBlock(const std::string& data, unsigned seed) {
  z_stream z = {};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("init");
  std::mt19937 rng(seed);
  std::string out;
  char buffer[65536];
  size_t at = 0;
  auto pump = [&](int flush) {
    do {
      z.next_out = (Bytef*)buffer;
      z.avail_out = sizeof buffer;
      int rc = deflate(&z, flush);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw std::runtime_error("deflate");
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0);
  };
  const int flushes[] = {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  while (at < data.size()) {
    size_t piece = std::min<size_t>(data.size() - at, 1 + rng() % 9000);
    z.next_in = (Bytef*)data.data() + at;
    z.avail_in = (uInt)piece;
    at += piece;
    pump(flushes[rng() % 5]);
    if (rng() % 3 == 0) {
      z.next_out = (Bytef*)buffer;
      z.avail_out = sizeof buffer;
      deflateParams(&z, (int)(rng() % 10), strategies[rng() % 5]);
      out.append(buffer, sizeof buffer - z.avail_out);
    }
  }
  z.avail_in = 0;
  pump(Z_FINISH);
  deflateEnd(&z);
  return out;
}

TEST_P(ZlibOracle, MultiBlockStreamsMixingStoredFixedAndDynamicBlocks) {
  std::string data = Mixed(60000) + FarRepeats(80000) + Text(30000);
  for (unsigned seed = 1; seed <= 12; seed++)
    Check(data, MultiBlock(data, seed), "seed " + std::to_string(seed));
}

TEST_P(ZlibOracle, InputDeliveredAtEveryChunkBoundary) {
  // The byte reader takes over near the end of each 32768-byte input chunk;
  // shift the stream across that boundary.
  std::string data = Text(200000) + Runs(50000);
  for (int level : {1, 9})
    for (size_t pad = 0; pad < 8; pad++) {
      std::string payload = data.substr(pad * 131);
      Check(payload, ZlibDeflate(payload, level), "pad " + std::to_string(pad));
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, ZlibOracle, ::testing::Values(WideWord, NarrowWord, ByteReader),
                         LoopName);

}  // namespace
