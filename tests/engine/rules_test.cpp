// The engine's rules on archives built entry by entry: the failure table,
// passwords, the overwrite rule, duplicates, hostile names, descriptors.
#include <fcntl.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "codec/crypt.h"
#include "tests/engine/engine_fixture.h"

using testpkg::ZipEntry;

namespace {

ZipEntry Entry(const std::string& name, const std::string& data, uint16_t method = 8,
               const std::string& password = "") {
  ZipEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.password = password;
  return e;
}

// The local header of the first entry with this name (it precedes the central directory).
size_t HeaderOf(const std::string& zip, const std::string& name) { return zip.find(name) - 30; }

void Put32(std::string& zip, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) zip[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Sample(size_t size, uint32_t seed) {
  std::string data(size, 0);
  for (size_t i = 0; i < size; i++) {
    seed = seed * 1664525 + 1013904223;
    data[i] = static_cast<char>((i % 5 == 0) ? seed >> 24 : 'a' + i % 23);
  }
  return data;
}

// chmod 0444, and for root (whom permissions do not stop) the immutable flag,
// taken away again at the end.
struct ReadOnlyFile {
  int fd;
  int flags = 0;
  bool ok = true;
  bool immutable = false;
  explicit ReadOnlyFile(const std::string& path) {
    chmod(path.c_str(), 0444);
    fd = open(path.c_str(), O_RDONLY);
    if (geteuid() != 0) return;
    immutable = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_IMMUTABLE_FL;
    ok = immutable = immutable && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ~ReadOnlyFile() {
    flags &= ~FS_IMMUTABLE_FL;
    if (immutable) ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
  }
};

// Every way an entry's data can fail leaves nothing under its name and an
// existing file byte for byte as it was; a second run in keep-existing mode
// does not count the entry as done either. No temporary file remains.
TEST_F(EngineTest, AFailedEntryLeavesNothingUnderItsName) {
  enum Fault { BadCrc, DiskFull, FailingMove, DataCut };
  struct Case {
    Fault fault;
    uint16_t method;
    Expected messages;
  } cases[] = {
      {BadCrc, 8, {{Failure, IconHand}}},
      {BadCrc, 0, {{Failure, IconHand}}},
      {DiskFull, 8, {{Failure, IconHand}}},
      {DiskFull, 0, {{Failure, IconHand}}},
      {FailingMove, 8, {{"Cannot open file C:\\out\\bad.bin", IconExclamation}, {Failure, IconHand}}},
      {DataCut, 8, {{"Error reading archive.", IconHand}, {Failure, IconHand}}},
      {DataCut, 0, {{"Error reading archive.", IconHand}, {Failure, IconHand}}},
  };
  for (const Case& c : cases) {
    for (bool oldFile : {false, true}) {
      SCOPED_TRACE(testing::Message() << "fault " << c.fault << " method " << c.method << " old " << oldFile);
      Restart();
      std::string zip = testpkg::BuildZip({Entry("a.txt", "first"), Entry("bad.bin", Sample(90000, 1), c.method)});
      if (c.fault == BadCrc) Put32(zip, HeaderOf(zip, "bad.bin") + 14, 0x12345678);
      if (c.fault == DataCut) zip.resize(HeaderOf(zip, "bad.bin") + 2000);
      if (c.fault == DiskFull) host::SetWriteLimit(61440);
      if (c.fault == FailingMove) host::SetFailingMoves("bad.bin");
      std::filesystem::remove_all(Out(""));
      std::filesystem::create_directories(Out(""));
      if (oldFile) testpkg::WriteWholeFile(Out("bad.bin"), "the old file");
      Open(zip);
      Extract();
      ExpectMessages(c.messages);
      EXPECT_EQ(State.ExtractSucceeded, 0);
      EXPECT_EQ(StillSelected(), std::vector<std::string>{"bad.bin"});
      auto expected = oldFile ? Files{{"a.txt", "first"}, {"bad.bin", "the old file"}} : Files{{"a.txt", "first"}};
      EXPECT_EQ(Tree(Out("")), expected);

      Extract(true);  // keep-existing: what is not there is not done
      EXPECT_EQ(State.ExtractSucceeded, oldFile && c.fault != DataCut ? 1 : 0);
      EXPECT_EQ(Tree(Out("")), expected);
    }
  }
}

// An entry is whole only when every write succeeded, its stream ended where
// its data do and its size is the one declared, whatever its method and
// encryption (AE-2 entries carry no CRC). A failed entry fails alone: nothing
// under its name, no second prompt, and the entry after it is extracted.
TEST_F(EngineTest, EveryEntryProvesItIsWhole) {
  enum Fault { ShortWrite, StreamCut, InvalidBlock, ExtraBytes, WrongSize, TamperedData, TamperedCode };
  enum Cipher { None, Traditional, Aes };
  const std::string data = Sample(90000, 3);
  for (uint16_t method : {MethodStored, MethodDeflated, MethodLzma}) {
    for (Cipher cipher : {None, Traditional, Aes}) {
      for (Fault fault : {ShortWrite, StreamCut, InvalidBlock, ExtraBytes, WrongSize, TamperedData, TamperedCode}) {
        if ((fault == TamperedCode && cipher != Aes) || (fault == InvalidBlock && method == 0)) continue;
        SCOPED_TRACE(testing::Message() << "method " << method << " cipher " << cipher << " fault " << fault);
        Restart();
        ZipEntry bad = Entry("bad.bin", data, method, cipher == None ? "" : "pw");
        bad.aes = cipher == Aes;
        std::string body = method == MethodDeflated ? testpkg::Deflate(data)
                           : method == MethodLzma   ? testpkg::Lzma(data)
                                                    : data;
        if (fault == StreamCut) bad.compressed = body.substr(0, body.size() / 2);
        if (fault == InvalidBlock && method == MethodDeflated)
          bad.compressed = std::string("\x03\x02\x00", 3);   // distance 1 at the start
        if (fault == InvalidBlock && method == MethodLzma) (bad.compressed = body)[9] = 1;   // its first byte is 0
        if (fault == ExtraBytes) bad.compressed = body + "xyz";
        std::string zip = testpkg::BuildZip({Entry("a.txt", "first"), bad, Entry("z.txt", "last")});
        const uint8_t* header = reinterpret_cast<const uint8_t*>(zip.data()) + HeaderOf(zip, "bad.bin");
        size_t dataAt = HeaderOf(zip, "bad.bin") + 30 + Read16(header + 26) + Read16(header + 28);
        uint32_t stored = Read32(header + 18);
        if (fault == WrongSize) Put32(zip, HeaderOf(zip, "bad.bin") + 22, (uint32_t)data.size() + 1);
        if (fault == TamperedData) zip[dataAt + stored / 2] ^= 1;
        if (fault == TamperedCode) zip[dataAt + stored - 1] ^= 1;
        if (fault == ShortWrite) host::SetWriteLimit(50000);
        Open(zip);
        host::SetPasswordAnswers({"pw"});
        Extract();
        ExpectMessages({{Failure, IconHand}});
        EXPECT_EQ(host::PasswordPrompts(), cipher == None ? 0 : 1);
        EXPECT_EQ(StillSelected(), std::vector<std::string>{"bad.bin"});
        EXPECT_EQ(Tree(Out("")), (Files{{"a.txt", "first"}, {"z.txt", "last"}}));
      }
    }
  }
}

// LZMA settings the stub cannot serve fail their entry with a message
// naming it; the walk goes on.
TEST_F(EngineTest, LzmaSettingsTheStubCannotServe) {
  const std::string data = Sample(200000, 4);
  ZipEntry beyond = Entry("beyond.bin", data, MethodLzma), large = Entry("large.bin", data, MethodLzma);
  (beyond.compressed = testpkg::Lzma(data))[4] = (char)225;   // pb 5
  Open(testpkg::BuildZip({Entry("a.txt", "first"), beyond, large, Entry("z.txt", "last")}));
  host::SetAllocationLimit(100000);   // the window takes 200,000 bytes
  Extract();
  host::SetAllocationLimit(SIZE_MAX);
  ExpectMessages({{"Unsupported compression settings in beyond.bin", IconExclamation},
                  {"Not enough memory to extract large.bin", IconExclamation},
                  {Failure, IconHand}});
  EXPECT_EQ(StillSelected(), (std::vector<std::string>{"beyond.bin", "large.bin"}));
  EXPECT_EQ(Tree(Out("")), (Files{{"a.txt", "first"}, {"z.txt", "last"}}));
}

// A name that is taken, even by a dangling link, is passed by for the next.
TEST_F(EngineTest, ATakenTemporaryNameIsPassedBy) {
  std::filesystem::create_directories(Out(""));
  std::filesystem::create_symlink(root / "nowhere", Out("~tv00.tmp"));
  Open(testpkg::BuildZip({Entry("a.txt", "a")}));
  Extract();
  EXPECT_EQ(State.ExtractSucceeded, 1);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("a.txt")), "a");
  EXPECT_TRUE(std::filesystem::is_symlink(Out("~tv00.tmp")));
}

// Unattended, an entry no password opens fails and the others are extracted.
TEST_F(EngineTest, UnattendedRunGoesOnPastWhatItCannotOpen) {
  ZipEntry aes = Entry("aes.bin", "secret", 8, "pw");
  aes.aes = true;
  Open(testpkg::BuildZip({Entry("a.txt", "a"), aes, Entry("b.txt", "traditional", 8, "pw"), Entry("z.txt", "z")}));
  State.Unattended = true;
  for (const char* password : {"", "wrong"}) {
    strcpy(State.Password, password);   // what /P= gives
    Extract();
    EXPECT_EQ(State.ExtractSucceeded, 0);
    EXPECT_EQ(StillSelected(), (std::vector<std::string>{"aes.bin", "b.txt"}));
    EXPECT_EQ(Tree(Out("")), (Files{{"a.txt", "a"}, {"z.txt", "z"}}));
  }
  EXPECT_EQ(host::PasswordPrompts(), 0);
}

TEST_F(EngineTest, OverwriteRule) {
  Open(testpkg::BuildZip({Entry("a.txt", "new a"), Entry("sub/b.txt", "new b", 0),
                          Entry("c.txt", "new c", 8, "pw")}));
  std::filesystem::create_directories(Out("sub"));
  testpkg::WriteWholeFile(Out("a.txt"), "old a, longer than the entry");
  testpkg::WriteWholeFile(Out("c.txt"), "old c");
  host::SetPasswordAnswers({"pw"});

  Extract(true);  // kept, and counted as done; the password is asked all the same
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(host::PasswordPrompts(), 1);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("c.txt")), "old c");
  EXPECT_EQ(testpkg::ReadWholeFile(Out("a.txt")), "old a, longer than the entry");
  EXPECT_EQ(testpkg::ReadWholeFile(Out("sub/b.txt")), "new b");

  Extract(true);  // everything exists already
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(State.ExtractSucceeded, 1);
  EXPECT_EQ(host::PumpedMessages(), 1);

  Extract(false);  // truncated and rewritten
  EXPECT_EQ(testpkg::ReadWholeFile(Out("a.txt")), "new a");
  EXPECT_EQ(State.ExtractSucceeded, 1);
}

TEST_F(EngineTest, NothingSelectedWritesAndShowsNothing) {
  Open(testpkg::BuildZip({Entry("a.txt", "a")}));
  host::Messages().clear();
  ExtractArchive(&dialog, IDC_ENTRY_LIST);
  EXPECT_TRUE(host::Messages().empty());
  EXPECT_EQ(State.ExtractSucceeded, 0);
  EXPECT_FALSE(std::filesystem::exists(root / "out"));
}

TEST_F(EngineTest, PasswordIsRememberedAndEachEntryGetsThreePrompts) {
  Open(testpkg::BuildZip({Entry("1.txt", "one", 8, "alpha"), Entry("2.txt", "two", 0, "alpha"),
                          Entry("3.txt", "three", 8, "beta"), Entry("4.txt", "plain")}));
  host::SetPasswordAnswers({"alpha", "", "beta"});  // an empty answer is a failed try
  Extract();
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(host::PasswordPrompts(), 3);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("3.txt")), "three");
  host::SetPasswordAnswers({"alpha", "beta"});
  Extract();  // a later run starts with the password that worked last ("beta")
  EXPECT_EQ(host::PasswordPrompts(), 5);
  EXPECT_EQ(State.ExtractSucceeded, 1);
}

TEST_F(EngineTest, ThreeWrongPasswordsEndTheRunSilently) {
  Open(testpkg::BuildZip({Entry("a.txt", "a"), Entry("s.txt", "s", 8, "right"), Entry("z.txt", "z")}));
  host::SetPasswordAnswers({"wrong", "", "still wrong"});
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 3);
  ExpectMessages({});
  EXPECT_EQ(State.ExtractSucceeded, 0);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("a.txt")), "a");
  EXPECT_FALSE(std::filesystem::exists(Out("s.txt")));
  EXPECT_FALSE(std::filesystem::exists(Out("z.txt")));
  EXPECT_EQ(StillSelected(), (std::vector<std::string>{"s.txt", "z.txt"}));
}

// A wrong password whose decrypted check byte matches by chance decrypts to
// wrong data: the CRC comparison catches it, for stored and deflated data.
TEST_F(EngineTest, WrongPasswordPassingTheCheckByteFailsTheCrc) {
  for (uint16_t method : {0, 8}) {
    std::string name = "s" + std::to_string(method) + ".bin", data = Sample(70000, method);
    std::string zip = testpkg::BuildZip({Entry(name, data, method, "right")});
    uint8_t header[24];
    memcpy(header + 12, zip.data() + HeaderOf(zip, name) + 30 + name.size(), 12);
    std::string impostor;
    for (int i = 0; impostor.empty(); i++) {
      std::string guess = "guess" + std::to_string(i);
      if (CheckPassword(header, 12, 1, guess.c_str(), 0x6000, testpkg::Crc32(data))) impostor = guess;
    }
    Restart();
    Open(zip);
    host::SetPasswordAnswers({impostor});
    Extract();
    EXPECT_EQ(host::PasswordPrompts(), 1) << impostor;
    ExpectMessages({{Failure, IconHand}});
    EXPECT_EQ(StillSelected(), std::vector<std::string>{name});
    EXPECT_FALSE(std::filesystem::exists(Out(name)));
  }
}

// The remembered password passes the check byte of an entry it does not open:
// the CRC fails, the user is asked, and the right password extracts it.
TEST_F(EngineTest, ARememberedPasswordThatFailsTheCrcIsAskedAgain) {
  std::string data = Sample(5000, 9);
  std::string probe = testpkg::BuildZip({Entry("s.bin", data, 8, "right")});
  uint8_t header[24];
  memcpy(header + 12, probe.data() + HeaderOf(probe, "s.bin") + 30 + 5, 12);
  std::string impostor;
  for (int i = 0; impostor.empty(); i++) {
    std::string guess = "first" + std::to_string(i);
    if (CheckPassword(header, 12, 1, guess.c_str(), 0x6000, testpkg::Crc32(data))) impostor = guess;
  }
  // The same encryption header again: BuildZip's encryption is repeatable.
  Open(testpkg::BuildZip({Entry("a.txt", "a", 8, impostor), Entry("s.bin", data, 8, "right")}));
  host::SetPasswordAnswers({impostor, "right"});
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 2);
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("s.bin")), data);

  // A write that fails (a full disk) is not the password's fault: nobody is asked again.
  Restart();
  Open(testpkg::BuildZip({Entry("a.txt", "a", 8, "right"), Entry("s.bin", data, 8, "right")}));
  host::SetPasswordAnswers({"right"});
  host::SetWriteLimit(1000);
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 1);
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"s.bin"});
}

// Flag bit 6 marks an encryption the engine cannot read: no password is asked
// for or tried, the entry fails with the unknown-method message and the walk
// goes on, to the unknown method, which ends the run.
TEST_F(EngineTest, UnknownMethodCreatesNothingAndStopsTheRun) {
  ZipEntry strong = Entry("strong.bin", "secret", 8, "pw");
  strong.flags = FlagStrongEncryption;
  Open(testpkg::BuildZip({Entry("a.txt", "a"), strong, Entry("m.bin", "data", 6), Entry("z.txt", "z")}));
  host::SetPasswordAnswers({"pw"});
  Extract();
  EXPECT_EQ(host::PasswordPrompts(), 0);
  ExpectMessages({{"Unknown compression type", IconHand}, {"Unknown compression type", IconHand}});
  EXPECT_EQ(State.ExtractSucceeded, 0);
  EXPECT_EQ(StillSelected(), (std::vector<std::string>{"m.bin", "strong.bin", "z.txt"}));
  EXPECT_EQ(Tree(Out("")), (Files{{"a.txt", "a"}}));
}

// A walk that stops anywhere but at the central directory fails the run,
// even when every entry it saw was extracted.
TEST_F(EngineTest, AWalkThatEndsEarlyIsNeverSuccess) {
  std::string zip = testpkg::BuildZip({Entry("a.txt", "a"), Entry("b.txt", "b")});
  std::string cut = zip.substr(0, HeaderOf(zip, "b.txt"));
  std::string badSignature = zip;
  badSignature[HeaderOf(zip, "b.txt")] = 'X';
  std::string noDirectory = testpkg::BuildZip({Entry("a.txt", "a"), Entry("b.txt", "b")}, false);
  for (const std::string& package : {cut, badSignature, noDirectory}) {
    Restart();
    Open(package);
    Extract();
    ExpectMessages({{"Error reading archive.", IconHand}, {Failure, IconHand}});
    EXPECT_EQ(State.ExtractSucceeded, 0);
  }
  Restart();
  Open(zip);
  Extract();
  ExpectMessages({{Success, IconInformation}});
}

TEST_F(EngineTest, FolderThatCannotBeMadeEndsTheWalk) {
  testpkg::WriteWholeFile(root / "blocker", "a file where a folder should be");
  strcpy(DestFolder, "C:\\blocker\\out\\");
  Open(testpkg::BuildZip({Entry("sub/a.txt", "a"), Entry("b.txt", "b")}));
  Extract();
  ExpectMessages({{"Error in directory C:\\blocker\\out\\sub", IconExclamation}, {Failure, IconHand}});
  EXPECT_STREQ(DestFolder, "C:\\blocker\\out");  // one trailing backslash removed
}

// Output that cannot be created is skipped and the walk goes on: a read-only
// file, a folder standing where a file goes, a file where a folder entry goes.
TEST_F(EngineTest, BlockedOutputsAreReportedAndTheRestIsWritten) {
  std::filesystem::create_directories(Out("dir"));
  testpkg::WriteWholeFile(Out("ro.txt"), "read-only");
  testpkg::WriteWholeFile(Out("f"), "a file");
  ReadOnlyFile readOnly(Out("ro.txt"));
  if (!readOnly.ok) GTEST_SKIP() << "cannot make a file read-only for this user";
  Open(testpkg::BuildZip({Entry("a.txt", "a"), Entry("ro.txt", "new"), Entry("dir", "x"),
                          Entry("z.txt", "z"), Entry("f/", "")}));
  Extract();
  ExpectMessages({{"Cannot open file C:\\out\\ro.txt", IconExclamation},
                  {"Cannot open file C:\\out\\dir", IconExclamation},
                  {"Error in directory C:\\out\\f", IconExclamation},
                  {Failure, IconHand}});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("ro.txt")), "read-only");
  EXPECT_EQ(testpkg::ReadWholeFile(Out("z.txt")), "z");
  EXPECT_EQ(StillSelected(), (std::vector<std::string>{"dir", "f/", "ro.txt"}));
}

// Keep-existing means an existing file: a folder in the way is refused.
TEST_F(EngineTest, AFolderWhereAFileGoesIsNotThatFile) {
  std::filesystem::create_directories(Out("setup.exe"));
  Open(testpkg::BuildZip({Entry("setup.exe", "program")}));
  Extract(true);
  ExpectMessages({{"Cannot open file C:\\out\\setup.exe", IconExclamation}, {Failure, IconHand}});
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"setup.exe"});
}

TEST_F(EngineTest, DuplicateNamesMatchSuccessiveItems) {
  Open(testpkg::BuildZip({Entry("dup", "v1"), Entry("dup", "v2"), Entry("other", "o")}));
  Extract();
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("dup")), "v2");

  // Out of order the second search wraps to the item already done.
  Restart();
  Open(testpkg::BuildZip({Entry("dup", "v1"), Entry("other", "o"), Entry("dup", "v2")}));
  Extract();
  ExpectMessages({{Failure, IconHand}});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("dup")), "v1");
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"dup"});
}

TEST_F(EngineTest, FortyMegabyteEntryFromZip) {
  std::string data = Sample(40u << 20, 7);
  testpkg::WriteWholeFile(root / "big.bin", data);
  ASSERT_EQ(testpkg::RunCommand("cd " + root.path() + " && zip -q -6 big.zip big.bin"), 0);
  Open(testpkg::ReadWholeFile(root / "big.zip"));
  Extract();
  ExpectMessages({{Success, IconInformation}});
  EXPECT_TRUE(testpkg::ReadWholeFile(Out("big.bin")) == data);
}

TEST_F(EngineTest, HostileNamesAreRefusedAndNothingLeavesTheDestination) {
  const std::vector<std::string> hostile = {
      "../up.txt", "a/../../up.txt", "..\\up.txt", ".. /up.txt", ".../up.txt", "a/. ../up",
      "/rooted.txt", "\\rooted.txt", "\\\\server\\share\\unc.txt", "C:up.txt", "C:/up.txt",
      "ok.txt:stream", "CON", "sub/nul.txt", "Com1.log", "lpt9", "aux .txt", "wild*", "q?.txt"};
  std::vector<ZipEntry> entries = {Entry("ok.txt", "ok")};
  for (const std::string& name : hostile) entries.push_back(Entry(name, "evil"));
  strcpy(DestFolder, "C:\\dest\\out");
  Open(testpkg::BuildZip(entries));
  Extract();
  std::vector<std::string> shown;
  for (const HostMessage& m : host::Messages()) {
    shown.push_back(m.text);
    EXPECT_EQ(m.icon, IconHand);
  }
  std::vector<std::string> expected;
  for (const std::string& name : hostile) expected.push_back("Invalid filename " + name);
  expected.push_back(Failure);
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(StillSelected().size(), hostile.size());
  EXPECT_EQ(Tree(root / "dest"), (Files{{"out/", ""}, {"out/ok.txt", "ok"}}));
  EXPECT_EQ(Tree(root.path()).size(), 3u);  // dest, dest/out, dest/out/ok.txt
}

// With flag bit 3 the CRC in a signed descriptor after the data is the one
// compared; a stored entry whose descriptor follows at once is simply empty.
TEST_F(EngineTest, DataDescriptorRules) {
  ZipEntry good = Entry("good.txt", "described");
  good.descriptor = true;
  ZipEntry lying = Entry("lying.txt", "header CRC right, descriptor wrong", 0);
  lying.descriptor = true;
  ZipEntry empty = Entry("empty", "", 0);
  empty.descriptor = true;
  empty.sizesInHeader = false;
  std::string zip = testpkg::BuildZip({good, lying, empty});
  size_t lyingData = HeaderOf(zip, "lying.txt") + 30 + 9;
  Put32(zip, lyingData + lying.data.size() + 4, 0xDEADBEEF);
  Open(zip);
  Extract();
  ExpectMessages({{Failure, IconHand}});
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"lying.txt"});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("good.txt")), "described");
  EXPECT_EQ(testpkg::ReadWholeFile(Out("empty")), "");
}

// Data that cannot be located (sizes only in the descriptor) or that is
// shorter than its own encryption header is reported, never written.
TEST_F(EngineTest, EntriesWithoutLocatableDataAreReported) {
  ZipEntry shortEncrypted = Entry("short.bin", "", 0, "pw");
  ZipEntry streamed = Entry("streamed.txt", "sizes only in the descriptor");
  streamed.descriptor = true;
  streamed.sizesInHeader = false;
  std::string zip = testpkg::BuildZip({Entry("a.txt", "a"), shortEncrypted, streamed, Entry("z", "z")});
  size_t shortHeader = HeaderOf(zip, "short.bin");
  zip.erase(shortHeader + 30 + 9 + 11, 1);  // 11 bytes: the 12-byte header does not fit
  Put32(zip, shortHeader + 18, 11);
  Open(zip);
  Extract();
  ExpectMessages({{"Error reading archive.", IconHand}, {"Error reading archive.", IconHand}, {Failure, IconHand}});
  EXPECT_EQ(host::PasswordPrompts(), 0);
  // The listing itself cannot get past the streamed entry: "z" is never seen.
  EXPECT_EQ(StillSelected(), (std::vector<std::string>{"short.bin", "streamed.txt"}));
  EXPECT_FALSE(std::filesystem::exists(Out("streamed.txt")));
}

// A dispatched message that asks for another walk (a second Extract, a new
// listing) while one runs is refused; the run goes on to its end.
TEST_F(EngineTest, NoSecondWalkDuringARun) {
  Open(testpkg::BuildZip({Entry("a.txt", "a"), Entry("b/c.txt", "c", 0), Entry("d.txt", "d")}));
  int pumped = 0;
  host::SetPumpHandler([&] {
    pumped++;
    ExtractArchive(&dialog, IDC_ENTRY_LIST);
    ListArchive(&dialog, IDC_ENTRY_LIST);
  });
  Extract();
  EXPECT_EQ(pumped, 3);
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(Items().size(), 3u);
  EXPECT_EQ(testpkg::ReadWholeFile(Out("b/c.txt")), "c");
  EXPECT_EQ(dialog.progressLog,
            (std::vector<std::string>{"C:\\out\\a.txt", "C:\\out\\b/c.txt", "C:\\out\\d.txt"}));
}

}  // namespace

// Names marked UTF-8 (flag bit 11), and legacy names whose Unicode Path extra
// field (0x7075) still matches them, reach the seam as UTF-8 with the
// encoding chosen; a stale field is ignored, invalid UTF-8 is refused.
TEST_F(EngineTest, Utf8NamesAndUnicodePathFields) {
  const std::string cyrillic = "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0/\xD1\x84.txt";  // Папка/ф.txt
  const std::string cafe = "caf\xC3\xA9.txt";
  auto unicodePath = [](const std::string& stored, const std::string& utf8, uint32_t crcChange) {
    std::string field = "\x75\x70" + std::string(2, '\0') + "\x01" + std::string(4, '\0') + utf8;
    field[2] = static_cast<char>(field.size() - 4);
    uint32_t crc = testpkg::Crc32(stored) ^ crcChange;
    for (int i = 0; i < 4; i++) field[5 + i] = static_cast<char>(crc >> (8 * i));
    // Another field first: the walk must step over it.
    return std::string("UT\x05\0\x01\0\0\0\0", 9) + field;
  };
  ZipEntry marked = Entry(cyrillic, "one");
  marked.flags = 0x0800;
  ZipEntry legacy = Entry("caf\x82.txt", "two");  // code page 437
  legacy.extra = unicodePath(legacy.name, cafe, 0);
  ZipEntry stale = Entry("old.txt", "three");
  stale.extra = unicodePath("old.txt", "new.txt", 1);
  ZipEntry invalid = Entry("bad\xC0\xAF.txt", "four");
  invalid.flags = 0x0800;
  ZipEntry plain = Entry("plain\xE9.txt", "five");  // an ANSI name, kept as its bytes
  // Without the flag a name is UTF-8 when a Unix writer made it (a Unix extra
  // field) and it is valid UTF-8; a field any writer adds does not count.
  const std::string world = "\xE4\xB8\x96\xE7\x95\x8C.txt";   // 世界.txt
  const std::string ux("ux\x0B\0\x01\x04\xE8\x03\0\0\x04\xE8\x03\0\0", 15);
  ZipEntry unix = Entry(world, "six"), anywhere = Entry("t" + world, "seven"), notUtf8 = Entry("u\xE9.txt", "eight");
  unix.extra = notUtf8.extra = ux;
  anywhere.extra = std::string("UT\x05\0\x01\0\0\0\0", 9);
  // 263 bytes of path, 135 characters: the path limits count characters.
  std::string wide;
  for (int i = 0; i < 127; i++) wide += i == 64 ? "/" : "\xD0\xB6";
  ZipEntry folder = Entry(wide + "/", "");
  folder.flags = 0x0800;
  Open(testpkg::BuildZip({marked, legacy, stale, invalid, plain, folder, unix, anywhere, notUtf8}));
  std::vector<std::pair<std::string, bool>> listed;
  for (const HostListItem& item : Items()) listed.emplace_back(item.name, item.utf8);
  using Listed = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(listed, (Listed{{"bad\xC0\xAF.txt", true}, {cafe, true}, {"old.txt", false},
                            {"plain\xE9.txt", false}, {"t" + world, false}, {"u\xE9.txt", false},
                            {cyrillic, true}, {wide + "/", true}, {world, true}}));
  Extract();
  ExpectMessages({{"Invalid filename bad\xC0\xAF.txt", IconHand}, {Failure, IconHand}});
  EXPECT_TRUE(host::Messages()[0].utf8);
  EXPECT_FALSE(host::Messages()[1].utf8);  // the walk goes back to ANSI at its end
  EXPECT_FALSE(host::Utf8Texts());
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"bad\xC0\xAF.txt"});
  using Files = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(Tree(root / "out"), (Files{{cafe, "two"}, {"old.txt", "three"}, {"plain\xE9.txt", "five"},
                                      {"t" + world, "seven"}, {"u\xE9.txt", "eight"},
                                      {cyrillic.substr(0, 10) + "/", ""}, {cyrillic, "one"},
                                      {wide.substr(0, 128) + "/", ""}, {wide + "/", ""}, {world, "six"}}));
}

// A Unicode Path field whose name does not fit the name buffer refuses the
// entry like a stored name that does not fit.
TEST_F(EngineTest, UnicodePathThatDoesNotFitEndsTheWalk) {
  ZipEntry e = Entry("short.txt", "x");
  std::string utf8(300, 'n');
  e.extra = "\x75\x70" + std::string(2, '\0') + "\x01" + std::string(4, '\0') + utf8;
  e.extra[2] = static_cast<char>((e.extra.size() - 4) & 0xFF);
  e.extra[3] = static_cast<char>((e.extra.size() - 4) >> 8);
  uint32_t crc = testpkg::Crc32("short.txt");
  for (int i = 0; i < 4; i++) e.extra[5 + i] = static_cast<char>(crc >> (8 * i));
  Open(testpkg::BuildZip({e}));
  EXPECT_TRUE(Items().empty());
  ExpectMessages({{"Invalid filename ", IconHand}});
}

// An LZMA entry decoded on the second thread and a later entry naming the
// same file as the file system sees it: whatever order the thread ends in,
// the run does what decoding in turn does, and the later entry is moved onto
// the name last. Names outside ASCII are UTF-8 here; "\xE9" is an ANSI name.
TEST_F(EngineTest, SecondThreadNeverOvertakesALaterEntryOfItsName) {
  struct Pair {
    std::string first, second;
  };
  const Pair pairs[] = {
      {"same.bin", "same.bin"},
      {"\xC3\x84.bin", "\xC3\xA4.bin"},   // Ä, then ä
      {"x.bin", "./x.bin"},
      {"x.bin", "x.bin "},
      {"x.bin", "X.BIN."},
      {"\xC3\xA9.bin", "\xE9.bin"},        // é in UTF-8, then in code page 1252
      {"d", "d/"},                         // a file, then a folder of its name
  };
  const std::string large = Sample(200000, 7);
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.second);
    ZipEntry first = Entry(pair.first, large, MethodLzma);
    ZipEntry second = Entry(pair.second, pair.second.back() == '/' ? "" : "later", MethodStored);
    for (ZipEntry* e : {&first, &second})
      if ((uint8_t)e->name[0] >= 0x80 && e->name != "\xE9.bin") e->flags = FlagUtf8;
    const std::string zip = testpkg::BuildZip({first, second});
    std::vector<std::string> moved, messages;
    Files tree;
    for (host::ThreadOrder order : {host::ThreadOrder::Refused, host::ThreadOrder::EndsAtOnce,
                                    host::ThreadOrder::EndsWhenWaited}) {
      Restart();
      host::SetThreadOrder(order);
      Open(zip);
      Extract();
      std::vector<std::string> said;
      for (const HostMessage& m : host::Messages()) said.push_back(m.text);
      if (order == host::ThreadOrder::Refused) {
        moved = host::MovedOnto(), messages = said, tree = Tree(Out(""));
        ASSERT_FALSE(moved.empty());
        EXPECT_NE(moved[0].find(pair.first), std::string::npos);
        continue;
      }
      EXPECT_EQ(host::MovedOnto(), moved);
      EXPECT_EQ(said, messages);
      EXPECT_EQ(Tree(Out("")), tree);
    }
  }
}

// Where the system converts 8-bit names (the stub), an entry's name is joined
// to the UTF-8 folder in its UTF-8 form, and what shows it is UTF-8 from then
// on; a folder outside the code page is reached as it is. The list keeps the
// name as stored.
TEST_F(EngineTest, EightBitNamesJoinTheFolderInUtf8) {
  host::SetLatin1CodePage(true);
  strcpy(DestFolder, "C:\\\xC5\x81ukasz");   // Łukasz: outside code page 1252
  const std::string data = Sample(100000, 3);
  ZipEntry bad = Entry("d\xE9g\xE2t.bin", data, MethodLzma);
  (bad.compressed = testpkg::Lzma(data))[4] = (char)225;   // settings the stub cannot serve
  Open(testpkg::BuildZip({Entry("r\xE9sum\xE9.txt", "cv"), bad}));
  Extract();
  ExpectMessages({{"Unsupported compression settings in d\xC3\xA9g\xC3\xA2t.bin", IconExclamation},
                  {Failure, IconHand}});
  EXPECT_TRUE(host::Messages()[0].utf8);
  EXPECT_FALSE(host::Messages()[1].utf8);
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"d\xE9g\xE2t.bin"});
  EXPECT_EQ(Tree(root / "\xC5\x81ukasz"), (Files{{"r\xC3\xA9sum\xC3\xA9.txt", "cv"}}));
}
