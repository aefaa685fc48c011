// The walk's pure pieces without the registry: which value names spell a
// target's index, the index list's sort and de-duplication, the order of the
// indices visited, and which directory texts are full paths. The cheap place for the next edge
// case.
#include "discovery/target_indices.h"

#include <limits.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"

namespace {

TEST(TargetWalkIndices, NameSpellingsTable) {
  static const struct {
    const char* name;
    const char* prefix;
    int index;  // -1: not a target name
  } cases[] = {
      {"Target0", "Target", 0},
      {"Target7", "Target", 7},
      {"Target10", "Target", 10},
      {"target3", "Target", 3},
      {"TARGET3", "Target", 3},
      {"tArGeT12", "TaRgEt", 12},
      {"Target2147483647", "Target", 2147483647},
      {"Target2147483648", "Target", -1},
      {"Target4294967297", "Target", -1},
      {"Target99999999999999999999", "Target", -1},
      {"Target", "Target", -1},
      {"Target00", "Target", -1},
      {"Target007", "Target", -1},
      {"Target+5", "Target", -1},
      {"Target-1", "Target", -1},
      {"Target 5", "Target", -1},
      {"Target5 ", "Target", -1},
      {"Target5x", "Target", -1},
      // The bytes on either side of the digits: '/' below '0', ':' above '9'.
      {"Target1:", "Target", -1},
      {"Target/1", "Target", -1},
      {"Target0x10", "Target", -1},
      {"Target1.0", "Target", -1},
      {"Targe5", "Target", -1},
      {"XTarget5", "Target", -1},
      {"TargetTarget1", "Target", -1},
      {"Target\xB9", "Target", -1},      // superscript one in code page 1252
      {"Target\xA3\xB5", "Target", -1},  // full-width five in code page 936
      {"", "Target", -1},
      {"5", "", 5},
      {"05", "", -1},
      {"Dir1", "Dir", 1},
      {"Target1", "Dir", -1},
      // Only ASCII letters fold: 0xC0 and 0xE0 are two letters to this rule.
      {"\xE0"
       "1",
       "\xC0", -1},
      {"\xC0"
       "1",
       "\xC0", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.index, TargetIndexOf(c.name, c.prefix))
        << "name '" << c.name << "' prefix '" << c.prefix << "'";
  }
}

TEST(TargetWalkIndices, ListSortsAndKeepsEachIndexOnceTable) {
  typedef std::vector<int> Ints;
  static const struct {
    const char* name;
    Ints added;
    Ints listed;
  } cases[] = {
      {"empty", {}, {}},
      {"one", {5}, {5}},
      {"ascending", {1, 2, 3}, {1, 2, 3}},
      {"descending", {9, 4, 1}, {1, 4, 9}},
      {"as the registry lists text", {10, 2, 1, 20}, {1, 2, 10, 20}},
      {"repeats", {7, 7, 7}, {7}},
      {"repeats apart", {3, 1, 3, 2, 1}, {1, 2, 3}},
      {"repeat first and last", {4, 9, 4}, {4, 9}},
      {"range ends", {2147483647, 0, 2147483647, 0}, {0, 2147483647}},
      {"heap order", {8, 3, 10, 1, 6, 14, 4, 7, 13}, {1, 3, 4, 6, 7, 8, 10, 13, 14}},
  };
  for (const auto& c : cases) {
    TargetIndexList list;
    EXPECT_EQ(1, list.Reserve(static_cast<DWORD>(c.added.size()))) << c.name;
    for (int index : c.added) EXPECT_EQ(1, list.Add(index)) << c.name;
    list.SortUnique();
    Ints listed;
    for (DWORD k = 0; k < list.size(); ++k) listed.push_back(list.at(k));
    EXPECT_EQ(c.listed, listed) << c.name;
  }
}

// The list holds what it reserved and no more, and its one block goes back.
TEST(TargetWalkIndices, ListRefusesPastItsCapacityAndReleasesItsBlock) {
  long outstanding = AllocatedBlocks() - ReleasedBlocks();
  {
    TargetIndexList list;
    ASSERT_EQ(1, list.Reserve(2));
    EXPECT_EQ(0, list.Reserve(2));
    EXPECT_EQ(1, list.Add(4));
    EXPECT_EQ(1, list.Add(3));
    EXPECT_EQ(0, list.Add(9));
    list.SortUnique();
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(3, list.at(0));
    EXPECT_EQ(4, list.at(1));
    EXPECT_EQ(outstanding + 1, AllocatedBlocks() - ReleasedBlocks());
  }
  EXPECT_EQ(outstanding, AllocatedBlocks() - ReleasedBlocks());
  TargetIndexList none;
  EXPECT_EQ(1, none.Reserve(0));
  EXPECT_EQ(0, none.Add(1));
  TargetIndexList starved;
  testing_support::FailingAllocation failing(1);
  EXPECT_EQ(0, starved.Reserve(4));
  failing.End();
  EXPECT_EQ(0, starved.Add(1));
  EXPECT_EQ(0, TargetIndexList().Reserve(MAXDWORD / sizeof(int) + 1));
}

// The order of the walk's indices: each in turn, the gaps stepped over, and
// at the first gap (and only there) the choice of a list instead. Each row
// plays a walk: the indices in `gaps` hold no value, and at `list_at` the
// walk takes the list `listed`.
TEST(TargetWalkIndices, SourceGivesEachIndexThenOnlyTheListedOnesTable) {
  typedef std::vector<int> Ints;
  static const struct {
    const char* name;
    int end;
    Ints gaps;
    int list_at;  // -1: no list taken
    Ints listed;
    Ints visited;
    std::vector<DWORD> left;  // Gap()'s answer at each gap, in order
  } cases[] = {
      {"no index", 0, {}, -1, {}, {}, {}},
      {"negative end", INT_MIN, {}, -1, {}, {}, {}},
      {"every index in turn", 3, {}, -1, {}, {0, 1, 2}, {}},
      {"gaps stepped over", 5, {1, 3}, -1, {}, {0, 1, 2, 3, 4}, {3, 0}},
      {"gap at the last index", 3, {2}, -1, {}, {0, 1, 2}, {0}},
      {"gap at the first index", 4, {0}, -1, {}, {0, 1, 2, 3}, {3}},
      {"list at the first gap",
       0x7FFFFFFF,
       {1},
       1,
       {7, 2000000000},
       {0, 1, 7, 2000000000},
       {0x7FFFFFFD}},
      {"empty list ends the walk", 0x7FFFFFFF, {0}, 0, {}, {0}, {0x7FFFFFFE}},
      {"list up to the top", 0x7FFFFFFF, {0}, 0, {2147483646}, {0, 2147483646}, {0x7FFFFFFE}},
      {"a listed index without a value decides nothing",
       100,
       {2, 5},
       2,
       {5, 9},
       {0, 1, 2, 5, 9},
       {97, 0}},
  };
  for (const auto& c : cases) {
    TargetIndexSource source(c.end);
    Ints visited;
    std::vector<DWORD> left;
    for (int index = -1; visited.size() < 20 && source.Next(&index);) {
      visited.push_back(index);
      if (std::find(c.gaps.begin(), c.gaps.end(), index) == c.gaps.end()) continue;
      left.push_back(source.Gap());
      if (index != c.list_at) continue;
      TargetIndexList* list = source.ListInstead();
      EXPECT_EQ(1, list->Reserve(static_cast<DWORD>(c.listed.size()))) << c.name;
      for (int listed : c.listed) EXPECT_EQ(1, list->Add(listed)) << c.name;
    }
    EXPECT_EQ(c.visited, visited) << c.name;
    EXPECT_EQ(c.left, left) << c.name;
  }
}

TEST(TargetWalkIndices, FullPathFormsTable) {
  static const struct {
    const char* directory;
    int full;
  } cases[] = {
      {"C:\\App", 1},
      {"C:/App", 1},
      {"C:", 1},
      {"c:\\App", 1},
      // Both ends of the drive letters, in either case, and their neighbours.
      {"A:\\App", 1},
      {"a:", 1},
      {"A:", 1},
      {"a:/App", 1},
      {"Z:\\App", 1},
      {"z:", 1},
      {"@:\\App", 0},
      {"[:\\App", 0},
      {"`:\\App", 0},
      {"{:\\App", 0},
      {"1:\\App", 0},
      {"\xC1:\\App", 0},
      {"C:App", 0},
      {"C:..\\App", 0},
      {"CC:\\App", 0},
      {":\\App", 0},
      {"\\\\server\\share", 1},
      {"//server/share", 1},
      {"\\/server", 1},
      {"\\\\?\\C:\\App", 1},
      {"\\\\", 1},
      {"\\App", 0},
      {"/App", 0},
      {"App\\Sub", 0},
      {"a", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.full, IsFullPath(c.directory)) << "'" << c.directory << "'";
  }
}

TEST(TargetWalkIndices, AsciiTable) {
  static const struct {
    const char* text;
    int ascii;
  } cases[] = {{"", 1}, {"Target", 1}, {"\x7F", 1}, {"Tar\x80", 0}, {"\xFF", 0}, {"\xB5x", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.ascii, IsAscii(c.text)) << "'" << c.text << "'";
}

}  // namespace
