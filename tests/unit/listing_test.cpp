// The archive walk in listing mode, on archives made by real ZIP writers
// during the test run and on hand-made damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive/walk.h"
#include "base/state.h"
#include "base/config.h"
#include "package/header.h"
#include "base/reader.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

using testpkg::BuildPackage;
using testpkg::BuildZip;
using testpkg::PackageOptions;
using testpkg::ZipEntry;
using Names = std::vector<std::string>;

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
  }
  void TearDown() override {
    if (State.ArchiveFile != NoFile) CloseFileHandle(State.ArchiveFile);
    UseArchiveFile(NoFile);
    host::Reset();
  }

  // Reads the package's header and lists its archive into list 301.
  Names List(const std::string& package) {
    if (State.ArchiveFile != NoFile) CloseFileHandle(State.ArchiveFile);
    package_ = package;
    UseArchiveFile(host::OpenMemoryFile(package_.data(), package_.size()));
    ReadPackageHeader();
    ListArchive(&dialog_, 301);
    return Listed();
  }
  Names ListZip(const std::string& zip) { return List(BuildPackage(PackageOptions(), zip)); }

  Names Listed(int id = 301) {
    Names names;
    for (auto& item : dialog_.lists[id].Items()) names.push_back(item.name);
    return names;
  }
  Names MessageTexts() {
    Names texts;
    for (auto& m : host::Messages()) texts.push_back(m.text);
    return texts;
  }
  void ExpectOnlyMessage(const std::string& text, uint32_t icon) {
    ASSERT_EQ(host::Messages().size(), 1u) << ::testing::PrintToString(MessageTexts());
    EXPECT_EQ(host::Messages()[0].text, text);
    EXPECT_EQ(host::Messages()[0].caption, "Tolvane 4.0 SFX");
    EXPECT_EQ(host::Messages()[0].icon, icon);
  }

  testpkg::CoreSession core_;
  HostDialog dialog_;
  std::string package_;
};

// ---- archives written by real tools -------------------------------------------

class ToolListingTest : public ListingTest {
 protected:
  void SetUp() override {
    ListingTest::SetUp();
    std::filesystem::create_directories(dir_ / "src/docs/deep");
    std::filesystem::create_directories(dir_ / "src/empty");
    testpkg::WriteWholeFile(dir_ / "src/docs/readme.txt", "Read me.\n");
    testpkg::WriteWholeFile(dir_ / "src/docs/deep/Guide.TXT", std::string(5000, 'g'));
    std::string noise;
    for (int i = 0; i < 20000; i++) noise += static_cast<char>((i * 7919) >> 3);
    testpkg::WriteWholeFile(dir_ / "src/data.bin", noise);
    testpkg::WriteWholeFile(dir_ / "src/Top File.TXT", "");
  }
  // Runs a command inside src/ and lists the archive it wrote.
  Names ListMadeBy(const std::string& command, const std::string& zipName) {
    std::string line = "cd '" + dir_ / "src" + "' && " + command + " >/dev/null 2>&1";
    EXPECT_EQ(testpkg::RunCommand(line), 0) << line;
    return ListZip(testpkg::ReadWholeFile(dir_ / zipName));
  }
  const std::string inputs_ = "docs empty data.bin 'Top File.TXT'";
  const Names files_ = {"docs/readme.txt", "docs/deep/Guide.TXT", "data.bin", "Top File.TXT"};
  const Names folders_ = {"docs/", "docs/deep/", "empty/"};
  testpkg::TempDir dir_;
};

TEST_F(ToolListingTest, InfoZipWithFolderEntriesAndExtraFields) {
  Names names = ListMadeBy("zip -qr ../z.zip " + inputs_, "z.zip");
  Names expected = files_;
  expected.insert(expected.end(), folders_.begin(), folders_.end());
  EXPECT_EQ(Sorted(names), Sorted(expected));
  EXPECT_TRUE(host::Messages().empty());
  EXPECT_NE(State.CurrentEntry.ExtraLength, 0);  // Info-ZIP stores time and owner fields
  EXPECT_EQ(host::PasswordPrompts(), 0);
}

TEST_F(ToolListingTest, InfoZipEncryptedFromARealFile) {
  ASSERT_EQ(testpkg::RunCommand("cd '" + dir_ / "src" + "' && zip -q -P secret -r ../e.zip " +
                                inputs_),
            0);
  PackageOptions options;
  options.header = false;
  testpkg::WriteWholeFile(dir_ / "pkg.exe",
                          BuildPackage(options, testpkg::ReadWholeFile(dir_ / "e.zip")));
  UseArchiveFile(OpenReadFile((dir_ / "pkg.exe").c_str()));
  ASSERT_NE(State.ArchiveFile, NoFile);
  ReadPackageHeader();
  EXPECT_EQ(State.ArchiveStart, StubSize);
  ListArchive(&dialog_, 301);
  EXPECT_EQ(Listed().size(), files_.size() + folders_.size());
  EXPECT_EQ(host::PasswordPrompts(), 0);  // the listing reads no entry data
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(ToolListingTest, SevenZip) {
  Names names = ListMadeBy("7z a -tzip -bd ../s.zip " + inputs_, "s.zip");
  Names expected = files_;
  expected.insert(expected.end(), folders_.begin(), folders_.end());
  EXPECT_EQ(Sorted(names), Sorted(expected));
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(ToolListingTest, BsdtarStoredWithSignedDataDescriptors) {
  Names names = ListMadeBy(
      "bsdtar --format zip --options zip:compression=store -cf ../b.zip " + inputs_, "b.zip");
  Names expected = files_;
  expected.insert(expected.end(), folders_.begin(), folders_.end());
  EXPECT_EQ(Sorted(names), Sorted(expected));
  EXPECT_TRUE(host::Messages().empty());
}

// bsdtar's deflated entries state their sizes only in the data descriptor:
// the walk cannot step over their data and ends at the first such entry.
TEST_F(ToolListingTest, BsdtarDeflatedEndsAtTheFirstEntryWithoutSizes) {
  Names names = ListMadeBy("bsdtar --format zip -cf ../d.zip docs/readme.txt docs/deep/Guide.TXT",
                           "d.zip");
  EXPECT_EQ(names, Names{"docs/readme.txt"});
  EXPECT_TRUE(host::Messages().empty());
}

const char* const PythonScript = R"(
import sys, struct, zipfile, warnings
warnings.simplefilter("ignore")
out = sys.argv[1]
with zipfile.ZipFile(out + "/dup.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("dup.txt", "first")
    z.writestr("other.txt", "between")
    z.writestr("dup.txt", "second")
    z.writestr("DUP.TXT", "third")
    z.writestr("caf\u00e9.txt", "utf-8 name")
# An entry followed by a signed data descriptor, its sizes also in the local header.
class Stream:  # an output without seek: zipfile then writes data descriptors
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(out + "/desc.zip", "wb") as raw, zipfile.ZipFile(Stream(raw), "w", zipfile.ZIP_STORED) as z:
    with z.open("with-descriptor.txt", "w") as f:
        f.write(b"data written before its sizes were known")
    z.writestr("after.txt", "after the descriptor")
with open(out + "/desc.zip", "rb") as f:
    plain = f.read()
data = bytearray(plain)
for info in zipfile.ZipFile(out + "/desc.zip").infolist():
    struct.pack_into("<III", data, info.header_offset + 14, info.CRC, info.compress_size, info.file_size)
with open(out + "/desc-sized.zip", "wb") as f:
    f.write(data)
with zipfile.ZipFile(out + "/none.zip", "w") as z:
    pass
)";

class PythonListingTest : public ListingTest {
 protected:
  void SetUp() override {
    ListingTest::SetUp();
    testpkg::WriteWholeFile(dir_ / "make.py", PythonScript);
    ASSERT_EQ(testpkg::RunCommand("python3 '" + dir_ / "make.py" + "' '" + dir_.path() + "'"), 0);
  }
  std::string Zip(const std::string& name) { return testpkg::ReadWholeFile(dir_ / name); }
  testpkg::TempDir dir_;
};

TEST_F(PythonListingTest, DuplicateNamesAreSeparateItems) {
  Names names = ListZip(Zip("dup.zip"));
  EXPECT_EQ(names, (Names{"caf\xC3\xA9.txt", "dup.txt", "dup.txt", "DUP.TXT", "other.txt"}));
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(PythonListingTest, SignedDataDescriptor) {
  EXPECT_EQ(ListZip(Zip("desc-sized.zip")), (Names{"after.txt", "with-descriptor.txt"}));
  EXPECT_TRUE(host::Messages().empty());
  // Sizes only in the descriptor: the walk ends inside the first entry's data.
  EXPECT_EQ(ListZip(Zip("desc.zip")), Names{"with-descriptor.txt"});
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(PythonListingTest, NoEntries) {
  EXPECT_TRUE(ListZip(Zip("none.zip")).empty());
  ExpectOnlyMessage("Cannot read archive header", IconExclamation);
}

// ---- packages and archives made by hand ---------------------------------------

std::vector<ZipEntry> ThreeEntries() {
  std::vector<ZipEntry> entries(3);
  entries[0].name = "one.txt";
  entries[0].data = "first entry";
  entries[1].name = "Two/two.bin";
  entries[1].data = std::string(3000, 't');
  entries[1].method = 8;
  entries[1].extra = std::string("\x55\x54\x05\x00\x01PK\x03\x04", 9);
  entries[2].name = "three";
  entries[2].data = "locked";
  entries[2].password = "pw";
  return entries;
}

TEST_F(ListingTest, PackageWithAndWithoutHeader) {
  std::string zip = BuildZip(ThreeEntries());
  Names expected = {"one.txt", "three", "Two/two.bin"};
  EXPECT_EQ(ListZip(zip), expected);
  EXPECT_EQ(State.ArchiveStart, 0x7D00u);

  PackageOptions bare;
  bare.header = false;
  EXPECT_EQ(List(BuildPackage(bare, zip)), expected);
  EXPECT_EQ(State.ArchiveStart, StubSize);
  EXPECT_TRUE(host::Messages().empty());
  EXPECT_EQ(State.LocalHeaderSignature, 0x04034B50u);
  EXPECT_EQ(State.LastIndex, -1);
}

TEST_F(ListingTest, AWrongMagicLooksForTheArchiveInTheHeader) {
  PackageOptions options;
  options.magic = "@tv";
  EXPECT_TRUE(List(BuildPackage(options, BuildZip(ThreeEntries()))).empty());
  ExpectOnlyMessage("Cannot read archive header", IconExclamation);
}

TEST_F(ListingTest, EachWalkClearsItsListAndRepeatsItsMessage) {
  ListZip(BuildZip(ThreeEntries()));
  ListArchive(&dialog_, 301);
  EXPECT_EQ(Listed().size(), 3u);

  ListZip("not an archive");
  EXPECT_TRUE(Listed().empty());
  ListArchive(&dialog_, 302);
  EXPECT_EQ(MessageTexts(), (Names{"Cannot read archive header", "Cannot read archive header"}));
}

TEST_F(ListingTest, EmptyNameEndsTheRun) {
  std::vector<ZipEntry> entries = ThreeEntries();
  entries.insert(entries.begin() + 1, ZipEntry());  // an entry with no name
  EXPECT_EQ(ListZip(BuildZip(entries)), Names{"one.txt"});
  ExpectOnlyMessage("Invalid filename ", IconHand);

  // The first entry has none: no "Cannot read archive header" after it.
  host::Messages().clear();
  entries.erase(entries.begin());
  EXPECT_TRUE(ListZip(BuildZip(entries)).empty());
  ExpectOnlyMessage("Invalid filename ", IconHand);

  // A name that starts with a zero byte is empty too; one with a zero
  // further on is cut there.
  host::Messages().clear();
  entries = ThreeEntries();
  entries[0].name = std::string("\0abc", 4);
  EXPECT_TRUE(ListZip(BuildZip(entries)).empty());
  ExpectOnlyMessage("Invalid filename ", IconHand);
  host::Messages().clear();
  entries[0].name = std::string("ab\0c", 4);
  EXPECT_EQ(ListZip(BuildZip(entries)), (Names{"ab", "three", "Two/two.bin"}));
}

TEST_F(ListingTest, NamesLongerThanTheNameBufferAreRefused) {
  std::vector<ZipEntry> entries = ThreeEntries();
  entries[1].name = std::string(258, 'n');  // the longest accepted name
  Names names = ListZip(BuildZip(entries));
  EXPECT_EQ(names, (Names{std::string(258, 'n'), "one.txt", "three"}));
  EXPECT_TRUE(host::Messages().empty());

  for (size_t length : {259, 1000, 65535}) {
    host::Messages().clear();
    entries[1].name = std::string(length, 'n');
    EXPECT_EQ(ListZip(BuildZip(entries)), Names{"one.txt"}) << length;
    ExpectOnlyMessage("Invalid filename ", IconHand);
  }
}

TEST_F(ListingTest, SignedDescriptorsAreSkipped) {
  std::vector<ZipEntry> entries = ThreeEntries();
  for (ZipEntry& e : entries) e.descriptor = true;
  EXPECT_EQ(ListZip(BuildZip(entries)), (Names{"one.txt", "three", "Two/two.bin"}));

  // Descriptors before the first header and several in a row.
  std::string descriptor = std::string("PK\x07\x08", 4) + std::string(12, '\x11');
  std::string one = BuildZip({entries[0]}, false);
  std::string zip = descriptor + descriptor + one + descriptor + descriptor + BuildZip({entries[2]});
  EXPECT_EQ(ListZip(zip), (Names{"one.txt", "three"}));
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(ListingTest, OnlyTheLocalHeaderSignatureStartsAnEntry) {
  std::string one = BuildZip({ThreeEntries()[0]}, false);
  for (uint32_t signature : {0x50000000u, 0x04034B51u, 0x02014B50u, 0x06054B50u, 0u}) {
    host::Messages().clear();
    std::string fake = one;
    for (int i = 0; i < 4; i++) fake[i] = static_cast<char>(signature >> (8 * i));
    EXPECT_TRUE(ListZip(fake + one).empty()) << std::hex << signature;
    ExpectOnlyMessage("Cannot read archive header", IconExclamation);
  }
}

TEST_F(ListingTest, TruncatedArchivesListWhatCameBefore) {
  std::string zip = BuildZip(ThreeEntries(), false);
  Names full = Sorted(ListZip(zip));
  for (size_t cut = 0; cut < zip.size(); cut++) {
    host::Messages().clear();
    State.CurrentEntry = ArchiveEntry();  // nothing left over from an earlier walk
    Names names = Sorted(ListZip(zip.substr(0, cut)));
    ASSERT_TRUE(std::includes(full.begin(), full.end(), names.begin(), names.end())) << cut;
    if (names.empty())
      ExpectOnlyMessage("Cannot read archive header", IconExclamation);
    else
      EXPECT_TRUE(host::Messages().empty()) << cut;
  }
  // A name running past the end of the file is not listed.
  std::vector<ZipEntry> entries = ThreeEntries();
  entries[1].nameLengthOverride = 200;
  host::Messages().clear();
  std::string bad = BuildZip({entries[0]}, false) + BuildZip({entries[1]}, false).substr(0, 60);
  EXPECT_EQ(ListZip(bad), Names{"one.txt"});
  EXPECT_TRUE(host::Messages().empty());
}

TEST_F(ListingTest, ANextHeaderPositionThatDoesNotAdvanceEndsTheWalk) {
  std::string one = BuildZip({ThreeEntries()[0]}, false);
  uint32_t headerPosition = 0x7D00 + static_cast<uint32_t>(one.size());
  uint32_t fixed = 30 + 4;  // header and the name "loop"
  // Sizes that wrap the 32-bit position to below, and exactly onto, the header.
  for (uint32_t size : {0xFFFFFFF0u, 0u - fixed, 0u - fixed - headerPosition + 5}) {
    host::Messages().clear();
    std::string loop = testpkg::LocalHeader(0x04034B50, 0, 0, 0, size, 0, 4, 0) + "loop";
    EXPECT_EQ(Sorted(ListZip(one + loop + one)), (Names{"loop", "one.txt"})) << size;
    EXPECT_TRUE(host::Messages().empty());
  }
}

TEST_F(ListingTest, AFailedSeekLeavesTheListAlone) {
  ListAdd(GetEntryList(&dialog_, 301), "kept");
  UseArchiveFile(NoFile);
  ListArchive(&dialog_, 301);
  EXPECT_EQ(Listed(), Names{"kept"});
  ExpectOnlyMessage("Error reading archive.", IconHand);
  EXPECT_FALSE(WalkRunning());
}

// A message box runs a modal loop that may dispatch a request for another
// walk; the running walk owns the file position, so that one is refused.
TEST_F(ListingTest, ASecondWalkWhileOneRunsDoesNothing) {
  bool runningInside = false;
  ListAdd(GetEntryList(&dialog_, 302), "untouched");
  host::SetMessageHandler([&](const HostMessage&) {
    runningInside = WalkRunning();
    ListArchive(&dialog_, 302);
  });
  std::vector<ZipEntry> entries = ThreeEntries();
  entries[2].name = "";
  EXPECT_EQ(ListZip(BuildZip(entries)), (Names{"one.txt", "Two/two.bin"}));
  EXPECT_TRUE(runningInside);
  EXPECT_EQ(Listed(302), Names{"untouched"});
  ExpectOnlyMessage("Invalid filename ", IconHand);
  EXPECT_FALSE(WalkRunning());

  // Once the first walk is over, walks run again.
  host::SetMessageHandler(nullptr);
  ListArchive(&dialog_, 302);
  EXPECT_EQ(Listed(302), (Names{"one.txt", "Two/two.bin"}));
}

}  // namespace

namespace {

// The hand-made archives are only worth something if a real reader accepts
// them: stored, deflated, encrypted, with extra fields and descriptors.
TEST(ZipBuilderTest, ArchivesAreAcceptedByUnzip) {
  testpkg::TempDir dir;
  std::vector<ZipEntry> entries = ThreeEntries();
  entries[0].descriptor = true;
  entries[2].method = 8;
  entries.push_back(entries[2]);
  entries[3].name = "four";
  entries[3].descriptor = true;
  testpkg::WriteWholeFile(dir / "a.zip", BuildZip(entries));
  EXPECT_EQ(testpkg::RunCommand("unzip -qq -t -P pw '" + dir / "a.zip" + "' >/dev/null 2>&1"), 0);
  ASSERT_EQ(testpkg::RunCommand("unzip -qq -P pw -p '" + dir / "a.zip" + "' four > '" +
                                dir / "four" + "'"),
            0);
  EXPECT_EQ(testpkg::ReadWholeFile(dir / "four"), "locked");
}

}  // namespace
