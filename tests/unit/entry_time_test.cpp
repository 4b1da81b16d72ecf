// An entry's modification time from its extra field.
#include <gtest/gtest.h>

#include <string>

#include "archive/entry_time.h"

namespace {

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; i++) out += static_cast<char>(value >> (8 * i));
  return out;
}

std::string Field(uint16_t id, const std::string& data) { return Le(id, 2) + Le(data.size(), 2) + data; }

// Extended timestamp: flags, then the times the flags announce.
std::string Unix(uint8_t flags, int64_t seconds) {
  return Field(0x5455, std::string(1, static_cast<char>(flags)) + Le(static_cast<uint32_t>(seconds), 4) +
                           Le(1, 4));
}

// NTFS: reserved, tag 1 with its size, mtime, atime, ctime.
std::string Ntfs(uint64_t mtime, uint16_t tag = 1) {
  return Field(0x000A, Le(0, 4) + Le(tag, 2) + Le(24, 2) + Le(mtime, 8) + Le(2, 8) + Le(3, 8));
}

const uint64_t Epoch = UnixEpochAsFileTime;
const uint64_t Fine = 133500000001234567ULL;    // a FILETIME with 100-ns digits

struct TimeRow {
  const char* what;
  std::string extra;
  uint64_t utc;   // 0: the DOS date and time are used
};

TEST(EntryTime, FromTheExtraField) {
  const std::string other = Field(0x7875, "\x01\x04\xe8\x03\x00\x00\x04\xe8\x03\x00\x00");
  const TimeRow rows[] = {
      {"no extra field", "", 0},
      {"extended timestamp", Unix(3, 1700000000), Epoch + 17000000000000000ULL},
      {"before 1970", Unix(1, -86400), Epoch - 864000000000ULL},
      {"timestamp without mtime", Unix(2, 1700000000), 0},
      {"NTFS", Ntfs(Fine), Fine},
      {"NTFS after the timestamp wins", Unix(1, 1) + Ntfs(Fine), Fine},
      {"NTFS before the timestamp wins", Ntfs(Fine) + Unix(1, 1), Fine},
      {"after another field", other + Unix(1, 0), Epoch},
      {"NTFS with another tag", Ntfs(Fine, 2), 0},
      {"field cut by the end", Unix(1, 5).substr(0, 8), 0},
      {"size beyond the rest", Le(0x5455, 2) + Le(9, 2) + "\x01\x02\x03\x04\x05", 0},
      {"a later field cut short", Unix(1, 0) + Ntfs(Fine).substr(0, 20), Epoch},
      {"timestamp too short", Field(0x5455, "\x01\x02\x03\x04"), 0},
  };
  for (const TimeRow& row : rows) {
    FileStamp stamp = {~0ull, 0, 0};   // every field written
    EntryStamp(reinterpret_cast<const uint8_t*>(row.extra.data()),
               static_cast<uint32_t>(row.extra.size()), 0x5A21, 0x6000, stamp);
    EXPECT_EQ(stamp.Utc, row.utc) << row.what;
    EXPECT_EQ(stamp.DosDate, 0x5A21) << row.what;
    EXPECT_EQ(stamp.DosTime, 0x6000) << row.what;
  }
}

}  // namespace
