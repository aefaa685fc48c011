// Text helpers: joining, trimming and finding the last occurrence of a byte.
#include "driver/text_helpers.h"

#include <string.h>
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/fixtures.h"

namespace {

TEST(TextHelpers, JoinStringsTable) {
  static const struct {
    const char* first;
    const char* second;
    const char* third;
    const char* expected;  // null: no string
  } cases[] = {
      {"C:\\App", "\\", "Bin", "C:\\App\\Bin"},
      {"", "", "", NULL},
      {"", "", "x", "x"},
      {"a", "", "", "a"},
      {"", "b", "", "b"},
      {NULL, "b", "c", NULL},
      {"a", NULL, "c", NULL},
      {"a", "b", NULL, NULL},
      {"%s", "%d", "%%", "%s%d%%"},
  };
  for (const auto& c : cases) {
    long allocated = AllocatedBlocks();
    char* joined = JoinStrings(c.first, c.second, c.third);
    std::string row = std::string(c.first ? c.first : "(null)") + "|" +
                      (c.second ? c.second : "(null)") + "|" + (c.third ? c.third : "(null)");
    if (c.expected == NULL) {
      EXPECT_EQ(NULL, joined) << row;
      EXPECT_EQ(allocated, AllocatedBlocks()) << row;
    } else {
      EXPECT_EQ(c.expected, std::string(joined != NULL ? joined : "(null)")) << row;
      // Exactly the joined length plus the terminator.
      if (joined != NULL) {
        EXPECT_EQ(strlen(c.expected) + 1, HeapSize(GetProcessHeap(), 0, joined)) << row;
      }
    }
    ReleaseString(joined);
  }
}

TEST(TextHelpers, JoinStringsKeepsTextsAtAndPastTheFormatterLimit) {
  // wsprintfA writes at most 1023 characters and a terminator: joins up to
  // that length go through it, longer ones are copied piecewise. Each must
  // come out whole.
  static const size_t lengths[] = {1022, 1023, 1024, 1305};
  for (size_t length : lengths) {
    std::string first(length / 2, 'a'), second(length - length / 2 - 5, 'b'), third(5, 'c');
    char* joined = JoinStrings(first.c_str(), second.c_str(), third.c_str());
    EXPECT_STREQ((first + second + third).c_str(), joined) << length;
    ReleaseString(joined);
  }
}

// The process heap answers a request it cannot meet with null, not with an
// exception (none is asked for), and AllocBlock passes that on uncounted.
TEST(TextHelpers, AllocBlockPassesOnTheHeapsRefusal) {
  long allocated = AllocatedBlocks();
  EXPECT_EQ(nullptr, AllocBlock(static_cast<size_t>(-16)));
  EXPECT_EQ(allocated, AllocatedBlocks());
}

// What the hook answers is how the tests' countdowns (FailingAllocation) know
// one was left running or never fired.
TEST(TextHelpers, FailAllocationAnswersWhatTheCountdownItReplacesHadToGo) {
  EXPECT_EQ(0, FailAllocation(3)) << "none was set";
  void* first = AllocBlock(1);
  EXPECT_EQ(2, FailAllocation(2));
  void* second = AllocBlock(1);
  EXPECT_EQ(nullptr, AllocBlock(1));
  EXPECT_EQ(0, FailAllocation(0)) << "it fired";
  ReleaseBlock(first);
  ReleaseBlock(second);
}

TEST(TextHelpers, JoinStringsReportsAllocationFailure) {
  testing_support::FailingAllocation failing(1);
  EXPECT_EQ(NULL, JoinStrings("a", "b", "c"));
  char* joined = JoinStrings("a", "b", "c");  // the hook fires once
  EXPECT_STREQ("abc", joined);
  ReleaseString(joined);
  failing.End();
}

TEST(TextHelpers, TrimSpacesTable) {
  static const struct {
    const char* text;
    const char* expected;
    int length;
  } cases[] = {
      {"  a b  ", "a b", 3}, {"   ", "", 0},
      {"", "", 0},           {"\ta ", "\ta", 2},
      {"abc", "abc", 3},     {" x", "x", 1},
      {"x ", "x", 1},        {" \t ", "\t", 1},
      {"a  b", "a  b", 4},   {"  C:\\App \\ ", "C:\\App \\", 8},
  };
  for (const auto& c : cases) {
    // Poison what follows the text: trimming must write only inside it.
    char buffer[32];
    memset(buffer, 0xCC, sizeof buffer);
    memcpy(buffer, c.text, strlen(c.text) + 1);
    EXPECT_EQ(c.length, TrimSpaces(buffer)) << "'" << c.text << "'";
    EXPECT_STREQ(c.expected, buffer) << "'" << c.text << "'";
    EXPECT_EQ('\xCC', buffer[strlen(c.text) + 1]) << "'" << c.text << "'";
  }
  EXPECT_EQ(-1, TrimSpaces(NULL));
}

TEST(TextHelpers, FindLastCharTable) {
  static const struct {
    const char* text;
    char ch;
    int position;  // -1: not found
  } cases[] = {
      {"a,b,c", ',', 3}, {",abc", ',', 0}, {",", ',', 0},     {"x", ',', -1},
      {"", ',', -1},     {"abc,", ',', 3}, {"a\\b", '\\', 1}, {"no comma", ',', -1},
  };
  for (const auto& c : cases) {
    char buffer[32];
    strcpy(buffer, c.text);
    const char* found = FindLastChar(buffer, c.ch);
    int position = found == NULL ? -1 : static_cast<int>(found - buffer);
    EXPECT_EQ(c.position, position) << "'" << c.text << "'";
  }
  EXPECT_EQ(NULL, FindLastChar(NULL, ','));
}

TEST(TextHelpers, FitsWithinTable) {
  static const struct {
    const char* text;
    int size;
    int expected;
  } cases[] = {{"abc", 4, 1}, {"abc", 3, 0}, {"", 1, 1}, {"abc", 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FitsWithin(c.text, c.size)) << c.text << " in " << c.size;
  }
}

}  // namespace
