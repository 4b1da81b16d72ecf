// The host side of the seam: path mapping, the folder search, the folder
// queries, real and in-memory files, and the recorded dialogs.
#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>

#include "base/state.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"

namespace {

class HostSeamTest : public ::testing::Test {
 protected:
  void SetUp() override { host::Reset(); }
  void TearDown() override { host::Reset(); }
};

TEST_F(HostSeamTest, PathMapping) {
  EXPECT_EQ(host::ToHostPath("C:\\Dir\\File.txt"), "/Dir/File.txt");
  EXPECT_EQ(host::ToHostPath("dir/file"), "dir/file");
  EXPECT_EQ(host::ToHostPath("/tmp/x"), "/tmp/x");
  host::SetRoot("/srv/root/");
  EXPECT_EQ(host::ToHostPath("C:\\Dir\\File.txt"), "/srv/root/Dir/File.txt");
  EXPECT_EQ(host::ToHostPath("z:/a"), "/srv/root/a");
  EXPECT_EQ(host::ToHostPath("\\a"), "/srv/root/a");
  EXPECT_EQ(host::ToHostPath("C:rel"), "rel");  // relative paths stay relative
  EXPECT_EQ(host::ToHostPath("1:\\a"), "1:/a");  // not a drive letter
}

TEST_F(HostSeamTest, FindAnyOnARealFolder) {
  testpkg::TempDir dir;
  host::SetRoot(dir.path());
  EXPECT_FALSE(FindAny("C:\\*.*"));  // an empty root lists nothing
  EXPECT_FALSE(FindAny("C:\\*"));
  std::filesystem::create_directory(dir / "Empty");
  EXPECT_TRUE(FindAny("C:\\*.*"));
  EXPECT_TRUE(FindAny("C:\\Empty"));
  EXPECT_TRUE(FindAny("C:\\Empty\\*.*"));  // "." of a non-root folder
  EXPECT_TRUE(FindAny("C:\\Empty\\*"));
  EXPECT_FALSE(FindAny("C:\\Empty\\*.txt"));
  EXPECT_FALSE(FindAny("C:\\Missing\\*.*"));
  EXPECT_FALSE(FindAny("C:\\Empty\\"));  // a bare trailing separator finds nothing
  EXPECT_FALSE(FindAny(""));
  testpkg::WriteWholeFile(dir / "Empty/Note.TXT", "n");
  EXPECT_TRUE(FindAny("C:\\Empty\\*.txt"));  // patterns ignore case
  EXPECT_TRUE(FindAny("C:\\Empty\\N?te.TXT"));
}

TEST_F(HostSeamTest, FolderQueriesFollowTheWin32Rule) {
  char buffer[8];
  EXPECT_EQ(GetCurrentFolder(buffer, sizeof buffer), 0u);  // not set: fails
  EXPECT_EQ(GetTempFolder(buffer, sizeof buffer), 0u);
  host::SetCurrentFolder("C:\\Work");  // 7 characters
  memset(buffer, 'q', sizeof buffer);
  EXPECT_EQ(GetCurrentFolder(buffer, 7), 8u);  // too small: the size needed, nothing written
  EXPECT_EQ(buffer[0], 'q');
  EXPECT_EQ(GetCurrentFolder(buffer, 8), 7u);
  EXPECT_STREQ(buffer, "C:\\Work");
  host::SetTempFolder("C:\\T\\");
  EXPECT_EQ(GetTempFolder(buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "C:\\T\\");

  char path[11];
  host::SetProgramPath("C:\\pkg.exe");
  EXPECT_EQ(GetProgramPath(path, 10), 0u);  // a path cut would name another file
  EXPECT_EQ(GetProgramPath(path, sizeof path), 10u);
  EXPECT_STREQ(path, "C:\\pkg.exe");
}

TEST_F(HostSeamTest, RealFiles) {
  testpkg::TempDir dir;
  host::SetRoot(dir.path());
  // A new file is there only once kept: one closed without it, or left by a
  // killed run, is gone; its name stays free until then, and a taken one is refused.
  FileHandle dropped = CreateNewFile("C:\\out.bin");
  ASSERT_NE(dropped, NoFile);
  EXPECT_EQ(WriteFileBytes(dropped, "dropped", 7), 7u);
  EXPECT_TRUE(CloseFileHandle(dropped));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  FileHandle out = CreateNewFile("C:\\out.bin");
  ASSERT_NE(out, NoFile);
  EXPECT_EQ(WriteFileBytes(out, "0123456789", 10), 10u);
  EXPECT_TRUE(KeepNewFile(out));
  EXPECT_TRUE(CloseFileHandle(out));
  EXPECT_EQ(CreateNewFile("C:\\out.bin"), NoFile);
  EXPECT_EQ(CreateNewFile("C:\\missing\\out.bin"), NoFile);

  FileHandle in = OpenReadFile("C:\\out.bin");
  ASSERT_NE(in, NoFile);
  char buffer[16] = {};
  EXPECT_EQ(SeekFile(in, 4), 4u);
  EXPECT_EQ(ReadFileBytes(in, buffer, 16), 6u);
  EXPECT_STREQ(buffer, "456789");
  EXPECT_EQ(SeekFile(in, 100), 100u);  // beyond the end: allowed, reads nothing
  EXPECT_EQ(ReadFileBytes(in, buffer, 4), 0u);
  EXPECT_TRUE(CloseFileHandle(in));

  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(OpenReadFile("C:\\folder"), NoFile);  // a folder is not a file
  EXPECT_EQ(OpenReadFile("C:\\nothing"), NoFile);
  EXPECT_FALSE(CloseFileHandle(NoFile));
  EXPECT_EQ(ReadFileBytes(NoFile, buffer, 4), 0u);
  EXPECT_EQ(SeekFile(NoFile, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(MakeFolder("C:\\made"));
  EXPECT_FALSE(MakeFolder("C:\\made"));
  EXPECT_FALSE(MakeFolder("C:\\no\\parent"));

  // Files are created and moved in the folder of the one before: a folder
  // removed and made again in between is the new one, not the one removed.
  for (int round = 0; round < 2; round++) {
    std::filesystem::remove_all(dir / "made");
    ASSERT_TRUE(MakeFolder("C:\\made"));
    FileHandle file = CreateNewFile("C:\\made\\~tv00.tmp");
    ASSERT_NE(file, NoFile) << round;
    KeepNewFile(file);
    CloseFileHandle(file);
    EXPECT_TRUE(MoveOntoFile("C:\\made\\~tv00.tmp", "C:\\made\\f.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "made/f.txt")) << round;
  }
  // A move to another folder moves that file, not the one of the same name
  // in the target's folder.
  ASSERT_TRUE(MakeFolder("C:\\other"));
  for (const char* path : {"C:\\made\\same", "C:\\other\\same"}) {
    FileHandle file = CreateNewFile(path);
    WriteFileBytes(file, path, 8);
    KeepNewFile(file);
    CloseFileHandle(file);
  }
  EXPECT_TRUE(MoveOntoFile("C:\\made\\same", "C:\\other\\moved"));
  EXPECT_TRUE(std::filesystem::exists(dir / "other/same"));
  EXPECT_FALSE(std::filesystem::exists(dir / "made/same"));
}

TEST_F(HostSeamTest, MemoryFilesAndSinks) {
  const char data[] = "abcdef";
  FileHandle in = host::OpenMemoryFile(data, 6);
  char buffer[8] = {};
  EXPECT_EQ(ReadFileBytes(in, buffer, 4), 4u);
  EXPECT_EQ(ReadFileBytes(in, buffer + 4, 4), 2u);
  EXPECT_STREQ(buffer, "abcdef");
  EXPECT_EQ(SeekFile(in, 1), 1u);
  EXPECT_EQ(ReadFileBytes(in, buffer, 1), 1u);
  EXPECT_EQ(buffer[0], 'b');
  EXPECT_TRUE(CloseFileHandle(in));

  std::string sink;
  FileHandle out = host::CreateMemorySink(&sink);
  WriteFileBytes(out, "xy", 2);
  WriteFileBytes(out, "z", 1);
  EXPECT_TRUE(CloseFileHandle(out));
  EXPECT_EQ(sink, "xyz");
}

TEST_F(HostSeamTest, MemoryFileSystem) {
  host::UseMemoryFileSystem(true);
  host::SetRoot("/r");
  EXPECT_FALSE(FindAny("C:\\*.*"));
  EXPECT_EQ(CreateNewFile("C:\\A\\f.txt"), NoFile);  // no folder A yet
  EXPECT_TRUE(MakeFolder("C:\\A"));
  EXPECT_FALSE(MakeFolder("C:\\A"));
  EXPECT_TRUE(FindAny("C:\\*.*"));
  EXPECT_TRUE(FindAny("C:\\A\\*.*"));
  FileHandle out = CreateNewFile("C:\\A\\f.txt");
  ASSERT_NE(out, NoFile);
  WriteFileBytes(out, "hello", 5);
  CloseFileHandle(out);
  EXPECT_EQ(host::MemoryFiles()["/r/A/f.txt"], "hello");
  EXPECT_TRUE(FindAny("C:\\A\\f.txt"));
  EXPECT_TRUE(FindAny("C:\\A\\*.TXT"));
  EXPECT_EQ(CreateNewFile("C:\\A"), NoFile);  // a folder stands there
  FileHandle in = OpenReadFile("C:/A/f.txt");
  char buffer[8] = {};
  EXPECT_EQ(ReadFileBytes(in, buffer, 8), 5u);
  EXPECT_STREQ(buffer, "hello");
  CloseFileHandle(in);
  host::Reset();
  EXPECT_TRUE(host::MemoryFiles().empty());
}

TEST_F(HostSeamTest, RecordedDialogs) {
  std::vector<std::string> seen;
  host::SetMessageHandler([&](const HostMessage& m) { seen.push_back(m.text); });
  ShowMessage("text", "caption", IconHand);
  ASSERT_EQ(host::Messages().size(), 1u);
  EXPECT_EQ(host::Messages()[0].caption, "caption");
  EXPECT_EQ(host::Messages()[0].icon, 0x10u);
  EXPECT_EQ(seen, std::vector<std::string>{"text"});

  host::SetPasswordAnswers({"first", std::string(100, 'p')});
  char password[80];
  EXPECT_EQ(AskPassword(password), 5u);
  EXPECT_STREQ(password, "first");
  EXPECT_EQ(AskPassword(password), 79u);  // at most 79 characters
  EXPECT_EQ(strlen(password), 79u);
  EXPECT_EQ(AskPassword(password), 0u);  // the queue ran dry
  EXPECT_EQ(host::PasswordPrompts(), 3);

  HostDialog dialog;
  ShowProgress(&dialog, "C:\\out\\a");
  dialog.hasProgressField = false;
  ShowProgress(&dialog, "C:\\out\\b");
  EXPECT_EQ(dialog.progress, "C:\\out\\a");
  EXPECT_EQ(dialog.progressLog.size(), 1u);

  int calls = 0;
  host::SetPumpHandler([&] { calls++; });
  PumpOneMessage();
  PumpOneMessage();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(host::PumpedMessages(), 2);

  ShellOpen("C:\\x\\run.exe", "-a", nullptr, nullptr);
  ASSERT_EQ(host::Launches().size(), 1u);
  EXPECT_EQ(host::Launches()[0].parameters, "-a");
}

}  // namespace
