// INI file writer against Wine's real profile functions.
#include "config/ini_file.h"

#include <limits.h>

#include <string>
#include <vector>

#include "tests/support/fixtures.h"

namespace {

using testing_support::TempTree;

// Names of everything directly inside dir, "." and ".." left out.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

TEST(IniFile, WithoutPathWritesReportSuccessAndCreateNothing) {
  TempTree tree;
  // A relative or empty name would land in the current folder or in the
  // Windows folder; make the current folder one we can watch.
  char previous[MAX_PATH] = {0};
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(tree.root().c_str()));
  IniFile ini;
  EXPECT_EQ(1, ini.WriteString("NoPathSection", "key", "value"));
  EXPECT_EQ(1, ini.WriteInt("NoPathSection", "number", 1500));
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(Entries(tree.root()).empty());
  char probe[16] = "untouched";
  GetProfileStringA("NoPathSection", "key", "absent", probe, sizeof probe);
  EXPECT_STREQ("absent", probe) << "the write went to win.ini";
}

TEST(IniFile, EmptyOrNullPathKeepsThePreviousOne) {
  static const struct {
    const char* name;
    const char* second;  // given to SetPath after first.ini
    const char* written;
  } cases[] = {
      {"empty", "", "first.ini"},
      {"null", NULL, "first.ini"},
      {"replaced", "second.ini", "second.ini"},
  };
  for (const auto& c : cases) {
    TempTree tree;
    const std::string poison = "[P]\r\np=1\r\n";
    tree.WriteFile("first.ini", poison);
    tree.WriteFile("second.ini", poison);
    IniFile ini;
    ini.SetPath(tree.Path("first.ini").c_str());
    std::string second = c.second == NULL || c.second[0] == '\0' ? "" : tree.Path(c.second);
    ini.SetPath(c.second == NULL ? NULL : second.c_str());
    EXPECT_NE(0, ini.WriteString("S", "k", "v")) << c.name;
    for (const char* file : {"first.ini", "second.ini"}) {
      std::string expected = std::string(file) == c.written ? poison + "[S]\r\nk=v\r\n" : poison;
      EXPECT_EQ(expected, tree.ReadFile(file)) << c.name << ": " << file;
    }
  }
}

TEST(IniFile, LongPathIsCutTo259Characters) {
  static const size_t lengths[] = {258, 259, 260, 300};
  for (size_t length : lengths) {
    TempTree tree;
    std::string folder = tree.root() + "\\";
    ASSERT_LT(folder.size() + 20, 259u);
    std::string given = folder + std::string(length - folder.size(), 'n');
    IniFile ini;
    ini.SetPath(given.c_str());
    EXPECT_NE(0, ini.WriteString("S", "k", "v")) << length;
    // The only file written is the one named by the first 259 characters.
    std::string kept = given.substr(folder.size(), 259 - folder.size());
    std::vector<std::string> entries = Entries(tree.root());
    EXPECT_EQ(std::vector<std::string>{kept}, entries) << length;
    EXPECT_EQ("[S]\r\nk=v\r\n", tree.ReadFile(kept)) << length;
  }
}

TEST(IniFile, WriteIntStoresSignedDecimal) {
  static const struct {
    int value;
    const char* text;
  } cases[] = {
      {1500, "1500"}, {-7, "-7"}, {0, "0"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"},
  };
  TempTree tree;
  for (const auto& c : cases) {
    std::string file = std::string("value") + c.text + ".ini";
    IniFile ini;
    ini.SetPath(tree.Path(file).c_str());
    EXPECT_NE(0, ini.WriteInt("Numbers", "value", c.value)) << c.text;
    EXPECT_EQ(std::string("[Numbers]\r\nvalue=") + c.text + "\r\n", tree.ReadFile(file)) << c.text;
  }
}

TEST(IniFile, RefusedWriteReturnsZeroAndTheObjectStaysUsable) {
  static const struct {
    const char* name;
    const char* relative;
  } cases[] = {
      {"missing folder", "Missing\\config.ini"},
      {"path is a folder", "Folder"},
  };
  for (const auto& c : cases) {
    TempTree tree;
    tree.MakeDir("Folder");
    IniFile ini;
    ini.SetPath(tree.Path(c.relative).c_str());
    EXPECT_EQ(0, ini.WriteString("S", "k", "v")) << c.name;
    EXPECT_EQ(0, ini.WriteInt("S", "n", 1)) << c.name;
    EXPECT_FALSE(tree.Exists("Missing")) << c.name;
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesA(tree.Path("Folder").c_str()) & FILE_ATTRIBUTE_DIRECTORY)
        << c.name;
    ini.SetPath(tree.Path("good.ini").c_str());
    EXPECT_NE(0, ini.WriteInt("S", "n", 2)) << c.name;
    EXPECT_EQ("[S]\r\nn=2\r\n", tree.ReadFile("good.ini")) << c.name;
  }
}

TEST(IniFile, WritesOfANewFileComeOutInCallOrder) {
  TempTree tree;
  IniFile ini;
  ini.SetPath(tree.Path("new.ini").c_str());
  EXPECT_NE(0, ini.WriteString("S1", "a", "1"));
  EXPECT_NE(0, ini.WriteInt("S2", "b", 2));
  EXPECT_NE(0, ini.WriteString("S1", "c", "x y"));
  EXPECT_NE(0, ini.WriteString("S1", "a", "3"));
  EXPECT_EQ("[S1]\r\na=3\r\nc=x y\r\n[S2]\r\nb=2\r\n", tree.ReadFile("new.ini"));
}

}  // namespace
