// The package options through the engine: entries' times on the files
// written, and an unattended run that never prompts for a password.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>

#include "package/switches.h"
#include "tests/engine/engine_fixture.h"

using testpkg::ZipEntry;

namespace {

ZipEntry Entry(const std::string& name, const std::string& data, uint16_t method,
               const std::string& extra = "", const std::string& password = "") {
  ZipEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.extra = extra;
  e.password = password;
  e.date = 0x5A21;   // 2025-01-01
  e.time = 0x6000;   // 12:00:00
  return e;
}

// Extended timestamp with an mtime; NTFS times with mtime, atime, ctime.
std::string UnixTime(uint32_t seconds) {
  std::string field("\x55\x54\x05\x00\x01", 5);
  for (int i = 0; i < 4; i++) field += static_cast<char>(seconds >> (8 * i));
  return field;
}
std::string NtfsTime(uint64_t filetime) {
  std::string field("\x0A\x00\x20\x00\x00\x00\x00\x00\x01\x00\x18\x00", 12);
  for (int i = 0; i < 8; i++) field += static_cast<char>(filetime >> (8 * i));
  return field + std::string(16, '\0');
}

struct timespec ModifiedTime(const std::string& path) {
  struct stat info = {};
  stat(path.c_str(), &info);
  return info.st_mtim;
}

class OptionsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    const char* tz = getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);  // DOS times are local times
    tzset();
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", savedTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
    EngineTest::TearDown();
  }
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(OptionsTest, FilesGetTheirEntriesTimes) {
  const time_t dosTime = 1735732800;  // 2025-01-01 12:00:00 UTC
  std::string big(300000, 'x');       // several writes, the time set after the last
  for (uint8_t keep : {0x4A, 0x0A}) {
    Restart();
    std::filesystem::remove_all(Out(""));   // the folder is made by this run, not found from the last
    flags = keep;
    ZipEntry streamed = Entry("streamed.txt", "descriptor", 8, UnixTime(1000000000));
    streamed.descriptor = true;
    Open(testpkg::BuildZip({Entry("dos.txt", "plain", 0), Entry("unix.txt", big, 8, UnixTime(1600000000)),
                            Entry("ntfs.bin", big, 0, NtfsTime(133500000001234567ULL)),
                            Entry("enc.txt", "secret", 8, UnixTime(1500000000), "pw"), streamed,
                            Entry("folder/", "", 0, UnixTime(1))}));
    host::SetPasswordAnswers({"pw"});
    // "Before" by the clock that stamps files: time() can read a second
    // later than the file system's coarser clock.
    testpkg::WriteWholeFile(root / "before", "");
    time_t before = ModifiedTime(root / "before").tv_sec;
    Extract();
    ExpectMessages({{Success, IconInformation}});
    const std::pair<const char*, struct timespec> expected[] = {
        {"dos.txt", {dosTime, 0}},
        {"unix.txt", {1600000000, 0}},
        {"ntfs.bin", {(133500000001234567LL - UnixEpochAsFileTime) / 10000000, 123456700}},
        {"enc.txt", {1500000000, 0}},
        {"streamed.txt", {1000000000, 0}},
    };
    for (const auto& row : expected) {
      struct timespec got = ModifiedTime(Out(row.first));
      if (keep == 0x4A) {
        EXPECT_EQ(got.tv_sec, row.second.tv_sec) << row.first;
        EXPECT_EQ(got.tv_nsec, row.second.tv_nsec) << row.first;
      } else {
        EXPECT_GE(got.tv_sec, before) << row.first;  // the time of extraction
      }
    }
    EXPECT_GE(ModifiedTime(Out("folder")).tv_sec, before);  // folders keep their creation time
  }
}

TEST_F(OptionsTest, UnattendedRunNeverPrompts) {
  State.Unattended = true;   // what /S gives
  std::vector<ZipEntry> entries = {Entry("a.txt", "a", 8), Entry("s.txt", "s", 8, "", "right")};
  Open(testpkg::BuildZip(entries));
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 0);
  EXPECT_EQ(State.ExtractSucceeded, 0);
  EXPECT_FALSE(std::filesystem::exists(Out("s.txt")));

  strcpy(State.Password, "wrong");
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 0);
  EXPECT_EQ(State.ExtractSucceeded, 0);

  strcpy(State.Password, "right");  // what /P= gives
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 0);
  EXPECT_EQ(State.ExtractSucceeded, 1);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("s.txt")), "s");
}

// The run's log has a line for every entry, in walk order (one decoded on the
// second thread when it is settled), with the reason of each failure, and the
// messages the run shows or, unattended, would show.
TEST_F(OptionsTest, LogNamesWhatBecameOfEachEntry) {
  State.Unattended = true;
  strcpy(State.Password, "wrong");
  std::string big(70000, 'z');
  auto damaged = [](const std::string& name, const std::string& data, uint16_t method, const std::string& stored) {
    ZipEntry e = Entry(name, data, method);
    e.compressed = stored;
    return e;
  };
  std::vector<ZipEntry> entries = {
      Entry("a.txt", "a", MethodStored),
      damaged("b.txt", "b", MethodDeflated, "\xff\xff"),
      damaged("c.txt", "c", MethodStored, "x"),
      damaged("d.txt", "d", MethodStored, "dd"),
      Entry("k.txt", "new", MethodStored),
      Entry("skipped.txt", "s", MethodStored),
      Entry("../up.txt", "u", MethodStored),
      Entry("s.txt", "s", MethodStored, "", "right"),
      Entry("big.bin", big, MethodLzma),
      Entry("u.txt", "u", 77),
  };
  Open(testpkg::BuildZip(entries));
  std::filesystem::create_directories(Out(""));
  testpkg::WriteWholeFile(Out("k.txt"), "old");
  OpenLog("log");
  host::SetThreadOrder(host::ThreadOrder::EndsWhenWaited);
  ListHandle list = GetEntryList(&dialog, IDC_ENTRY_LIST);
  ListSelect(list, -1, true);
  ListSelect(list, ListFind(list, -1, "skipped.txt"), false);
  State.SkipExisting = 1;
  ExtractArchive(&dialog, IDC_ENTRY_LIST);
  host::CloseLog();
  std::vector<std::string> expected = {
      "extracted\ta.txt",
      "failed\tb.txt\tdamaged data",
      "failed\tc.txt\tCRC mismatch",
      "failed\td.txt\twrong size",
      "kept\tk.txt",
      "skipped\tskipped.txt",
      "Invalid filename ../up.txt",
      "failed\t../up.txt\trefused name",
      "failed\ts.txt\twrong password",
      "Unknown compression type",   // which ends the run, without its final message
      "failed\tu.txt\tunsupported method",
      "extracted\tbig.bin",        // settled then
  };
  EXPECT_EQ(host::LogLines(), expected);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("big.bin")), big);
}

}  // namespace
