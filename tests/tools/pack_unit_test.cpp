// The packaging tool's rules checked against the stub's own code: every name
// the tool lets through must be one the engine extracts, its encryption must
// open with the engine's decryption, and its header must read back through
// the engine's header reader.
#include <gtest/gtest.h>
#include <libdeflate.h>
#if __has_include(<bzlib.h>)
#include <bzlib.h>
#endif
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "codec/crc32.h"
#include "codec/crypt.h"
#include "extract/names.h"
#include "base/state.h"
#include "base/config.h"
#include "package/header.h"
#include "base/reader.h"
#include "platform/host.h"
#include "tools/pack/aes_zip.h"
#include "tools/pack/inputs.h"
#include "tools/pack/names.h"
#include "tools/pack/package_header.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_reader.h"
#include "tools/pack/zip_writer.h"
#include "tools/pack/zipcrypto.h"

namespace {

TEST(PackNames, AcceptsOrdinaryNamesAndTheEngineAgrees) {
  const char* accepted[] = {
      "a.txt", "dir/sub/file.bin", "folder/", "with space/x y.txt", "caf\xC3\xA9.txt",
      "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0/\xF0\x9F\x98\x80", "a\xEF\xBC\x8F" "b\xEF\xBC\x8E", "COM\xC2\xB9x",
      ".hidden", "a..b", "..x", "x.y.z", "CONSOLE.txt", "COM10", "NUL_/x",
      "comma,semicolon;brackets[]{}", "COM1x"};
  for (const char* name : accepted) {
    EXPECT_EQ(pack::NameProblem(name), "") << name;
    EXPECT_TRUE(IsSafeEntryName(name, true)) << "the engine would refuse " << name;
  }
  std::string longest(pack::MaxNameBytes, 'n');
  EXPECT_EQ(pack::NameProblem(longest), "");
}

TEST(PackNames, RefusesWhatLeavesTheDestinationOrWindowsForbids) {
  struct Case { const char* name; const char* reason; };
  const Case refused[] = {
      {"", "empty"},
      {"/etc/passwd", "rooted"},
      {"\\x", "rooted"},
      {"../x", "'..'"},
      {"a/../../x", "'..'"},
      {"a/.. /x", "'..'"},
      {"a/.../x", "'..'"},
      {"./x", "'..'"},
      {"a//b", "empty component"},
      {"a/b.", "ends with a dot"},
      {"a/b /c", "ends with a dot or a blank"},
      {"c:x", "':'"},
      {"file.txt:stream", "':'"},
      {"a\\b", "backslash"},
      {"con", "reserved"},
      {"dir/CON.txt", "reserved"},
      {"Aux.tar.gz", "reserved"},
      {"LPT0", "reserved"},
      {"nul .txt/x", "reserved"},
      {"lpt9", "reserved"},
      {"COM\xC2\xB9", "reserved"},
      {"lpt\xC2\xB3.txt", "reserved"},
      {"COM\xB9", "not valid UTF-8"},
      {"a\xC0\xAF" "b", "not valid UTF-8"},
      {"\xED\xA0\x80", "not valid UTF-8"},
      {"conin$", "reserved"},
      {"tab\there", "control character"},
      {"new\nline", "control character"},
      {"a<b", "forbids"},
      {"a>b", "forbids"},
      {"q\"uote", "forbids"},
      {"pi|pe", "forbids"},
      {"what?", "forbids"},
      {"star*", "forbids"},
      {"report\xE2\x80\xAEtxt.exe", "direction control U+202E"},
      {"\xD8\x9C" "x", "direction control U+061C"},
  };
  for (const Case& c : refused) {
    std::string problem = pack::NameProblem(c.name);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << "'" << c.name << "' gave: " << problem;
  }
  EXPECT_NE(pack::NameProblem(std::string(pack::MaxNameBytes + 1, 'n')).find("at most 257"), std::string::npos);
}

TEST(PackNames, WarnsWhenADestinationOfAHundredCharactersOverflowsMaxPath) {
  EXPECT_FALSE(pack::NameTooLongForWindows(std::string(158, 'n')));
  EXPECT_TRUE(pack::NameTooLongForWindows(std::string(159, 'n')));
  std::string cyrillic;   // two bytes, one UTF-16 unit each
  for (int i = 0; i < 120; i++) cyrillic += "\xD0\x96";
  EXPECT_FALSE(pack::NameTooLongForWindows(cyrillic));
}

// Runs the engine's password check and decryption over the tool's output.
std::string EngineDecrypt(const std::string& encrypted, const std::string& password, uint32_t crc, bool& accepted) {
  static uint32_t table[CrcTableSize / sizeof(uint32_t)];
  State.CrcTable = table;
  BuildCrcTable();
  uint8_t header[24];
  memcpy(header + 12, encrypted.data(), 12);
  accepted = CheckPassword(header, 12, 0, password.c_str(), 0, crc);
  std::string data = encrypted.substr(12);
  if (accepted && !data.empty()) DecryptBuffer((uint8_t*)&data[0], (uint32_t)data.size());
  return data;
}

TEST(PackEncryption, TheEngineDecryptsWhatTheToolEncrypts) {
  const std::string plain = "The quick brown fox \x00\xFF jumps over the lazy dog, twice over.";
  const uint32_t crc = 0xA1B2C3D4;
  for (std::string password : {std::string("secret"), std::string("p\xE4sswort"), std::string(79, 'x')}) {
    uint8_t random[11];
    ASSERT_TRUE(pack::SecureRandom(random, sizeof random));
    pack::ZipCipher cipher(password);
    std::string data = pack::EncryptionHeader(cipher, crc, random) + plain;
    cipher.Encrypt((uint8_t*)&data[12], plain.size());
    EXPECT_NE(data.substr(12), plain);

    bool accepted = false;
    EXPECT_EQ(EngineDecrypt(data, password, crc, accepted), plain) << password;
    EXPECT_TRUE(accepted);
    // The check byte is the CRC's top byte: an entry with another CRC fails it.
    EngineDecrypt(data, password, crc ^ 0x01000000, accepted);
    EXPECT_FALSE(accepted);
  }
}

TEST(PackEncryption, HeadersAreRandomEvenForEqualInput) {
  uint8_t a[11], b[11];
  ASSERT_TRUE(pack::SecureRandom(a, sizeof a));
  ASSERT_TRUE(pack::SecureRandom(b, sizeof b));
  EXPECT_NE(memcmp(a, b, sizeof a), 0);
}

// Writes stub + header to a file and lets the engine's header reader read it.
struct ReadBack {
  std::string path;
  ReadBack(const pack::HeaderSettings& settings) {
    char name[] = "/tmp/tolvane-header.XXXXXX";
    int fd = mkstemp(name);
    path = name;
    std::string bytes(StubSize, 'S');
    bytes += pack::BuildHeader(settings);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    close(fd);
    host::ResetSeam();
    host::SetTempFolder("/tmp/T/");
    static char texts[3][PathTextSize];
    memset(texts, 0, sizeof texts);
    Config.Message = texts[0];
    Config.DefaultFolder = texts[1];
    Config.Command = texts[2];
    UseArchiveFile(OpenReadFile(path.c_str()));
    ReadPackageHeader();
  }
  ~ReadBack() {
    CloseFileHandle(State.ArchiveFile);
    unlink(path.c_str());
  }
};

TEST(PackHeader, TheEngineReadsEverySettingBack) {
  pack::HeaderSettings s;
  s.message = "Hello\r\nworld";
  s.folder = "C:\\Games\\X";
  s.command = "##setup.exe|/S ##";
  {
    ReadBack r(s);
    EXPECT_EQ(State.ArchiveStart, 32000u);
    EXPECT_STREQ(Config.Message, "Hello\r\nworld");
    EXPECT_STREQ(Config.DefaultFolder, "C:\\Games\\X");
    EXPECT_STREQ(Config.Command, "##setup.exe|/S ##");
    EXPECT_TRUE(Config.FileListAllowed);
    EXPECT_FALSE(Config.HideOverwrite);
    EXPECT_TRUE(Config.OverwriteChecked);
    EXPECT_EQ(Config.OverwriteControlId, 501);
    EXPECT_TRUE(Config.AcceptsSwitches);
    EXPECT_TRUE(Config.KeepTimes);
  }
  s.flags = FlagHideOverwrite;   // --no-file-list --hide-overwrite --keep-existing --no-switches --no-times
  s.folder = "##";
  s.message = s.command = "";
  {
    ReadBack r(s);
    EXPECT_FALSE(Config.FileListAllowed);
    EXPECT_TRUE(Config.HideOverwrite);
    EXPECT_FALSE(Config.OverwriteChecked);
    EXPECT_EQ(Config.OverwriteControlId, 502);
    EXPECT_STREQ(Config.DefaultFolder, "/tmp/T/");
    EXPECT_FALSE(Config.HasCommand);
    EXPECT_FALSE(Config.AcceptsSwitches);
    EXPECT_FALSE(Config.KeepTimes);
  }
}

TEST(PackHeader, TextLimitsAndLayout) {
  pack::HeaderSettings s;
  s.message = std::string(249, 'm');
  EXPECT_EQ(pack::HeaderProblem(s), "");
  std::string header = pack::BuildHeader(s);
  ASSERT_EQ(header.size(), 256u);
  s.folder = "f";
  EXPECT_NE(pack::HeaderProblem(s).find("250 bytes together"), std::string::npos);
  s.folder = "";
  s.message = std::string(256, 'm');
  EXPECT_NE(pack::HeaderProblem(s).find("at most 255"), std::string::npos);

  s.message = "ab";
  header = pack::BuildHeader(s);
  EXPECT_EQ(header.substr(0, 9), std::string("@TV\xEA\x02\x00\x00" "ab", 9));
  EXPECT_EQ(header.find_first_not_of('.', 9), std::string::npos);   // filler to the end
  pack::HeaderSettings parsed;
  ASSERT_TRUE(pack::ParseHeader(header, parsed));
  EXPECT_EQ(parsed.message, "ab");
  EXPECT_EQ(parsed.flags, pack::DefaultFlags);
  EXPECT_FALSE(pack::ParseHeader("@tv" + header.substr(3), parsed));
}

// info tells a stub signed after packing from a different one.
TEST(PackStub, ASignedCopyDiffersOnlyInChecksumAndCertificateEntry) {
  std::string stub(StubSize, '\0');
  stub.replace(0, 2, "MZ");
  stub.replace(0x400, 4, "code");
  stub.replace(0x3C, 4, std::string("\x80\x00\x00\x00", 4));   // the PE header at 0x80
  const size_t checksum = 0x80 + 24 + 64, certificates = 0x80 + 24 + 128;
  EXPECT_EQ(pack::CompareStubs(stub, stub), pack::StubMatch::Same);

  std::string signedCopy = stub;
  signedCopy.replace(checksum, 4, "\x12\x34\x56\x78");
  signedCopy.replace(certificates, 8, std::string("\x00\x7D\x00\x00\x40\x06\x00\x00", 8));
  EXPECT_EQ(pack::CompareStubs(signedCopy, stub), pack::StubMatch::SameSigned);

  std::string checksumOnly = stub;
  checksumOnly.replace(checksum, 4, "\x12\x34\x56\x78");
  EXPECT_EQ(pack::CompareStubs(checksumOnly, stub), pack::StubMatch::Other);
  std::string changedCode = signedCopy;
  changedCode[0x400] ^= 1;
  EXPECT_EQ(pack::CompareStubs(changedCode, stub), pack::StubMatch::Other);
  std::string farHeader = signedCopy;
  farHeader.replace(0x3C, 4, std::string("\xF0\x7B\x00\x00", 4));   // the fields would lie past the end
  EXPECT_EQ(pack::CompareStubs(farHeader, stub), pack::StubMatch::Other);
}

// --elevate on the stub this build embeds: the level is written in place and
// undone exactly, the checksum is the image's, the result is still this
// tool's stub; a damaged resource directory is refused, never read past.
TEST(PackStub, TheManifestLevelChangesInPlaceAndStaysRecognised) {
  const std::string stub = pack::EmbeddedStub();
  if (stub.empty()) GTEST_SKIP() << "no stub embedded";
  pack::LevelField field;
  std::string error;
  ASSERT_TRUE(pack::FindLevelField(stub, field, error)) << error;
  EXPECT_EQ(field.level, "asInvoker");
  EXPECT_EQ(field.room, strlen(pack::LevelAdministrator) + 1);
  const size_t checksumAt = pack::GetLe32(&stub[0x3C]) + 24 + 64;
  EXPECT_EQ(pack::ImageChecksum(stub), pack::GetLe32(&stub[checksumAt]));
  for (const char* level : {pack::LevelAdministrator, pack::LevelHighest}) {
    std::string elevated = stub;
    ASSERT_TRUE(pack::SetExecutionLevel(elevated, level, error)) << error;
    ASSERT_EQ(elevated.size(), stub.size());
    ASSERT_TRUE(pack::FindLevelField(elevated, field, error));
    EXPECT_EQ(field.level, level);
    EXPECT_EQ(pack::ImageChecksum(elevated), pack::GetLe32(&elevated[checksumAt])) << level;
    EXPECT_EQ(pack::CompareStubs(elevated, stub), pack::StubMatch::Same) << level;
    std::string changed = elevated;
    changed[0x400] ^= 1;
    EXPECT_EQ(pack::CompareStubs(changed, stub), pack::StubMatch::Other) << level;
    ASSERT_TRUE(pack::SetExecutionLevel(elevated, pack::LevelAsInvoker, error));
    EXPECT_EQ(elevated, stub) << level;
  }
  // The resource directory cut to nothing, grown past its section, moved onto the code.
  const size_t directory = pack::GetLe32(&stub[0x3C]) + 24 + 96 + 16;
  for (uint32_t size : {0u, 0xFFFFFFF0u}) {
    std::string damaged = stub;
    damaged.replace(directory + 4, 4, std::string((const char*)&size, 4));
    EXPECT_FALSE(pack::FindLevelField(damaged, field, error)) << size;
  }
  std::string onCode = stub;
  onCode.replace(directory, 4, std::string("\x00\x10\x00\x00", 4));
  EXPECT_FALSE(pack::FindLevelField(onCode, field, error));
  EXPECT_FALSE(pack::SetExecutionLevel(onCode, pack::LevelAdministrator, error));
}

// The path rules of --exclude and of file inputs, edge cases the CLI tests leave out.
TEST(PackInputs, ExclusionPatternsAndStoredPaths) {
  struct Case { const char* name; const char* pattern; bool excluded; };
  const Case cases[] = {
      {"a/.git/config", ".git", true},        {"a/b.pyc", "*.pyc", true},
      {".hidden.pyc", "*.pyc", true},         {"a/git", ".git", false},
      {"build/x.o", "build/*.o", true},       {"src/build/x.o", "build/*.o", false},
      {"build/sub/x.o", "build/*.o", false},  {"build/tmp/x", "build/tmp", true},
      {"build/tmp/x", "./build/tmp/", true},  {"a/b/c", "a/*/c", true},
      {"node_modules", "node_modules/", true}, {"a.txt", "*.TXT", false},
      // The wildcards themselves, the same on every system: sets, ranges, escapes, one character
      // for one UTF-8 sequence.
      {"x/log1.txt", "log[0-9].txt", true},   {"x/logA.txt", "log[!0-9].txt", true},
      {"x/log1.txt", "log[!0-9].txt", false}, {"a*b", "a\\*b", true},
      {"axb", "a\\*b", false},                {"отчёт.doc", "отч?т.doc", true},
      {"a[b", "a[b", true},                   {"a/b/c.o", "a/*.o", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pack::Excluded(c.name, {c.pattern}), c.excluded) << c.name << " against " << c.pattern;
  EXPECT_FALSE(pack::Excluded("a.txt", {}));

  const char* stored[][2] = {
      {"small/bin/tool.dll", "small/bin/tool.dll"}, {"./a//b/./c.txt", "a/b/c.txt"},
      {"/abs/path/x.txt", "x.txt"},                 {"../up/x.txt", "x.txt"},
      {"a/../b.txt", "b.txt"},                      {".", ""},
      {"..", ""},                                   {"dir/", "dir"},
  };
  for (const auto& s : stored) EXPECT_EQ(pack::StoredPath(s[0]), s[1]) << s[0];
}

TEST(PackOutput, ControlCharactersAreEscapedForTheTerminalAndJson) {
  EXPECT_EQ(pack::Printable("a\x1b[2Jb"), "a\\x1B[2Jb");
  EXPECT_EQ(pack::Printable("tab\there\x7f"), "tab\\x09here\\x7F");
  EXPECT_EQ(pack::Printable("c1\xc2\x9b" "31m caf\xc3\xa9 \xc2\xa0"), "c1\\x9B31m caf\xc3\xa9 \xc2\xa0");
  EXPECT_EQ(pack::Printable("one\ntwo"), "one\\x0Atwo");
  EXPECT_EQ(pack::Printable("one\ntwo", true), "one\ntwo");
  EXPECT_EQ(pack::JsonString("q\"b\\s\x01\xc3\xa9"), "\"q\\\"b\\\\s\\u0001\xc3\xa9\"");
  // Bytes that are not UTF-8 (a code page name, a cut or overlong sequence) become U+FFFD.
  EXPECT_EQ(pack::JsonString("caf\xe9 \xc0\xaf \xe2\x82"), "\"caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\"");
}

// Sealed in place, opened in pieces of any size: the key stream carries over
// from piece to piece, as checking an entry a chunk at a time needs.
TEST(PackEncryption, AesSealedInPlaceOpensInPiecesOfAnySize) {
  const uint8_t strength = 3;
  std::string plain(200000, '\0');
  for (size_t i = 0; i < plain.size(); i++) plain[i] = (char)(i * 7 + i / 251);
  size_t header = pack::AesHeaderSize(strength);
  std::string stored(header + plain.size() + pack::AesCodeSize, '\0'), error;
  stored.replace(header, plain.size(), plain);
  ASSERT_TRUE(pack::AesSeal("secret", strength, (uint8_t*)&stored[0], plain.size(), error)) << error;
  EXPECT_NE(stored.compare(header, plain.size(), plain), 0);

  std::string tampered = stored;
  tampered[header + 1000] ^= 1;
  pack::AesOpener check;
  ASSERT_TRUE(check.Start("secret", strength, (const uint8_t*)tampered.data(), error)) << error;
  check.Authenticate((const uint8_t*)&tampered[header], plain.size());
  EXPECT_FALSE(check.CodeMatches((const uint8_t*)&tampered[header + plain.size()]));

  uint8_t* data = (uint8_t*)&stored[header];
  pack::AesOpener opener;
  ASSERT_TRUE(opener.Start("secret", strength, (const uint8_t*)stored.data(), error)) << error;
  opener.Authenticate(data, plain.size());
  EXPECT_TRUE(opener.CodeMatches(data + plain.size()));
  const size_t pieces[] = {1, 15, 17, 65539, 5};   // 65539 crosses a batch of key stream
  for (size_t at = 0, i = 0; at < plain.size(); i++) {
    size_t n = std::min(pieces[i % 5], plain.size() - at);
    ASSERT_TRUE(opener.Decrypt(data + at, n));
    at += n;
  }
  EXPECT_EQ(stored.compare(header, plain.size(), plain), 0);
}

// An input zip's data decode into exactly their recorded size: a byte more
// or less, or a cut stream, is damage.
// Data in a method the stub does not read decode to exactly their recorded
// size; data in one it reads are never decoded here, but copied for the
// stub's engine to check in the package.
TEST(PackInputs, ZipDataDecodeToExactlyTheirRecordedSize) {
  std::string plain, error;
  for (int i = 0; i < 30000; i++) plain += "line " + std::to_string(i * 13 % 1000) + "\n";
  pack::ZipInputEntry e;
  e.name = "x.txt";
  e.method = 8;
  e.size = plain.size();
  e.crc = libdeflate_crc32(0, plain.data(), plain.size());
  std::string out(plain.size() + 1, '\0');
  EXPECT_FALSE(pack::DecodeInputEntry(e, (const uint8_t*)plain.data(), plain.size(), (uint8_t*)&out[0], error));
#if __has_include(<bzlib.h>)
  if (!pack::CanDecodeMethod(12)) GTEST_SKIP() << "built without bzip2";
  std::string raw(plain.size() + 1000, '\0'), empty(100, '\0');
  unsigned rawSize = (unsigned)raw.size(), emptySize = (unsigned)empty.size();
  ASSERT_EQ(BZ2_bzBuffToBuffCompress(&raw[0], &rawSize, &plain[0], (unsigned)plain.size(), 9, 0, 0), BZ_OK);
  ASSERT_EQ(BZ2_bzBuffToBuffCompress(&empty[0], &emptySize, &plain[0], 0, 9, 0, 0), BZ_OK);
  e.method = 12;
  const uint8_t* in = (const uint8_t*)raw.data();
  ASSERT_TRUE(pack::DecodeInputEntry(e, in, rawSize, (uint8_t*)&out[0], error)) << error;
  EXPECT_EQ(out.compare(0, plain.size(), plain), 0);
  EXPECT_FALSE(pack::DecodeInputEntry(e, in, rawSize - 5, (uint8_t*)&out[0], error, false));
  for (uint64_t size : {e.size - 1, e.size + 1}) {
    e.size = size;
    EXPECT_FALSE(pack::DecodeInputEntry(e, in, rawSize, (uint8_t*)&out[0], error, false)) << size;
  }
  e.size = 0;
  e.crc = 0;
  EXPECT_TRUE(pack::DecodeInputEntry(e, (const uint8_t*)empty.data(), emptySize, nullptr, error)) << error;
#endif
}

// What Windows starts and the stub reads: a package below 4 GiB, each entry's
// stored data below 2 GiB.
TEST(PackOutput, PackageAndEntryLimits) {
  FILE* sink = fopen("/dev/null", "wb");
  ASSERT_NE(sink, nullptr);
  pack::PackageWriter writer(sink);
  std::string error;
  pack::ZipRecord big;
  big.name = "big.bin";
  big.compressedSize = 0x80000000u;
  EXPECT_FALSE(writer.Add(big, nullptr, 0, error));
  EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
  std::vector<uint8_t> chunk(1 << 20);
  bool written = true;
  for (int i = 0; i < 4096 && written; i++) written = writer.Add(pack::ZipRecord{}, chunk.data(), chunk.size(), error);
  EXPECT_FALSE(written);
  EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
  EXPECT_LT(writer.Position(), 0x100000000u);
  fclose(sink);
}

}  // namespace
