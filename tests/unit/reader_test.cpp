// Reads of the archive file through its block: the bytes are those of the
// file for every sequence of seeks and reads, and small reads near each
// other share one system read.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/state.h"
#include "base/config.h"
#include "base/reader.h"
#include "tests/support/host_double.h"

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    State = ExtractState();
    for (size_t i = 0; i < file_.size(); i++) file_[i] = static_cast<char>(i * 131 + i / 251);
    UseArchiveFile(host::OpenMemoryFile(file_.data(), file_.size()));
    host::ResetCounters();
  }
  void TearDown() override {
    CloseFileHandle(State.ArchiveFile);
    UseArchiveFile(NoFile);
  }
  std::string Read(uint32_t count) {
    std::string bytes(count, '\0');
    bytes.resize(ReadArchive(&bytes[0], count));
    return bytes;
  }

  std::string file_ = std::string(5 * ArchiveBlockSize + 123, '\0');
};

TEST_F(ReaderTest, ReadsWhatTheFileHoldsAfterAnySeek) {
  std::mt19937 random(3);
  uint32_t position = 0;
  const uint32_t sizes[] = {0, 1, 30, 288, ArchiveBlockSize - 1, ArchiveBlockSize, 3 * ArchiveBlockSize};
  for (int step = 0; step < 2000; step++) {
    if (random() % 3 == 0) {
      // Near the last position (often inside the block), anywhere, or past the end.
      uint32_t choice = random() % 3;
      position = choice == 0 ? position - std::min<uint32_t>(position, random() % 300) + random() % 300
                 : choice == 1 ? random() % file_.size()
                               : static_cast<uint32_t>(file_.size() + random() % 10);
      SeekArchive(position, 0);
      ASSERT_EQ(State.LastSeek, position);
    }
    uint32_t count = sizes[random() % 7];
    std::string expected = position < file_.size() ? file_.substr(position, count) : "";
    ASSERT_EQ(Read(count), expected) << "step " << step << " at " << position;
    position += static_cast<uint32_t>(expected.size());
  }
}

TEST_F(ReaderTest, SmallReadsShareABlockAndLargeOnesGoStraightThrough) {
  EXPECT_EQ(Read(10), file_.substr(0, 10));   // before any seek: straight from the file
  EXPECT_EQ(host::Counters().reads, 1);
  SeekArchive(100, 0);
  Read(30), Read(200);
  SeekArchive(110, 0);   // back, still inside the block
  Read(28);
  SeekArchive(5000, 0);  // ahead, inside it
  Read(2000);
  EXPECT_EQ(host::Counters().reads, 2);
  // A large read drains the block and takes the rest from the file; the next
  // one then needs a single read.
  EXPECT_EQ(Read(ArchiveBlockSize), file_.substr(7000, ArchiveBlockSize));
  EXPECT_EQ(Read(ArchiveBlockSize), file_.substr(7000 + ArchiveBlockSize, ArchiveBlockSize));
  EXPECT_EQ(host::Counters().reads, 4);
}

}  // namespace
