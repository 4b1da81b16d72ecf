// The entry list: list-box order and search, selection, and the look-up of a
// selected name that extraction makes for every entry.
#include <gtest/gtest.h>

#include <random>
#include <strings.h>

#include "archive/walk.h"
#include "base/state.h"
#include "tests/support/host_double.h"

namespace {

class EntryListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    State = ExtractState();
    list_ = GetEntryList(&dialog_, 301);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (auto& item : dialog_.lists[301].Items()) names.push_back(item.name);
    return names;
  }
  void Add(std::initializer_list<const char*> names) {
    for (const char* name : names) ListAdd(list_, name);
  }

  HostDialog dialog_;
  ListHandle list_;
};

TEST_F(EntryListTest, SortedWithoutRegardToCaseKeepingDuplicates) {
  Add({"b.txt", "A.txt", "dir/", "a.txt", "B.TXT", "Dir/x", "a.txt", "_x", "a"});
  // Equal names stay in the order they were added.
  EXPECT_EQ(Names(), (std::vector<std::string>{"_x", "a", "A.txt", "a.txt", "a.txt", "b.txt",
                                                "B.TXT", "dir/", "Dir/x"}));
  EXPECT_EQ(ListCount(list_), 9);
  EXPECT_EQ(ListSelectedCount(list_), 0);  // new items are not selected
  // Items added after the list was read go after their equals just the same.
  ListSelect(list_, 2, true);
  Add({"A.TXT", "0", "dir/"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"0", "_x", "a", "A.txt", "a.txt", "a.txt", "A.TXT",
                                                "b.txt", "B.TXT", "dir/", "dir/", "Dir/x"}));
  EXPECT_TRUE(ListIsSelected(list_, 3));   // the selection moved with its item
  ListClear(list_);
  EXPECT_EQ(ListCount(list_), 0);
}

TEST_F(EntryListTest, FindIsExactWithoutRegardToCaseAndWraps) {
  Add({"a", "ab", "b", "A", "c"});  // order: a, A, ab, b, c
  EXPECT_EQ(ListFind(list_, -1, "a"), 0);
  EXPECT_EQ(ListFind(list_, 0, "a"), 1);   // starts after the given index
  EXPECT_EQ(ListFind(list_, 1, "a"), 0);   // wraps to the top
  EXPECT_EQ(ListFind(list_, 4, "A"), 0);   // after the last item: from the top
  EXPECT_EQ(ListFind(list_, 2, "AB"), 2);  // wraps round up to the start index itself
  EXPECT_EQ(ListFind(list_, -1, "C"), 4);
  EXPECT_EQ(ListFind(list_, -1, "abc"), -1);  // no prefix match
  EXPECT_EQ(ListFind(list_, -1, ""), -1);
  EXPECT_EQ(ListFind(list_, 7, "b"), 3);   // a start beyond the list searches it all
  ListClear(list_);
  EXPECT_EQ(ListFind(list_, -1, "a"), -1);
}

// The find is a binary search; its answers must be those of the plain search
// the list box makes: item after item from the one after 'after', wrapping.
TEST_F(EntryListTest, FindAnswersLikeTheLinearSearch) {
  auto linear = [&](int after, const std::string& name) {
    const auto& items = dialog_.lists[301].Items();
    int count = static_cast<int>(items.size());
    int start = after + 1 >= count || after < 0 ? 0 : after + 1;
    for (int i = 0; i < count && !name.empty(); i++) {
      int index = (start + i) % count;
      if (strcasecmp(items[index].name.c_str(), name.c_str()) == 0) return index;
    }
    return -1;
  };
  const char* pieces[] = {"a", "A", "b", "B", "dir/", "Dir/", "x", "_", ".", "\xE9", "\xC9"};
  std::mt19937 random(7);
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  int searches = 0;
  for (int items : {0, 1, 2, 5, 40, 400}) {
    ListClear(list_);
    std::vector<std::string> names;
    for (int i = 0; i < 2 * items + 3; i++) {
      std::string name;
      for (int k = 1 + pick(4); k > 0; k--) name += pieces[pick(11)];
      names.push_back(name);
      if (i < items) ListAdd(list_, name.c_str());  // the rest are missing from the list
    }
    for (const std::string& name : names)
      for (int after = -1; after <= items; after += 1 + items / 10) {
        ASSERT_EQ(ListFind(list_, after, name.c_str()), linear(after, name)) << name << " after " << after;
        searches++;
      }
  }
  EXPECT_GT(searches, 5000);
}

TEST_F(EntryListTest, Selection) {
  Add({"x", "y", "z"});
  ListSelect(list_, -1, true);
  EXPECT_EQ(ListSelectedCount(list_), 3);
  ListSelect(list_, 1, false);
  EXPECT_FALSE(ListIsSelected(list_, 1));
  EXPECT_TRUE(ListIsSelected(list_, 2));
  EXPECT_FALSE(ListIsSelected(list_, -1));  // -1 is never selected
  EXPECT_FALSE(ListIsSelected(list_, 3));
  ListSelect(list_, 3, false);  // out of range: nothing happens
  EXPECT_EQ(ListSelectedCount(list_), 2);
  ListSelect(list_, -1, false);
  EXPECT_EQ(ListSelectedCount(list_), 0);
  // Lists of one dialog are separate; a missing dialog has an empty list.
  EXPECT_EQ(ListCount(GetEntryList(&dialog_, 302)), 0);
  EXPECT_EQ(ListCount(GetEntryList(nullptr, 301)), 0);
}

// Extraction looks each name up after the previous hit and deselects the
// item of each entry it finishes.
TEST_F(EntryListTest, DuplicatesInARowMatchSuccessiveItems) {
  Add({"same", "other", "same"});  // other, same, same
  ListSelect(list_, -1, true);
  State.LastIndex = -1;
  EXPECT_TRUE(FindSelectedEntry(list_, "same"));
  EXPECT_EQ(State.LastIndex, 1);
  ListSelect(list_, State.LastIndex, false);
  EXPECT_TRUE(FindSelectedEntry(list_, "SAME"));
  EXPECT_EQ(State.LastIndex, 2);
  ListSelect(list_, State.LastIndex, false);
  EXPECT_TRUE(FindSelectedEntry(list_, "other"));
  EXPECT_EQ(State.LastIndex, 0);
}

TEST_F(EntryListTest, AnotherHitBetweenDuplicatesWrapsToTheDoneItem) {
  Add({"x", "y", "x"});  // x, x, y; archive order x, y, x
  ListSelect(list_, -1, true);
  State.LastIndex = -1;
  ASSERT_TRUE(FindSelectedEntry(list_, "x"));
  ListSelect(list_, State.LastIndex, false);
  ASSERT_TRUE(FindSelectedEntry(list_, "y"));
  EXPECT_EQ(State.LastIndex, 2);
  ListSelect(list_, State.LastIndex, false);
  // The search after item 2 wraps to item 0, already done: not extracted.
  EXPECT_FALSE(FindSelectedEntry(list_, "x"));
  EXPECT_EQ(State.LastIndex, 0);
  EXPECT_TRUE(ListIsSelected(list_, 1));
}

TEST_F(EntryListTest, AMissingNameRestartsTheSearchFromTheTop) {
  Add({"a", "b"});
  ListSelect(list_, -1, true);
  State.LastIndex = 1;
  EXPECT_FALSE(FindSelectedEntry(list_, "zzz"));
  EXPECT_EQ(State.LastIndex, -1);
  EXPECT_TRUE(FindSelectedEntry(list_, "a"));
  EXPECT_EQ(State.LastIndex, 0);
}

}  // namespace
