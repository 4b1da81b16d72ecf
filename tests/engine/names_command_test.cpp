// The name check on its own, and the expansion and launch of the command.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "extract/names.h"
#include "base/state.h"
#include "launch/command.h"
#include "base/config.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

TEST(EntryNames, RefusesWhatLeavesTheFolderOrNamesADevice) {
  for (const char* name :
       {"", "..", "../x", "a/..", "a\\..\\..\\x", ".. ", "...", "a/. ./b", " ../x", "/x", "\\x",
        "\\\\server\\share\\x", "//server/share", "C:x", "c:\\x", "a/b:c", "x::$DATA", "CON",
        "con.txt", "a/Prn", "AUX .log", "nul.tar.gz", "COM1", "com0", "lpt9.x", "LPT0.txt", "com\xB9", "CONIN$",
        "CONOUT$", "x/conout$ .txt", "COM9", "a*b", "a?", "a|b", "a<b", "a>b", "a\"b", "a\tb"})
    EXPECT_FALSE(IsSafeEntryName(name, false) || IsSafeEntryName(name, true)) << name;
  for (const char* name :
       {"a", "a/b/c.txt", "a\\b", "dir/", "..a", "a..", "a..b/c", "./a", "a/./b", ".hidden",
        "console.txt", "com10", "lpt", "nul_", "conx.txt", "a b/c d", "co", "conin", "conout", "conout$$",
        "conin$x", "nu", "auxx", "c", "comx", "prn$", "x/con_out$"})
    EXPECT_TRUE(IsSafeEntryName(name, false) && IsSafeEntryName(name, true)) << name;
}

// A UTF-8 name goes to the system as UTF-16: it must be valid, shortest-form
// UTF-8, and look-alikes of separators, dots and colons stay ordinary characters.
TEST(EntryNames, Utf8NamesAreValidatedAndLookAlikesStayCharacters) {
  struct Case {
    const char* name;
    bool utf8Safe;
    bool ansiSafe;  // the same bytes as an ANSI name
  };
  const Case cases[] = {
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80.txt", true, true},  // Привет мир.txt
      {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC/x", true, true},            // Ελληνικά/x
      {"\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x95\xE3\x82\xA1.txt", true, true},                            // 日本/ファ.txt
      {"emoji \xF0\x9F\x98\x80.txt", true, true},                                                     // U+1F600
      {"max \xF4\x8F\xBF\xBF", true, true},                                                           // U+10FFFF
      {"a\xEF\xBC\x8F..\xEF\xBC\x8F" "b", true, true},        // fullwidth solidus U+FF0F around ".."
      {"\xEF\xBC\x8E\xEF\xBC\x8E", true, true},               // two fullwidth full stops U+FF0E
      {"a\xEF\xBC\xBC..", true, true},                          // fullwidth reverse solidus U+FF3C + ".."
      {"C\xEF\xBC\x9A" "x", true, true},                         // fullwidth colon U+FF1A
      {"\xEF\xBC\xA3\xEF\xBC\xAF\xEF\xBC\xAE", true, true},    // fullwidth CON
      {"\xE2\x88\x95..\xE2\x88\x95x", true, true},               // division slash U+2215
      {"COM\xC2\xB9", false, true},          // COM¹: a device in UTF-8; "COMÂ¹" in ANSI
      {"lpt\xC2\xB3.txt", false, true},
      {"COM\xC2\xB9x", true, true},
      {"com\xB9", false, false},              // ANSI COM¹; a stray byte in UTF-8
      {"\xE9t\xE9.txt", false, true},        // ANSI été; not UTF-8
      {"\xC0\xAF..\xC0\xAFx", false, true},   // overlong '/' around ".."
      {"\xC0\xAE\xC0\xAE/x", false, true},    // overlong '.' twice
      {"\xC1\xBF", false, true},
      {"a\xE0\x80\xAF" "b", false, true},     // three-byte overlong '/'
      {"a\xF0\x80\x80\xAF" "b", false, true},  // four-byte overlong '/'
      {"\xE0\x9F\xBF", false, true},          // overlong U+07FF
      {"\xF0\x8F\xBF\xBF", false, true},      // overlong U+FFFF
      {"\xED\xA0\x80", false, true},          // surrogate U+D800
      {"\xED\xBF\xBF", false, true},          // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false, true},      // U+110000
      {"\xF5\x80\x80\x80", false, true},
      {"\xFF", false, true},
      {"a\x80" "b", false, true},              // a stray continuation byte
      {"a\xE2\x82", false, true},             // cut at the end
      {"a\xE2\x82/b", false, true},           // cut before a separator
      {"a\xE2/\x82" "b", false, true},
      {"report\xE2\x80\xAEtxt.exe", false, true},   // U+202E: reads "reportexe.txt"; three plain bytes in ANSI
      {"a\xE2\x80\xAA" "b", false, true},            // U+202A
      {"a\xE2\x81\xA9" "b", false, true},            // U+2069
      {"a\xE2\x80\x8F", false, true},                // U+200F
      {"\xD8\x9C" "a", false, true},                  // U+061C
      {"a\xE2\x80\xAF" "b", true, true},             // U+202F, a narrow space: fine
      {"a\xE2\x81\xA5" "b", true, true},             // U+2065: fine
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSafeEntryName(c.name, true), c.utf8Safe) << "UTF-8 " << c.name;
    EXPECT_EQ(IsSafeEntryName(c.name, false), c.ansiSafe) << "ANSI " << c.name;
  }
}

struct CommandCase {
  const char* command;
  const char* program;
  const char* parameters;
};

class Command : public ::testing::Test {
 protected:
  testpkg::CoreSession core;
  void SetUp() override { host::Reset(); }
  HostLaunch Launch(const char* folder, const char* command) {
    strcpy(DestFolder, folder);
    strcpy(Config.Command, command);
    Config.HasCommand = command[0] != 0;
    host::Launches().clear();
    RunCommand();
    EXPECT_EQ(host::Launches().size(), 1u) << command;
    return host::Launches().empty() ? HostLaunch() : host::Launches()[0];
  }
};

TEST_F(Command, ExpandsTheFolderAndSplitsAtTheFirstBar) {
  const CommandCase cases[] = {
      {"##setup.exe", "C:\\Work\\setup.exe", ""},
      {"##", "C:\\Work\\", ""},
      {"##readme.txt|", "C:\\Work\\readme.txt", ""},
      {"##setup.exe|/S ##", "C:\\Work\\setup.exe", "/S C:\\Work\\"},
      {"notepad.exe|##readme.txt", "notepad.exe", "C:\\Work\\readme.txt"},
      {"a|b|c", "a", "b|c"},
      {"plain.exe /x", "plain.exe /x", ""},
      {"###|####", "C:\\Work\\#", "C:\\Work\\C:\\Work\\"},
  };
  for (const CommandCase& c : cases) {
    HostLaunch launch = Launch("C:\\Work", c.command);
    EXPECT_EQ(launch.program, c.program) << c.command;
    EXPECT_EQ(launch.parameters, c.parameters) << c.command;
  }
  EXPECT_STREQ(DestFolder, "C:\\Work\\");  // the folder keeps its backslash
}

TEST_F(Command, InsertedFolderTextIsNotSearchedAgain) {
  HostLaunch launch = Launch("C:\\A##B\\", "##x|##");
  EXPECT_EQ(launch.program, "C:\\A##B\\x");
  EXPECT_EQ(launch.parameters, "C:\\A##B\\");
  // A folder of the longest length grows the texts far beyond 255 characters.
  std::string folder = "C:\\" + std::string(251, 'f');
  launch = Launch(folder.c_str(), "##|## ## ## ##");
  EXPECT_EQ(launch.program, folder + "\\");
  EXPECT_EQ(launch.parameters.size(), 4 * 255u + 3);
}

// A folder text of 255 characters has no room for the backslash: the
// expansion carries one, unless the text already ends with it.
TEST_F(Command, FullFolderGetsItsBackslashInTheExpansionOnly) {
  std::string folder = "C:\\" + std::string(252, 'f');
  HostLaunch launch = Launch(folder.c_str(), "##a|##");
  EXPECT_EQ(launch.program, folder + "\\a");
  EXPECT_EQ(launch.parameters, folder + "\\");
  EXPECT_EQ(std::string(DestFolder), folder);
  folder.back() = '\\';
  launch = Launch(folder.c_str(), "##a");
  EXPECT_EQ(launch.program, folder + "a");
}

TEST_F(Command, PackageWithoutCommandLaunchesNothing) {
  strcpy(DestFolder, "C:\\Work");
  Config.HasCommand = false;
  RunCommand();
  EXPECT_TRUE(host::Launches().empty());
}

// A package that waits starts its command in the destination; an unattended
// run takes its exit code (or 4 when it cannot start, named in a message and
// the log); an interactive run waits for nothing, and a package that does not
// wait is launched as before.
TEST_F(Command, WaitedCommandGivesTheRunItsEnd) {
  struct Case {
    bool waits, unattended, starts;
    uint32_t code;
    uint32_t end;   // the run's exit code after it (0 before)
    const char* folder;
    bool waited;
    const char* message;
  } cases[] = {
      {true, true, true, 3010, 3010, "C:\\Work\\", true, nullptr},
      {true, true, false, 0, uint32_t(ExitCommandFailed), "C:\\Work\\", true, "Cannot run C:\\Work\\setup.exe"},
      {true, false, true, 7, 0, "C:\\Work\\", false, nullptr},
      {true, false, false, 0, uint32_t(ExitCommandFailed), "C:\\Work\\", false, "Cannot run C:\\Work\\setup.exe"},
      {false, true, true, 7, 0, "", false, nullptr},
      {false, true, false, 0, 0, "", false, nullptr},
  };
  for (const Case& c : cases) {
    std::string name = std::string(c.waits ? "waits" : "no wait") + (c.unattended ? ", /S" : "") +
                       (c.starts ? ", starts" : ", cannot start");
    std::vector<std::string> messages;
    host::SetMessageHandler([&](const HostMessage& m) { messages.push_back(m.text); });
    OpenLog("log");
    Config.WaitForCommand = c.waits;
    State.Unattended = c.unattended;
    host::SetLaunchOutcome(c.starts, c.code);
    strcpy(DestFolder, "C:\\Work");
    strcpy(Config.Command, "##setup.exe|/quiet");
    Config.HasCommand = true;
    host::Launches().clear();
    ExitCode = 0;
    RunCommand();
    EXPECT_EQ(ExitCode, c.end) << name;
    ASSERT_EQ(host::Launches().size(), 1u) << name;
    EXPECT_EQ(host::Launches()[0].folder, c.folder) << name;
    EXPECT_EQ(host::Launches()[0].waited, c.waited) << name;
    std::vector<std::string> log = {"command\tC:\\Work\\setup.exe\t/quiet"};
    if (c.message) log.push_back(c.message);
    EXPECT_EQ(host::LogLines(), log) << name;
    // A message box only where someone sees it; the log has it either way.
    EXPECT_EQ(messages.size(), c.message && !c.unattended ? 1u : 0u) << name;
  }
  host::CloseLog();
  State.Unattended = false;
  ExitCode = 0;
}

}  // namespace
