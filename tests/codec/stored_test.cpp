// The stored copy: chunking, decryption across chunks, truncated archives.
#include <gtest/gtest.h>

#include <string>

#include "codec/crypt.h"
#include "codec/stored.h"
#include "base/state.h"
#include "base/reader.h"
#include "tests/support/host_double.h"
#include "tests/codec/codec_support.h"

namespace {

TEST(StoredCopy, ChunksOfAtMost32768Bytes) {
  struct Case {
    size_t size;
    int calls;
    uint32_t lastWrite;
  };
  for (Case c : {Case{32768, 1, 32768}, Case{32769, 2, 1}, Case{100, 1, 100},
                 Case{3 * 32768 + 7, 4, 7}}) {
    std::string data = RandomBytes(c.size, (unsigned)c.size);
    EnsureCrcTable();
    host::ResetCounters();
    long long live = host::Counters().liveBytes;
    Decoded d = CopyStored(data);
    EXPECT_TRUE(d.out == data);
    EXPECT_EQ(d.crc, ZlibCrc(data));
    EXPECT_EQ(host::Counters().reads, c.calls);
    EXPECT_EQ(host::Counters().writes, c.calls);
    EXPECT_EQ(host::Counters().writeSizes.back(), c.lastWrite);
    EXPECT_EQ(host::Counters().peakBytes - live, (long long)std::min<size_t>(c.size, 32768) + 2);
    EXPECT_EQ(host::Counters().liveBytes, live);
    EXPECT_EQ(State.CompressedLeft, 0);
  }
}

TEST(StoredCopy, EmptyOrNegativeSizeCopiesNothing) {
  EnsureCrcTable();
  host::ResetCounters();
  long long live = host::Counters().liveBytes;
  Decoded d = CopyStored("");
  EXPECT_EQ(d.out, "");
  EXPECT_EQ(d.crc, 0u);
  EXPECT_EQ(host::Counters().reads + host::Counters().writes, 0);
  EXPECT_EQ(host::Counters().peakBytes, live);
}

TEST(StoredCopy, TruncatedArchiveEndsTheCopy) {
  // CompressedLeft promises more than the file holds: the read that delivers
  // nothing ends the loop.
  EnsureCrcTable();
  std::string data = RandomBytes(40000, 5);
  std::string sink;
  UseArchiveFile(host::OpenMemoryFile(data.data(), data.size()));
  State.OutputFile = host::CreateMemorySink(&sink);
  State.CompressedLeft = 1000000;
  State.CurrentEntry.EntryFlags = 0;
  State.Crc = 0xFFFFFFFF;
  host::ResetCounters();
  long long live = host::Counters().liveBytes;
  CopyStoredEntry(State);
  CloseFileHandle(State.ArchiveFile);
  CloseFileHandle(State.OutputFile);
  EXPECT_TRUE(sink == data);
  EXPECT_EQ(host::Counters().reads, 3);
  EXPECT_EQ(host::Counters().liveBytes, live);
}

TEST(StoredCopy, EncryptedEntryDecryptsAcrossChunks) {
  EnsureCrcTable();
  std::string plain = RandomBytes(80000, 8);
  // Encrypt with the keys the password sets.
  InitKeys("chunky");
  std::string cipher = plain;
  for (auto& c : cipher) {
    uint8_t p = (uint8_t)c;
    c = (char)(p ^ DecryptByte());
    UpdateKeys(p);
  }
  InitKeys("chunky");
  Decoded d = CopyStored(cipher, 1);
  EXPECT_TRUE(d.out == plain);
  EXPECT_EQ(d.crc, ZlibCrc(plain));
}

}  // namespace
