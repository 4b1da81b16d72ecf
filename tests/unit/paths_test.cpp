// Text and path utilities; existence tests and folder creation run against a
// real temporary directory standing in for drive C:.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#include "extract/paths.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

std::string Folder(const std::string& path) {
  return path.substr(0, ExtractDir(path.data(), static_cast<uint32_t>(path.size())));
}

TEST(PathTextTest, LengthsAndCountedTexts) {
  EXPECT_EQ(StrLength(""), 0);
  EXPECT_EQ(StrLength("C:\\Dir"), 6);
  std::string long_text(300, 'x');
  EXPECT_EQ(StrLength(long_text.c_str()), 300u);
  // Lengths are 32-bit: past 16 bits StrLength stops at its cap and the
  // character count does not wrap around.
  std::string longer(70000, 'x');
  EXPECT_EQ(StrLength(longer.c_str()), 0xFFFFu);
  EXPECT_EQ(TextCharacters((longer + "\xC3\xA4").c_str()), 70001u);

  EXPECT_EQ(StringFromBuffer("abc", 0), 0);
  EXPECT_EQ(StringFromBuffer("abcdef", 4), 4);      // no NUL within the count
  EXPECT_EQ(StringFromBuffer("ab\0cd", 5), 2);      // cut before the first NUL
  EXPECT_EQ(StringFromBuffer("\0bcd", 4), 0);       // a name starting with NUL is empty
  EXPECT_EQ(StringFromBuffer("abc\0", 4), 3);
}

TEST(PathTextTest, AddAndRemoveBackslash) {
  struct Row {
    const char* in;
    const char* added;
    const char* removed;
  } rows[] = {
      {"", "\\", ""},
      {"C:\\Dir", "C:\\Dir\\", "C:\\Dir"},
      {"C:\\Dir\\", "C:\\Dir\\", "C:\\Dir"},
      {"C:\\", "C:\\", "C:"},
      {"Dir/", "Dir/\\", "Dir/"},
      {"a\\\\", "a\\\\", "a\\"},  // only one backslash goes
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    char buffer[16] = {};
    strcpy(buffer, row.in);
    EXPECT_EQ(AddBackslash(buffer), buffer);
    EXPECT_STREQ(buffer, row.added);
    strcpy(buffer, row.in);
    EXPECT_EQ(RemoveBackslash(buffer), buffer);
    EXPECT_STREQ(buffer, row.removed);
  }
}

TEST(PathTextTest, ExtractDirTable) {
  struct Row {
    const char* path;
    const char* folder;
  } rows[] = {
      {"C:\\Dir\\File.txt", "C:\\Dir"},
      {"C:\\File.txt", "C:\\"},
      {"C:\\", "C:\\"},
      {"C:File.txt", "C:"},
      {"Dir/Sub/File", "Dir/Sub"},
      {"Dir\\", "Dir"},
      {"\\\\Server\\Share\\File", "\\\\Server\\Share"},
      {"File.txt", ""},
      {"\\File.txt", ""},
      {"", ""},
      // Beyond the table: the three-character rule and separators mixed.
      {"C:/", "C:/"},
      {"a:b", "a:b"},
      {"ab:", "ab:"},
      {"C:/File", "C:/"},
      {"Dir\\Sub/File", "Dir\\Sub"},
      {"Dir/b:", "Dir/b:"},
      {"Dir/b:\\File", "Dir/b:"},
      {"/", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(Folder(row.path), row.folder) << "path " << row.path;
}

TEST(PathTextTest, SlashesToBackslashesConvertsTheWholeText) {
  std::string text;
  for (int i = 0; i < 200; i++) text += "a/";
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back(0);
  EXPECT_EQ(SlashesToBackslashes(buffer.data()), buffer.data());
  EXPECT_EQ(strchr(buffer.data(), '/'), nullptr);
  EXPECT_EQ(strlen(buffer.data()), 400u);
}

TEST(PathTextTest, CopyFolderTextLeavesRoomForABackslash) {
  // Heap buffers of the exact size, so the sanitizer sees any overrun.
  std::unique_ptr<char[]> dest(new char[256]);
  std::string source(300, 'f');
  EXPECT_EQ(CopyFolderText(dest.get(), source.c_str()), 254);
  EXPECT_EQ(std::string(dest.get()), std::string(254, 'f'));
  AddBackslash(dest.get());
  EXPECT_EQ(strlen(dest.get()), 255u);

  EXPECT_EQ(CopyFolderText(dest.get(), "C:\\Users\\me\\Temp\\"), 17);
  EXPECT_STREQ(dest.get(), "C:\\Users\\me\\Temp\\");
  EXPECT_EQ(CopyFolderText(dest.get(), ""), 0);
  EXPECT_STREQ(dest.get(), "");
}

class PathFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetRoot(dir_.path());
    ForgetKnownFolder();
  }
  void TearDown() override { host::Reset(); }

  bool Exists(std::string path) {
    std::vector<char> text(path.begin(), path.end());
    text.push_back(0);
    return PathExists(text.data());
  }
  bool IsFolder(const std::string& relative) {
    struct stat info;
    return stat((dir_ / relative).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  void Force(const std::string& path) {
    ForceFolders(path.data(), static_cast<uint32_t>(path.size()));
  }
  void MakeFile(const std::string& relative) { testpkg::WriteWholeFile(dir_ / relative, "x"); }

  testpkg::TempDir dir_;
};

TEST_F(PathFileSystemTest, PathExists) {
  // An empty drive root: nothing to list.
  EXPECT_FALSE(Exists("C:\\"));
  EXPECT_FALSE(Exists("C:\\Dir"));

  std::filesystem::create_directory(dir_ / "Dir");
  EXPECT_TRUE(Exists("C:\\"));
  EXPECT_TRUE(Exists("C:\\Dir"));
  EXPECT_TRUE(Exists("C:\\Dir\\"));  // an empty folder still lists itself
  EXPECT_TRUE(Exists("\\Dir"));
  EXPECT_FALSE(Exists("C:\\Dir\\File.txt"));

  MakeFile("Dir/File.txt");
  EXPECT_TRUE(Exists("C:\\Dir\\File.txt"));
  EXPECT_FALSE(Exists("C:\\Dir\\File.txt\\"));  // a file lists nothing
  EXPECT_TRUE(Exists("C:\\Dir\\*.txt"));        // wildcards act as a pattern
  EXPECT_FALSE(Exists("C:\\Dir\\*.doc"));
  EXPECT_TRUE(Exists("C:\\Dir\\File.???"));
}

TEST_F(PathFileSystemTest, PathExistsConvertsTheCallersSlashes) {
  std::filesystem::create_directory(dir_ / "Dir");
  MakeFile("Dir/File.txt");
  char path[] = "C:/Dir/File.txt";
  EXPECT_TRUE(PathExists(path));
  EXPECT_STREQ(path, "C:\\Dir\\File.txt");

  // With a trailing backslash only the work area is converted.
  char folder[] = "C:/Dir\\";
  EXPECT_TRUE(PathExists(folder));
  EXPECT_STREQ(folder, "C:/Dir\\");
}

TEST_F(PathFileSystemTest, PathExistsWorkAreaLimit) {
  // "\<name>\" plus "*.*" and the terminator must fit 255 bytes.
  std::string fits(249, 'n');     // "\" + 249 + "\" = 251 characters
  std::string tooLong(250, 'o');  // 252 characters
  std::filesystem::create_directory(dir_ / fits);
  std::filesystem::create_directory(dir_ / tooLong);
  EXPECT_TRUE(Exists("\\" + fits + "\\"));
  EXPECT_FALSE(Exists("\\" + tooLong + "\\"));
  EXPECT_TRUE(Exists("\\" + tooLong));
  // Far beyond the work area: false, and nothing written out of bounds.
  EXPECT_FALSE(Exists("C:\\" + std::string(2000, 'p') + "\\"));
}

TEST_F(PathFileSystemTest, ForceFoldersCreatesMissingParents) {
  std::filesystem::create_directory(dir_ / "A");
  Force("C:\\A\\B\\C");
  EXPECT_TRUE(IsFolder("A/B"));
  EXPECT_TRUE(IsFolder("A/B/C"));

  Force("C:\\New\\");  // the trailing backslash goes first
  EXPECT_TRUE(IsFolder("New"));

  Force("C:/Fwd/Slash/Dirs");
  EXPECT_TRUE(IsFolder("Fwd/Slash/Dirs"));

  Force("\\Rooted\\Path");
  EXPECT_TRUE(IsFolder("Rooted/Path"));

  // Existing folders are left alone; a second call changes nothing.
  Force("C:\\A\\B\\C");
  EXPECT_TRUE(IsFolder("A/B/C"));
}

// The folder last made or found, and its parents, are not asked for again
// until ForgetKnownFolder; a name that merely starts like it is no parent.
TEST_F(PathFileSystemTest, ForceFoldersTakesTheLastFolderAsKnown) {
  Force("C:\\A\\Bc\\D");
  Force("C:\\A\\B\\E");
  EXPECT_TRUE(IsFolder("A/Bc/D"));
  EXPECT_TRUE(IsFolder("A/B/E"));
  std::filesystem::remove_all(dir_ / "A");
  Force("C:\\A\\B\\E");
  Force("C:\\A\\B");
  EXPECT_FALSE(IsFolder("A"));
  Force("C:\\A\\B\\E\\F");  // below the known folder: only the new level is made
  EXPECT_FALSE(IsFolder("A"));
  ForgetKnownFolder();
  Force("C:\\A\\B\\E");
  EXPECT_TRUE(IsFolder("A/B/E"));
}

TEST_F(PathFileSystemTest, ForceFoldersCreatesNothingForShortPaths) {
  for (const char* path : {"C:\\", "C:", "\\", "", "C:\\\\"}) Force(path);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  // Only drives are special: a short relative folder is made where it is named.
  std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  Force("ab\\x");
  std::filesystem::current_path(saved);
  EXPECT_TRUE(IsFolder("ab/x"));
}

TEST_F(PathFileSystemTest, ForceFoldersStopsAtAComponentEndingInColon) {
  std::filesystem::create_directory(dir_ / "A");
  Force("C:\\A\\b:");
  Force("C:\\A\\b:\\c");
  Force("C:\\A\\x:y\\b:");
  Force("a:b");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "A"));
  std::string name = "\\A\\b:\\c";
  std::vector<char> text(name.begin(), name.end());
  text.push_back(0);
  EXPECT_FALSE(PathExists(text.data()));
}

TEST_F(PathFileSystemTest, ForceFoldersReportsNothingWhenRefused) {
  MakeFile("Blocker");
  Force("C:\\Blocker\\Sub");  // a file stands where a folder should be
  EXPECT_FALSE(Exists("C:\\Blocker\\Sub"));
  EXPECT_FALSE(IsFolder("Blocker"));
  std::string blocker = "C:\\Blocker";
  EXPECT_FALSE(ForceFolders(blocker.data(), (uint32_t)blocker.size()));   // the file is not the folder

  // Longer than 16 bits count: refused by ForceFolders itself, not cut.
  std::string wide = "C:\\Wide\\" + std::string(0x10000 + 6, 'w');
  Force(wide);
  EXPECT_FALSE(IsFolder("Wide"));

  // Longer than the copy ForceFolders works on: nothing is created.
  std::string deep = "C:\\Deep";
  while (deep.size() <= ForceFoldersLimit) deep += "\\d";
  Force(deep);
  EXPECT_FALSE(IsFolder("Deep"));
  // The longest accepted path still works.
  deep.resize(ForceFoldersLimit);
  if (deep.back() == '\\') deep.back() = 'e';
  Force(deep);
  EXPECT_TRUE(IsFolder("Deep/d"));
}

}  // namespace
