// The command line: splitting by the Windows rules, the four switches, and
// what the header's switch flag makes of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/state.h"
#include "base/config.h"
#include "package/core.h"
#include "package/switches.h"
#include "tests/support/host_double.h"

namespace {

std::vector<std::string> Split(const char* line) {
  std::vector<std::string> arguments;
  char buffer[300];
  uint32_t length = 0;
  while ((line = NextArgument(line, buffer, sizeof buffer, &length))) {
    EXPECT_EQ(length, strlen(buffer));
    arguments.push_back(buffer);
  }
  return arguments;
}

struct SplitRow {
  const char* line;
  std::vector<std::string> arguments;
};

TEST(CommandLine, ArgumentsByTheWindowsRules) {
  const SplitRow rows[] = {
      {"", {}},
      {" \t ", {}},
      {"a  b\tc", {"a", "b", "c"}},
      {R"("a b c" d e)", {"a b c", "d", "e"}},
      {R"("ab\"c" "\\" d)", {R"(ab"c)", R"(\)", "d"}},
      {R"(a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
      {R"(a\\\"b c d)", {R"(a\"b)", "c", "d"}},
      {R"(a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
      {R"(a"b"" c d)", {R"(ab" c d)"}},          // two quotes inside quotes: one literal quote
      {R"("" x "")", {"", "x", ""}},               // empty arguments
      {R"(x"")", {"x"}},
      {R"("open to the end)", {"open to the end"}},
      {R"(ends\)", {R"(ends\)"}},
      {R"(/D="C:\Program Files\Tool")", {R"(/D=C:\Program Files\Tool)"}},
      {R"("/D=C:\Program Files\Tool\\" /S)", {R"(/D=C:\Program Files\Tool\)", "/S"}},
      // One backslash before the closing quote escapes it: the rest is one argument.
      {R"(/D="C:\Program Files\Tool\" /S)", {R"(/D=C:\Program Files\Tool" /S)"}},
  };
  for (const SplitRow& row : rows) EXPECT_EQ(Split(row.line), row.arguments) << row.line;
}

TEST(CommandLine, ProgramNameHasItsOwnRule) {
  const std::pair<const char*, const char*> rows[] = {
      {R"(C:\p.exe /S)", " /S"},
      {R"("C:\Program Files\p.exe" /S)", " /S"},
      {R"("C:\a b\p.exe"x /S)", " /S"},
      {R"(C:\dir\"a b"\p.exe /S)", " /S"},
      {R"(C:\odd\\" /S)", ""},   // backslashes are literal: the quote opens
      {"p.exe", ""},
  };
  for (const auto& row : rows) EXPECT_STREQ(SkipProgramName(row.first), row.second) << row.first;
}

TEST(CommandLine, LongArgumentIsCutButMeasured) {
  char buffer[4];
  uint32_t length = 0;
  const char* rest = NextArgument(R"("abc\"def" g)", buffer, sizeof buffer, &length);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(length, 7u);
  EXPECT_STREQ(rest, " g");
}

struct SwitchRow {
  std::string line;
  bool silent, help, bad;
  std::string folder, password;
};

TEST(CommandLine, Switches) {
  const std::string folder254(254, 'f'), password79(79, 'p');
  // The command line is UTF-8: the folder's limit counts characters.
  std::string cyrillic254;
  for (int i = 0; i < 254; i++) cyrillic254 += "\xD0\xB6";
  const SwitchRow rows[] = {
      {"p.exe", false, false, false, "", ""},
      {"p.exe /S", true, false, false, "", ""},
      {R"("C:\My Tools\p.exe" /s /d=C:\x)", true, false, false, R"(C:\x)", ""},
      {R"(p.exe /S /D="C:\Program Files\Tool")", true, false, false, R"(C:\Program Files\Tool)", ""},
      {R"(p.exe "/P=two words" /D=##)", false, false, false, "##", "two words"},
      {"p.exe /?", false, true, false, "", ""},
      {"p.exe /D=" + folder254 + " /P=" + password79, false, false, false, folder254, password79},
      {"p.exe /D=" + folder254 + "g", false, false, true, "", ""},
      {"p.exe /D=" + cyrillic254, false, false, false, cyrillic254, ""},
      {"p.exe /D=" + cyrillic254 + "g", false, false, true, "", ""},
      {"p.exe /P=" + password79 + "q /S", true, false, true, "", ""},
      {"p.exe /X", false, false, true, "", ""},
      {"p.exe S", false, false, true, "", ""},
      {"p.exe -S", false, false, true, "", ""},
      {"p.exe /SS", false, false, true, "", ""},
      {"p.exe /", false, false, true, "", ""},
      {R"(p.exe /S "")", true, false, true, "", ""},
      {"p.exe /D= /S", true, false, true, "", ""},
      {"p.exe /P=", false, false, true, "", ""},
      {"p.exe /D", false, false, true, "", ""},
      {"p.exe /D:C:\\x", false, false, true, "", ""},
      {"p.exe /S=1", false, false, true, "", ""},
  };
  for (const SwitchRow& row : rows) {
    CommandSwitches s = {};
    ParseSwitches(row.line.c_str(), s);
    EXPECT_EQ(s.Silent, row.silent) << row.line;
    EXPECT_EQ(s.Help, row.help) << row.line;
    EXPECT_EQ(s.Bad, row.bad) << row.line;
    EXPECT_EQ(s.Folder, row.folder) << row.line;
    EXPECT_EQ(s.Password, row.password) << row.line;
  }
}

// What the start-up makes of the switches once the header is read.
class ApplySwitchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    State = ExtractState();
    StartCore(NoFile);
    Switches = CommandSwitches();
    ExitCode = 0;
    Config.HasFolder = true;
    strcpy(Config.DefaultFolder, "from header");
  }
  void TearDown() override { EndCore(); }
  bool Apply(bool accepts, const char* line) {
    Config.AcceptsSwitches = accepts;
    ParseSwitches(line, Switches);
    return ApplySwitches();
  }
};

TEST_F(ApplySwitchesTest, WithoutTheFlagEverySwitchIsIgnored) {
  EXPECT_TRUE(Apply(false, "p.exe /S /D=C:\\x /P=pw /Q"));
  EXPECT_FALSE(Switches.Silent);
  EXPECT_STREQ(Config.DefaultFolder, "from header");
  EXPECT_STREQ(State.Password, "");
  EXPECT_TRUE(host::Messages().empty());
  EXPECT_EQ(ExitCode, 0u);
}

TEST_F(ApplySwitchesTest, FolderAndPasswordTakeTheirPlaces) {
  EXPECT_TRUE(Apply(true, "p.exe /S /D=C:\\x /P=pw"));
  EXPECT_TRUE(Switches.Silent);
  EXPECT_TRUE(Config.HasFolder);
  EXPECT_STREQ(Config.DefaultFolder, "C:\\x");
  EXPECT_STREQ(State.Password, "pw");
}

// The folder stays UTF-8; the password takes the code page's bytes, as the
// password prompt gives them.
TEST_F(ApplySwitchesTest, FolderStaysUtf8AndPasswordTakesTheCodePage) {
  host::SetLatin1CodePage(true);
  EXPECT_TRUE(Apply(true, "p.exe /D=C:\\\xD0\x9F /P=p\xC3\xA9"));
  EXPECT_STREQ(Config.DefaultFolder, "C:\\\xD0\x9F");
  EXPECT_STREQ(State.Password, "p\xE9");
}

TEST_F(ApplySwitchesTest, NoFolderKeepsTheHeaders) {
  Config.HasFolder = false;
  Config.DefaultFolder[0] = 0;
  EXPECT_TRUE(Apply(true, "p.exe /S"));
  EXPECT_FALSE(Config.HasFolder);
}

TEST_F(ApplySwitchesTest, HelpAndBadSwitchesShowTheListAndEnd) {
  EXPECT_FALSE(Apply(true, "p.exe /?"));
  EXPECT_EQ(ExitCode, uint32_t(ExitDone));
  ASSERT_EQ(host::Messages().size(), 1u);
  EXPECT_NE(host::Messages()[0].text.find("/D=FOLDER"), std::string::npos);
  EXPECT_EQ(host::Messages()[0].icon, uint32_t(IconInformation));

  TearDown();
  SetUp();
  EXPECT_FALSE(Apply(true, "p.exe /S /D=C:\\x /unknown"));
  EXPECT_EQ(ExitCode, uint32_t(ExitBadSwitches));
  EXPECT_STREQ(Config.DefaultFolder, "from header");  // nothing taken from a refused line
}

}  // namespace
