// Archives made by real tools during the run, extracted through the engine
// and compared byte for byte with the files they were made from.
#include <filesystem>

#include "tests/engine/engine_fixture.h"

namespace {

struct Tool {
  const char* name;
  const char* command;  // %S: source folder, %Z: zip to write
  const char* password;
};

const char* const PythonZip =
    "python3 -c 'import os,sys,zipfile\n"
    "src,dst=sys.argv[1:]\n"
    "out=open(dst,\"wb\") if dst!=\"-\" else sys.stdout.buffer\n"
    "with zipfile.ZipFile(out,\"w\",zipfile.ZIP_DEFLATED) as z:\n"
    "  for d,dirs,files in sorted(os.walk(src)):\n"
    "    for n in sorted(dirs+files): p=os.path.join(d,n); z.write(p,os.path.relpath(p,src))\n'";

std::string Fill(std::string text, const std::string& src, const std::string& zip) {
  for (size_t at; (at = text.find("%P")) != std::string::npos;) text.replace(at, 2, PythonZip);
  for (size_t at; (at = text.find("%S")) != std::string::npos;) text.replace(at, 2, src);
  for (size_t at; (at = text.find("%Z")) != std::string::npos;) text.replace(at, 2, zip);
  return text;
}

// Nested folders, an empty folder, an empty file, a file of exactly one
// window and a larger partly compressible binary.
void MakeSourceTree(const std::string& src) {
  namespace fs = std::filesystem;
  fs::create_directories(src + "/sub/deep");
  fs::create_directories(src + "/emptydir");
  testpkg::WriteWholeFile(src + "/a.txt", "hello\n");
  testpkg::WriteWholeFile(src + "/empty", "");
  testpkg::WriteWholeFile(src + "/sub/Mixed Case.TXT", std::string(32768, 'w'));
  std::string binary;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; i++) {
    x = x * 1103515245 + 12345;
    binary += static_cast<char>((i % 7 == 0) ? (x >> 16) : (i & 0x3F));
  }
  testpkg::WriteWholeFile(src + "/sub/deep/b.bin", binary);
}

class ToolArchive : public EngineTest, public ::testing::WithParamInterface<Tool> {
 protected:
  std::string src = root / "src";
  void MakeAndOpen() {
    MakeSourceTree(src);
    std::string zip = root / "archive.zip";
    ASSERT_EQ(testpkg::RunCommand(Fill(GetParam().command, src, zip)), 0);
    Open(testpkg::ReadWholeFile(zip));
    if (GetParam().password) host::SetPasswordAnswers({GetParam().password});
  }
  // Whatever the outcome, every file item that is no longer selected was
  // written exactly.
  void ExpectDoneItemsExact() {
    for (const HostListItem& item : Items()) {
      std::string name = item.name.substr(item.name.rfind("./", 0) == 0 ? 2 : 0);
      if (item.selected || name.empty() || name.back() == '/') continue;
      EXPECT_EQ(testpkg::ReadWholeFile(Out(name)), testpkg::ReadWholeFile(src + "/" + name)) << name;
    }
  }
};

class GoodArchive : public ToolArchive {};
class StreamedArchive : public ToolArchive {};

TEST_P(GoodArchive, ExtractsEveryFileAndFolderExactly) {
  MakeAndOpen();
  Extract();
  ExpectMessages({{Success, IconInformation}});
  EXPECT_EQ(State.ExtractSucceeded, 1);
  EXPECT_TRUE(StillSelected().empty());
  EXPECT_EQ(Tree(root / "out"), Tree(src));
  EXPECT_EQ(host::PumpedMessages(), 4);  // one per output file
  // The password typed for the first entry opens all the others.
  EXPECT_EQ(host::PasswordPrompts(), GetParam().password ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, GoodArchive,
    ::testing::Values(Tool{"zip_deflate", "cd %S && zip -q -r -6 %Z .", nullptr},
                      Tool{"zip_stored", "cd %S && zip -q -r -0 %Z .", nullptr},
                      Tool{"zip_password", "cd %S && zip -q -r -6 -P secret %Z .", "secret"},
                      Tool{"sevenzip", "cd %S && 7z a -tzip -bd -bso0 -bsp0 %Z .", nullptr},
                      Tool{"sevenzip_password", "cd %S && 7z a -tzip -bd -bso0 -bsp0 -psecret %Z .",
                           "secret"},
                      // WinZip AES, AE-2: no CRC, the authentication code is the check
                      Tool{"sevenzip_aes256", "cd %S && 7z a -tzip -bd -bso0 -bsp0 -mem=AES256 -psecret %Z .",
                           "secret"},
                      Tool{"sevenzip_aes256_stored",
                           "cd %S && 7z a -tzip -bd -bso0 -bsp0 -mx0 -mem=AES256 -psecret %Z .", "secret"},
                      Tool{"sevenzip_aes128", "cd %S && 7z a -tzip -bd -bso0 -bsp0 -mem=AES128 -psecret %Z .",
                           "secret"},
                      Tool{"sevenzip_aes128_stored",
                           "cd %S && 7z a -tzip -bd -bso0 -bsp0 -mx0 -mem=AES128 -psecret %Z .", "secret"},
                      // stored entries: CRC 0 in the header, the real one in the descriptor
                      Tool{"bsdtar_stored",
                           "bsdtar -c -f %Z --format zip --options zip:compression=store -C %S .",
                           nullptr},
                      Tool{"python", "%P %S %Z", nullptr}),
    [](const ::testing::TestParamInfo<Tool>& info) { return std::string(info.param.name); });

// A WinZip AES archive (AE-2: no CRC) with one byte of an entry's encrypted
// data flipped: a wrong password is asked again, the right one opens every
// entry, and only the authentication code can refuse the damaged one (after
// asking once more, since the remembered password did not open it); nothing
// of it stays behind.
TEST_F(EngineTest, AesEntryWithAFlippedByteIsRefused) {
  std::string src = root / "src", zip = root / "aes.zip";
  MakeSourceTree(src);
  ASSERT_EQ(testpkg::RunCommand("cd " + src + " && 7z a -tzip -bd -bso0 -bsp0 -mx0 -mem=AES256 -psecret " +
                                zip + " ."), 0);
  std::string archive = testpkg::ReadWholeFile(zip);
  size_t header = archive.find("sub/deep/b.bin") - 30;
  size_t data = header + 30 + (uint8_t)archive[header + 26] + 256 * (uint8_t)archive[header + 27] +
                (uint8_t)archive[header + 28] + 256 * (uint8_t)archive[header + 29];
  archive[data + 16 + 2 + 5000] ^= 1;   // past salt and verifier
  Open(archive);
  host::SetPasswordAnswers({"wrong", "secret"});
  Extract();
  ExpectMessages({{Failure, IconHand}});
  EXPECT_EQ(host::PasswordPrompts(), 2);   // the code, not the password: nobody is asked again
  EXPECT_EQ(StillSelected(), std::vector<std::string>{"sub/deep/b.bin"});
  EXPECT_EQ(testpkg::ReadWholeFile(Out("sub/Mixed Case.TXT")), std::string(32768, 'w'));
  EXPECT_FALSE(std::filesystem::exists(Out("sub/deep/b.bin")));
  EXPECT_EQ(std::filesystem::directory_iterator(Out("sub/deep")), std::filesystem::directory_iterator());
}

// Writers to a stream leave the deflated sizes to the descriptor: such an
// entry is reported, never counted as done, and ends the walk.
TEST_P(StreamedArchive, NeverReportsSuccess) {
  MakeAndOpen();
  Extract();
  ASSERT_GE(host::Messages().size(), 2u);
  EXPECT_EQ(host::Messages().front().text, "Error reading archive.");
  EXPECT_EQ(host::Messages().front().icon, IconHand);
  EXPECT_EQ(host::Messages().back().text, Failure);
  EXPECT_EQ(State.ExtractSucceeded, 0);
  EXPECT_FALSE(StillSelected().empty());
  ExpectDoneItemsExact();
}

INSTANTIATE_TEST_SUITE_P(
    Tools, StreamedArchive,
    ::testing::Values(Tool{"bsdtar_deflate", "bsdtar -c -f %Z --format zip -C %S .", nullptr},
                      Tool{"zip_pipe", "cd %S && zip -q -r - . | cat > %Z", nullptr},
                      Tool{"python_pipe", "%P %S - | cat > %Z", nullptr}),
    [](const ::testing::TestParamInfo<Tool>& info) { return std::string(info.param.name); });

}  // namespace
