// The name check on its own, and the expansion and launch of the command.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "extract/names.h"
#include "extract/state.h"
#include "launch/command.h"
#include "package/config.h"
#include "platform/host.h"
#include "tests/support/package_builder.h"

namespace {

TEST(EntryNames, RefusesWhatLeavesTheFolderOrNamesADevice) {
  for (const char* name :
       {"", "..", "../x", "a/..", "a\\..\\..\\x", ".. ", "...", "a/. ./b", " ../x", "/x", "\\x",
        "\\\\server\\share\\x", "//server/share", "C:x", "c:\\x", "a/b:c", "x::$DATA", "CON",
        "con.txt", "a/Prn", "AUX .log", "nul.tar.gz", "COM1", "lpt9.x", "com\xB9", "CONIN$",
        "a*b", "a?", "a|b", "a<b", "a>b", "a\"b", "a\tb"})
    EXPECT_FALSE(IsSafeEntryName(name)) << name;
  for (const char* name :
       {"a", "a/b/c.txt", "a\\b", "dir/", "..a", "a..", "a..b/c", "./a", "a/./b", ".hidden",
        "console.txt", "com10", "com0", "lpt", "nul_", "conx.txt", "a b/c d", "\xE9t\xE9.txt"})
    EXPECT_TRUE(IsSafeEntryName(name)) << name;
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

TEST_F(Command, PackageWithoutCommandLaunchesNothing) {
  strcpy(DestFolder, "C:\\Work");
  Config.HasCommand = false;
  RunCommand();
  EXPECT_TRUE(host::Launches().empty());
}

}  // namespace
