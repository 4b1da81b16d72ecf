#include "tests/engine/engine_fixture.h"

#include <string.h>

#include <algorithm>
#include <filesystem>

#include "base/reader.h"
#include "package/header.h"
#include "package/switches.h"

void EngineTest::SetUp() {
  host::Reset();
  host::SetRoot(root.path());
  State = ExtractState();
  Switches = CommandSwitches();
  State.OutputFile = NoFile;
  StartCore(NoFile);
  strcpy(DestFolder, "C:\\out");
}

void EngineTest::TearDown() {
  EndCore();
}

void EngineTest::Open(const std::string& zip) {
  if (State.ArchiveFile != NoFile) CloseFileHandle(State.ArchiveFile);
  testpkg::PackageOptions options;
  options.flags = flags;
  package = testpkg::BuildPackage(options, zip);
  UseArchiveFile(host::OpenMemoryFile(package.data(), package.size()));
  ReadPackageHeader();
  ListArchive(&dialog, IDC_ENTRY_LIST);
}

void EngineTest::Extract(bool skipExisting) {
  ListSelect(GetEntryList(&dialog, IDC_ENTRY_LIST), -1, true);
  State.SkipExisting = skipExisting ? 1 : 0;
  host::Messages().clear();
  ExtractArchive(&dialog, IDC_ENTRY_LIST);
}

std::vector<std::string> EngineTest::StillSelected() {
  std::vector<std::string> names;
  for (const HostListItem& item : Items())
    if (item.selected) names.push_back(item.name);
  return names;
}

void EngineTest::ExpectMessages(const Expected& expected) {
  Expected got;
  for (const HostMessage& m : host::Messages()) {
    EXPECT_EQ(m.caption, "Tolvane 4.0 SFX");
    got.emplace_back(m.text, m.icon);
  }
  EXPECT_EQ(got, expected);
}

std::vector<std::pair<std::string, std::string>> Tree(const std::string& dir) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, std::string>> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::string relative = fs::relative(entry.path(), dir).string();
    if (entry.is_directory())
      tree.emplace_back(relative + "/", "");
    else
      tree.emplace_back(relative, testpkg::ReadWholeFile(entry.path().string()));
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}
