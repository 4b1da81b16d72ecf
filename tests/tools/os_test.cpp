// The POSIX side of the tool's operating-system layer on a real folder: what
// each kind of path reports. (The pending package is every create's, checked
// by pack_cli.py; the Windows side runs through the tool, in pack_windows.py.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tools/os/os.h"
#include "tools/pack/util.h"

namespace {

struct Folder {
  std::string path = os::MakeTempFolder("tolvane-os-test");
  ~Folder() { pack::RemoveTree(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void Write(const std::string& path, const std::string& data) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

TEST(PackOs, EachKindOfPath) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty());
  Write(dir / "file", "12345");
  chmod((dir / "file").c_str(), 0755);
  ASSERT_TRUE(os::MakeFolder(dir / "sub"));
  EXPECT_TRUE(os::MakeFolder(dir / "sub")) << "an existing folder is made";
  EXPECT_FALSE(os::MakeFolder(dir / "file")) << "a file is not a folder";
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink("gone", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);

  using K = os::FileStatus;
  struct Case { const char* name; K::Kind followed, own; };
  const Case cases[] = {
      {"file", K::File, K::File},       {"sub", K::Folder, K::Folder}, {"link", K::File, K::Link},
      {"dangling", K::Missing, K::Link}, {"pipe", K::Pipe, K::Pipe},   {"none", K::Missing, K::Missing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os::Status(dir / c.name, true).kind, c.followed) << c.name;
    EXPECT_EQ(os::Status(dir / c.name, false).kind, c.own) << c.name;
  }
  os::FileStatus file = os::Status(dir / "file", true), link = os::Status(dir / "link", true);
  EXPECT_EQ(file.size, 5u);
  EXPECT_TRUE(file.runnable);
  EXPECT_TRUE(file.volume == link.volume && file.id == link.id) << "a link leads to its file";
  std::vector<std::string> names;
  ASSERT_TRUE(os::ListFolder(dir.path, names));
  EXPECT_EQ(names.size(), 5u);
  EXPECT_FALSE(os::RenameNew(dir / "link", dir / "file")) << "nothing is replaced";
}

}  // namespace
