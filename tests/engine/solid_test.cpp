// Solid packages through the engine: two blocks behind a folder and an empty
// file, extracted whole, with entries deselected, kept, damaged, encrypted,
// or with a dictionary that cannot be had.
#include <filesystem>
#include <set>

#include "codec/lzma.h"
#include "tests/engine/engine_fixture.h"

using testpkg::ZipEntry;

namespace {

std::string Content(const std::string& name, size_t size) {
  std::string s;
  for (unsigned i = 0; s.size() < size; i++) s += name + " line " + std::to_string(i * 7919 % 1000) + "\n";
  s.resize(size);
  return s;
}

struct Case {
  const char* what;
  bool aes = false;
  std::set<std::string> deselected;
  std::set<std::string> existing;      // files there before, kept (the run keeps existing files)
  std::string damaged;                 // an entry whose first chunk header is broken
  size_t allocationLimit = SIZE_MAX;
  std::set<std::string> failing;       // left selected
  Expected messages;
};

class SolidEngine : public EngineTest {
 protected:
  std::vector<std::pair<std::string, std::string>> files;

  std::string Build(const Case& c) {
    // Block a: 1 MiB dictionary; block b: 64 KiB.
    std::vector<std::string> a, b;
    files.clear();
    for (int i = 0; i < 5; i++) files.push_back({"a/" + std::to_string(i) + ".txt", Content("a" + std::to_string(i), 30000)});
    for (int i = 0; i < 3; i++) files.push_back({"b/" + std::to_string(i) + ".txt", Content("b" + std::to_string(i), 9000)});
    for (int i = 0; i < 5; i++) a.push_back(files[i].second);
    for (int i = 5; i < 8; i++) b.push_back(files[i].second);
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    options.dict_size = 1 << 20;
    std::vector<std::string> data = testpkg::SolidBlock(a, &options);
    options.dict_size = 1 << 16;
    for (const std::string& d : testpkg::SolidBlock(b, &options)) data.push_back(d);
    std::vector<ZipEntry> entries(2);
    entries[0].name = "docs/";
    entries[1].name = "empty.txt";
    for (size_t i = 0; i < files.size(); i++) {
      ZipEntry e;
      e.name = files[i].first;
      e.data = files[i].second;
      e.method = MethodSolid;
      e.compressed = data[i];
      if (e.name == c.damaged) e.compressed[1] = 0x03;
      e.aes = c.aes;
      if (c.aes) e.password = "pw";
      entries.push_back(e);
    }
    return testpkg::BuildZip(entries);
  }
};

TEST_F(SolidEngine, BlocksExtractInOrderAndFailTogether) {
  Case cases[] = {
      {"every entry", false, {}, {}, "", SIZE_MAX, {}, {{Success, IconInformation}}},
      {"deselected entries are decoded for the later ones, not written", false, {"a/1.txt", "a/3.txt", "b/0.txt"},
       {}, "", SIZE_MAX, {}, {{Success, IconInformation}}},
      {"existing files are kept and decoded", false, {}, {"a/0.txt", "a/2.txt"}, "", SIZE_MAX, {},
       {{Success, IconInformation}}},
      {"a damaged entry fails the rest of its block only", false, {}, {}, "a/2.txt", SIZE_MAX,
       {"a/2.txt", "a/3.txt", "a/4.txt"}, {{Failure, IconHand}}},
      {"damage in a deselected entry fails the later ones", false, {"a/1.txt"}, {}, "a/1.txt", SIZE_MAX,
       {"a/2.txt", "a/3.txt", "a/4.txt"}, {{Failure, IconHand}}},
      {"AES", true, {"a/4.txt"}, {}, "", SIZE_MAX, {}, {{Success, IconInformation}}},
      {"AES, damaged", true, {}, {}, "b/1.txt", SIZE_MAX, {"b/1.txt", "b/2.txt"}, {{Failure, IconHand}}},
      {"a dictionary that cannot be had", false, {}, {}, "", 500000,
       {"a/0.txt", "a/1.txt", "a/2.txt", "a/3.txt", "a/4.txt"},
       {{"Not enough memory to extract a/0.txt", IconExclamation}, {Failure, IconHand}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    std::filesystem::remove_all(Out(""));
    ForgetSolidBlock();
    Open(Build(c));
    std::filesystem::create_directories(Out("a"));
    for (const std::string& name : c.existing) testpkg::WriteWholeFile(Out(name), "old");
    host::SetPasswordAnswers({"pw"});
    ListHandle list = GetEntryList(&dialog, IDC_ENTRY_LIST);
    ListSelect(list, -1, true);
    for (size_t i = 0; i < Items().size(); i++)
      if (c.deselected.count(Items()[i].name)) ListSelect(list, (int)i, false);
    State.SkipExisting = !c.existing.empty();
    host::Messages().clear();
    host::SetAllocationLimit(c.allocationLimit);
    ExtractArchive(&dialog, IDC_ENTRY_LIST);
    host::SetAllocationLimit(SIZE_MAX);
    ExpectMessages(c.messages);
    std::vector<std::string> failing(c.failing.begin(), c.failing.end());
    EXPECT_EQ(StillSelected(), failing);
    Files expected = {{"a/", ""}, {"b/", ""}, {"docs/", ""}, {"empty.txt", ""}};
    for (const auto& f : files) {
      if (c.existing.count(f.first)) expected.push_back({f.first, "old"});
      else if (!c.deselected.count(f.first) && !c.failing.count(f.first)) expected.push_back(f);
    }
    std::sort(expected.begin(), expected.end());
    Files tree = Tree(Out(""));
    std::sort(tree.begin(), tree.end());
    EXPECT_TRUE(tree == expected) << "the files written differ";
    EXPECT_EQ(host::PasswordPrompts(), c.aes ? 1 : 0);
  }
  ForgetSolidBlock();
}

}  // namespace
