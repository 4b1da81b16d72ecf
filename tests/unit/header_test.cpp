// The configuration header: layout, flag bits, texts, the temporary folder,
// and packages that are short, damaged or have no header.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "base/state.h"
#include "base/config.h"
#include "package/header.h"
#include "base/reader.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

using testpkg::BuildPackage;
using testpkg::PackageOptions;

class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    // Leftovers that the reader's defaults must replace.
    Config.HasFolder = Config.HasCommand = Config.HideOverwrite = true;
    Config.AcceptsSwitches = Config.KeepTimes = true;
    Config.FileListAllowed = Config.OverwriteChecked = false;
    Config.OverwriteControlId = 0;
  }
  void TearDown() override {
    if (State.ArchiveFile != NoFile) CloseFileHandle(State.ArchiveFile);
    UseArchiveFile(NoFile);
  }

  void Read(const std::string& package) {
    TearDown();
    package_ = package;
    UseArchiveFile(host::OpenMemoryFile(package_.data(), package_.size()));
    ReadPackageHeader();
  }

  void ExpectDefaults() {
    EXPECT_EQ(State.ArchiveStart, StubSize);
    EXPECT_TRUE(Config.FileListAllowed);
    EXPECT_FALSE(Config.HideOverwrite);
    EXPECT_EQ(Config.OverwriteControlId, 501);
    EXPECT_TRUE(Config.OverwriteChecked);
    EXPECT_FALSE(Config.HasFolder);
    EXPECT_FALSE(Config.HasCommand);
    EXPECT_STREQ(Config.Message, "");
    EXPECT_STREQ(Config.DefaultFolder, "");
    EXPECT_STREQ(Config.Command, "");
    EXPECT_FALSE(Config.AcceptsSwitches);
    EXPECT_FALSE(Config.KeepTimes);
  }

  testpkg::CoreSession core_;
  std::string package_;
};

TEST_F(HeaderTest, WorkedExample) {
  PackageOptions options;
  options.flags = 0x0D;
  options.message = std::string(90, 'm') + "!";
  options.folder = "C:\\Dest";
  options.command = "start ##\\go";
  std::string package = BuildPackage(options, "PK\x03\x04");
  // The byte positions the format fixes.
  ASSERT_EQ(package.substr(0x7C00, 7), std::string("@TV\x0D\x5B\x07\x0B", 7));
  ASSERT_EQ(package.substr(0x7C62, 7), "C:\\Dest");
  ASSERT_EQ(package[0x7C74], '.');
  ASSERT_EQ(package.substr(0x7D00, 2), "PK");

  Read(package);
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  EXPECT_FALSE(Config.FileListAllowed);
  EXPECT_TRUE(Config.HideOverwrite);
  EXPECT_EQ(Config.OverwriteControlId, 501);
  EXPECT_TRUE(Config.OverwriteChecked);
  EXPECT_TRUE(Config.HasFolder);
  EXPECT_TRUE(Config.HasCommand);
  EXPECT_EQ(std::string(Config.Message), options.message);
  EXPECT_STREQ(Config.DefaultFolder, "C:\\Dest");
  EXPECT_STREQ(Config.Command, "start ##\\go");
  EXPECT_EQ(State.LastSeek, 0x7C00u);  // the only seek the reader makes

  // Written in the code page, held in UTF-8: the folder and the command.
  host::SetLatin1CodePage(true);
  options.folder = "C:\\Caf\xE9";
  options.command = "##r\xE9sum\xE9.txt";
  Read(BuildPackage(options, ""));
  EXPECT_STREQ(Config.DefaultFolder, "C:\\Caf\xC3\xA9");
  EXPECT_STREQ(Config.Command, "##r\xC3\xA9sum\xC3\xA9.txt");
}

struct FlagRow {
  uint8_t flags;
  bool fileListAllowed;
  bool hideOverwrite;
  int controlId;
  bool checked;
  bool switches = false;
  bool keepTimes = false;
};

class HeaderFlagTest : public HeaderTest, public ::testing::WithParamInterface<FlagRow> {};

TEST_P(HeaderFlagTest, FlagByte) {
  const FlagRow& row = GetParam();
  PackageOptions options;
  options.flags = row.flags;
  Read(BuildPackage(options, ""));
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  EXPECT_EQ(Config.FileListAllowed, row.fileListAllowed);
  EXPECT_EQ(Config.HideOverwrite, row.hideOverwrite);
  EXPECT_EQ(Config.OverwriteControlId, row.controlId);
  EXPECT_EQ(Config.OverwriteChecked, row.checked);
  EXPECT_EQ(Config.AcceptsSwitches, row.switches);
  EXPECT_EQ(Config.KeepTimes, row.keepTimes);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, HeaderFlagTest,
    ::testing::Values(FlagRow{0x00, false, false, 502, false},  // bits 3-4 = 00
                      FlagRow{0x01, false, false, 502, false},  // bit 0 ignored
                      FlagRow{0x02, true, false, 502, false},   // file list allowed
                      FlagRow{0x04, false, true, 502, false},   // overwrite box hidden
                      FlagRow{0x08, false, false, 501, true},   // bits 3-4 = 01
                      FlagRow{0x10, false, false, 502, false},  // bits 3-4 = 10
                      FlagRow{0x18, false, false, 502, false},  // bits 3-4 = 11
                      FlagRow{0x0A, true, false, 501, true},
                      FlagRow{0x0E, true, true, 501, true},
                      FlagRow{0x20, false, false, 502, false, true, false},  // switches
                      FlagRow{0x40, false, false, 502, false, false, true},  // file times
                      FlagRow{0x80, false, false, 502, false},               // bit 7 ignored
                      FlagRow{0xEB, true, false, 501, true, true, true},
                      FlagRow{0xFF, true, true, 502, false, true, true}),
    [](const ::testing::TestParamInfo<FlagRow>& info) {
      char name[16];
      snprintf(name, sizeof name, "Flags%02X", info.param.flags);
      return std::string(name);
    });

TEST_F(HeaderTest, NoHeaderKeepsDefaults) {
  PackageOptions options;
  options.message = "hello";
  options.folder = "C:\\x";
  options.flags = 0x04;
  for (const char* magic : {"@tv", "TV@", "@T\0", "XYZ"}) {
    SCOPED_TRACE(magic);
    options.magic = std::string(magic, 3);
    Read(BuildPackage(options, "PK"));
    ExpectDefaults();
  }
  options.header = false;
  Read(BuildPackage(options, "PK\x03\x04"));
  ExpectDefaults();
}

TEST_F(HeaderTest, FileTooShortForMagic) {
  for (size_t extra : {0, 1, 2}) {
    std::string package(StubSize, '\0');
    package += std::string(HeaderMagic).substr(0, extra);
    Read(package);
    ExpectDefaults();
  }
  Read("");
  ExpectDefaults();
}

TEST_F(HeaderTest, FailedSeekMeansNoHeader) {
  UseArchiveFile(NoFile);
  ReadPackageHeader();
  EXPECT_EQ(State.LastSeek, 0xFFFFFFFFu);
  ExpectDefaults();
  UseArchiveFile(NoFile);
}

TEST_F(HeaderTest, ShortReadsAfterTheMagic) {
  std::string base(StubSize, '\0');
  // The file ends right after the magic: missing bytes read as zero.
  Read(base + HeaderMagic);
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  EXPECT_FALSE(Config.FileListAllowed);
  EXPECT_EQ(Config.OverwriteControlId, 502);
  EXPECT_FALSE(Config.OverwriteChecked);
  EXPECT_FALSE(Config.HasFolder);
  EXPECT_FALSE(Config.HasCommand);
  EXPECT_STREQ(Config.Message, "");

  // The file ends inside the message: the text is cut there, the others are empty.
  Read(base + std::string("@TV\x0A\x0A\x05\x05", 7) + "Hello");
  EXPECT_STREQ(Config.Message, "Hello");
  EXPECT_TRUE(Config.HasFolder);
  EXPECT_TRUE(Config.HasCommand);
  EXPECT_STREQ(Config.DefaultFolder, "");
  EXPECT_STREQ(Config.Command, "");

  // The file ends inside the command.
  Read(base + std::string("@TV\x0A\x01\x01\x05", 7) + "MFcm");
  EXPECT_STREQ(Config.Message, "M");
  EXPECT_STREQ(Config.DefaultFolder, "F");
  EXPECT_STREQ(Config.Command, "cm");
}

TEST_F(HeaderTest, AllLengthsZero) {
  Read(BuildPackage(PackageOptions(), ""));
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  EXPECT_FALSE(Config.HasFolder);
  EXPECT_FALSE(Config.HasCommand);
  EXPECT_STREQ(Config.Message, "");
  EXPECT_STREQ(Config.DefaultFolder, "");
  EXPECT_STREQ(Config.Command, "");
}

TEST_F(HeaderTest, TextsBeyondTheHeaderAreReadButTheArchiveStartStays) {
  PackageOptions options;
  options.message = std::string(255, 'a');
  options.folder = std::string(255, 'b');
  options.command = std::string(255, 'c');
  std::string zip(2000, 'z');
  Read(BuildPackage(options, zip));
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  // The header holds 249 bytes of text; the rest comes from the archive.
  EXPECT_EQ(std::string(Config.Message), std::string(249, 'a') + std::string(6, 'z'));
  EXPECT_EQ(std::string(Config.DefaultFolder), std::string(255, 'z'));
  EXPECT_EQ(std::string(Config.Command), std::string(255, 'z'));
}

TEST_F(HeaderTest, TemporaryFolder) {
  PackageOptions options;
  options.folder = "##";
  host::SetTempFolder("C:\\Users\\me\\Temp\\");
  Read(BuildPackage(options, ""));
  EXPECT_TRUE(Config.HasFolder);
  EXPECT_STREQ(Config.DefaultFolder, "C:\\Users\\me\\Temp\\");

  for (const char* kept : {"##x", "x##", "#", "###", "#\\#"}) {
    options.folder = kept;
    Read(BuildPackage(options, ""));
    EXPECT_STREQ(Config.DefaultFolder, kept);
  }

  // A query that fails leaves the folder empty, not "##".
  options.folder = "##";
  host::SetTempFolder("");
  Read(BuildPackage(options, ""));
  EXPECT_TRUE(Config.HasFolder);
  EXPECT_STREQ(Config.DefaultFolder, "");

  // The longest path, 259 characters, and one too long; characters, not
  // bytes: a user's name outside the code page comes in UTF-8 and stays so.
  std::string user = "\xC5\x81ukasz";   // Łukasz
  std::string longest = "C:\\" + user + "\\" + std::string(248, 't') + "\\";
  host::SetTempFolder(longest);
  Read(BuildPackage(options, ""));
  EXPECT_EQ(std::string(Config.DefaultFolder), longest);
  host::SetTempFolder(longest + "u");
  Read(BuildPackage(options, ""));
  EXPECT_STREQ(Config.DefaultFolder, "");
}

// The same package built by the Python helper (used by the end-to-end tests)
// and read from a real file.
TEST_F(HeaderTest, PythonHelperBuildsTheSameHeader) {
  testpkg::TempDir dir;
  testpkg::WriteWholeFile(dir / "a.zip", "PK\x05\x06");
  std::string command = std::string("python3 ") + MKPACKAGE_PY +
                        " --message 'Hi there' --folder '##' --command 'run.exe ##' --flags 0x1C " +
                        dir / "a.zip" + " " + dir / "pkg.exe";
  ASSERT_EQ(testpkg::RunCommand(command), 0);
  PackageOptions options;
  options.message = "Hi there";
  options.folder = "##";
  options.command = "run.exe ##";
  options.flags = 0x1C;
  EXPECT_EQ(testpkg::ReadWholeFile(dir / "pkg.exe"), BuildPackage(options, "PK\x05\x06"));

  ASSERT_EQ(testpkg::RunCommand(std::string("python3 ") + MKPACKAGE_PY + " --no-header " +
                                dir / "a.zip" + " " + dir / "bare.exe"),
            0);
  options.header = false;
  EXPECT_EQ(testpkg::ReadWholeFile(dir / "bare.exe"), BuildPackage(options, "PK\x05\x06"));

  host::SetTempFolder("C:\\T\\");
  UseArchiveFile(OpenReadFile((dir / "pkg.exe").c_str()));
  ASSERT_NE(State.ArchiveFile, NoFile);
  ReadPackageHeader();
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);
  EXPECT_STREQ(Config.Message, "Hi there");
  EXPECT_STREQ(Config.DefaultFolder, "C:\\T\\");
  EXPECT_STREQ(Config.Command, "run.exe ##");
  EXPECT_TRUE(Config.HideOverwrite);
  EXPECT_EQ(Config.OverwriteControlId, 502);
}

}  // namespace
