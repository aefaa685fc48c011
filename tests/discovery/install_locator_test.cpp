// The product lookup and the target walk against Wine's real registry: which
// record is found, which targets reach the callback with which texts, and the
// run result for every way a record can be shaped.
#include "discovery/install_locator.h"

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"
#include "tests/support/registry_calls.h"
#include "tests/support/target_recorder.h"

namespace {

using testing_support::kInstalledPath;
using testing_support::kProductId;
using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::TargetRecorder;

typedef std::vector<std::string> Texts;

// The names of the installed-products key's subkeys in the order the registry
// enumerates them (Wine sorts them; Windows promises nothing).
Texts EnumerationOrder() {
  Texts names;
  HKEY parent = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalledPath, 0,
                    KEY_ENUMERATE_SUB_KEYS | testing_support::kPatcherView,
                    &parent) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD i = 0;; ++i) {
    char name[MAX_PATH];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(parent, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  RegCloseKey(parent);
  return names;
}

class ProductLookup : public PatcherTest {};

TEST_F(ProductLookup, ReturnsTheFullPathOfTheMatchingRecord) {
  Record other("Other");
  other.SetString("SoftWareID", "Varnex_Other");
  Record product("{5A1E-Quendal}");
  product.SetString("SoftWareID", kProductId);
  InstallLocator locator;
  char* found = locator.FindProductKey(kInstalledPath, "SoftWareID", kProductId);
  ASSERT_NE(nullptr, found);
  EXPECT_STREQ("SOFTWARE\\Varnex\\SoftWareInstalled\\{5A1E-Quendal}", found);
  ReleaseString(found);
}

// Records that are not the product's, in every way the identifier can differ.
TEST_F(ProductLookup, NoRecordMatchesTable) {
  const std::string id = kProductId;
  const struct {
    const char* name;
    DWORD type;
    std::string data;
    DWORD size;
  } cases[] = {
      {"lower", REG_SZ, "varnex_quendal", 15},
      {"expand", REG_EXPAND_SZ, id, static_cast<DWORD>(id.size() + 1)},
      {"binary", REG_BINARY, id, static_cast<DWORD>(id.size() + 1)},
      {"multi", REG_MULTI_SZ, id + std::string(2, '\0'), static_cast<DWORD>(id.size() + 2)},
      {"blank", REG_SZ, id + " ", static_cast<DWORD>(id.size() + 2)},
      {"empty", REG_SZ, "", 1},
      {"zero_size", REG_SZ, id, 0},
      {"overlong", REG_SZ, id + std::string(300, '_'), static_cast<DWORD>(id.size() + 301)},
  };
  std::vector<Record*> records;
  for (const auto& c : cases) {
    records.push_back(new Record(c.name));
    records.back()->SetRaw("SoftWareID", c.type, c.data.c_str(), c.size);
    records.back()->SetDword("TargetNum", 1);
    records.back()->SetString("Target0", "C:\\App");
  }
  Record no_id("NoId");
  no_id.SetDword("TargetNum", 1);
  no_id.SetString("Target0", "C:\\App");

  InstallLocator locator;
  long outstanding = AllocatedBlocks() - ReleasedBlocks();
  EXPECT_EQ(nullptr, locator.FindProductKey(kInstalledPath, "SoftWareID", kProductId));
  // Every candidate path was released.
  EXPECT_EQ(outstanding, AllocatedBlocks() - ReleasedBlocks());
  TargetRecorder recorder;
  EXPECT_EQ(0, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_TRUE(recorder.calls.empty());
  for (Record* record : records) delete record;
}

TEST_F(ProductLookup, FirstMatchInEnumerationOrderWins) {
  Record a("Alpha"), b("Beta"), c("Gamma"), d("Delta");
  a.SetString("SoftWareID", "Other");
  b.MakeProduct({"C:\\Beta"});
  c.MakeProduct({"C:\\Gamma"});
  d.SetString("SoftWareID", "varnex_quendal");
  // Which of the two matching records comes first is the registry's choice.
  const Texts order = EnumerationOrder();
  auto at = std::find_if(order.begin(), order.end(),
                         [](const std::string& name) { return name == "Beta" || name == "Gamma"; });
  ASSERT_NE(order.end(), at);
  const std::string first = *at;

  InstallLocator locator;
  char* found = locator.FindProductKey(kInstalledPath, "SoftWareID", kProductId);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(std::string(kInstalledPath) + "\\" + first, found);
  ReleaseString(found);

  TargetRecorder recorder;
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\" + first}), recorder.Directories());
}

TEST_F(ProductLookup, MissingParentKeyOrNullArgumentFindsNothing) {
  InstallLocator locator;
  EXPECT_EQ(nullptr, locator.FindProductKey(kInstalledPath, "SoftWareID", kProductId));
  Record product("P");
  product.SetString("SoftWareID", kProductId);
  EXPECT_EQ(nullptr, locator.FindProductKey(NULL, "SoftWareID", kProductId));
  EXPECT_EQ(nullptr, locator.FindProductKey(kInstalledPath, NULL, kProductId));
  EXPECT_EQ(nullptr, locator.FindProductKey(kInstalledPath, "SoftWareID", NULL));
  EXPECT_EQ(nullptr,
            locator.FindProductKey("SOFTWARE\\Varnex\\Elsewhere", "SoftWareID", kProductId));
}

// A record that exists only in the 64-bit view is not found, as a 32-bit
// program on 64-bit Windows sees it; the same record in the 32-bit view alone
// is, also by a 64-bit program, which without the view flag would see none.
TEST_F(ProductLookup, RecordOnlyInThe64BitViewIsNotFound) {
  if (testing_support::HasOneRegistryView()) GTEST_SKIP() << testing_support::kOneViewSkip;
  ASSERT_TRUE(testing_support::SeesBothRegistryViews());
  InstallLocator locator;
  TargetRecorder recorder;
  {
    Record record64("Product", KEY_WOW64_64KEY);
    record64.MakeProduct({"C:\\App64"});
    // The fixture really wrote the 64-bit view, and only that one.
    HKEY key = NULL;
    std::string path = record64.path();
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                           KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key));
    RegCloseKey(key);
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                           KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key));
    EXPECT_EQ(0, locator.Run(TargetRecorder::Callback, &recorder));
    EXPECT_TRUE(recorder.calls.empty());
  }
  testing_support::RemoveVarnexKey(KEY_WOW64_64KEY);
  Record record32("Product", KEY_WOW64_32KEY);
  record32.MakeProduct({"C:\\App32"});
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\App32"}), recorder.Directories());
}

// Out of memory for a candidate path ends the search: a later record must not
// win over one that could not be examined.
TEST_F(ProductLookup, CandidatePathThatCannotBeBuiltEndsTheSearch) {
  Record a("A"), b("B");
  a.MakeProduct({"C:\\A"});
  b.MakeProduct({"C:\\B"});
  InstallLocator locator;
  long allocated = AllocatedBlocks();
  testing_support::FailingAllocation failing(1);
  char* found = locator.FindProductKey(kInstalledPath, "SoftWareID", kProductId);
  failing.End();
  EXPECT_EQ(nullptr, found);
  EXPECT_EQ(allocated, AllocatedBlocks());
  ReleaseString(found);
}

class TargetWalk : public PatcherTest {};

// How one target text reaches the callback: cut at its last comma, trimmed,
// one trailing separator dropped, and refused unless it is then a full path
// (Win32 would resolve any other against the current folder or drive).
TEST_F(TargetWalk, TargetTextCleaningTable) {
  static const struct {
    const char* text;
    const char* directory;  // null: the target fails without a callback
  } cases[] = {
      {"C:\\App", "C:\\App"},
      {"C:\\App\\ , 2", "C:\\App"},
      {"C:\\App \\", "C:\\App "},
      {"D:\\Prog\\ ,1.0", "D:\\Prog"},
      {"D:\\Prog//", "D:\\Prog/"},
      {"D:\\Prog\\\\", "D:\\Prog\\"},
      {"  C:\\App  ", "C:\\App"},
      {"D:\\a,b\\c,d", "D:\\a,b\\c"},
      {"\tC:\\App\t", NULL},
      {"C:\\", "C:"},
      {"z:/", "z:"},
      {"C:", "C:"},
      {"C:/App", "C:/App"},
      {"c:\\App", "c:\\App"},
      {"A:\\App", "A:\\App"},
      {"a:", "a:"},
      {"@:\\App", NULL},
      {"\\\\server\\share\\App", "\\\\server\\share\\App"},
      {"//server/share/", "//server/share"},
      {" \\/srv\\s ,1", "\\/srv\\s"},
      {"\\\\?\\C:\\App", "\\\\?\\C:\\App"},
      {"a", NULL},
      {"App\\Sub", NULL},
      {"acc\\t1", NULL},
      {"C:App", NULL},
      {"C:..\\App", NULL},
      {"\\App", NULL},
      {"/App", NULL},
      {"\\\\", NULL},
      {"1:\\App", NULL},
      {":\\App", NULL},
      {"CC:\\App", NULL},
      {"C:\\App,", "C:\\App"},
      {"C:\\App/ ", "C:\\App"},
      {"", NULL},
      {"   ", NULL},
      {",abc", NULL},
      {",", NULL},
      {" ,1", NULL},
      {"\\", NULL},
      {"/", NULL},
      {"\\,1", NULL},
      {"  /  ,x", NULL},
  };
  InstallLocator locator;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.MakeProduct({c.text});
    TargetRecorder recorder;
    recorder.ExpectOneTarget(locator.Run(TargetRecorder::Callback, &recorder),
                             c.directory == NULL ? "" : c.directory);
  }
}

TEST_F(TargetWalk, TargetsAreVisitedInIndexOrder) {
  Record record("Product");
  record.MakeProduct({"C:\\T0", "C:\\T1", "C:\\T2", "C:\\T3"});
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\T0", "C:\\T1", "C:\\T2", "C:\\T3"}), recorder.Directories());
}

TEST_F(TargetWalk, SecondTargetFailsStopsTheWalk) {
  Record record("Product");
  record.MakeProduct({"C:\\T0", "C:\\T1", "C:\\T2"});
  InstallLocator locator;
  TargetRecorder recorder;
  recorder.answers = {1, 0, 1};
  EXPECT_EQ(-1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\T0", "C:\\T1"}), recorder.Directories());
}

TEST_F(TargetWalk, AnyNonzeroAnswerCountsAsUpdated) {
  Record record("Product");
  record.MakeProduct({"C:\\T0", "C:\\T1"});
  InstallLocator locator;
  TargetRecorder recorder;
  recorder.answers = {-5, 2};
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(2u, recorder.calls.size());
}

// Missing and non-string targets are skipped; an unusable text is a failure.
TEST_F(TargetWalk, MissingAndNonStringTargetsAreSkipped) {
  Record record("Product");
  record.SetString("SoftWareID", kProductId);
  record.SetDword("TargetNum", 6);
  record.SetDword("Target0", 1);
  record.SetString("Target2", "C:\\Two");
  record.SetRaw("Target3", REG_EXPAND_SZ, "C:\\Three", 9);
  record.SetRaw("Target4", REG_SZ, "", 0);  // exists, but nothing to read
  record.SetString("Target5", "C:\\Five");
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\Two", "C:\\Five"}), recorder.Directories());
}

TEST_F(TargetWalk, EmptyTargetStopsTheWalkAfterEarlierUpdates) {
  Record record("Product");
  record.MakeProduct({"C:\\T0", " , old", "C:\\T2"});
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(-1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\T0"}), recorder.Directories());
}

// A text that does not fit the 260-byte buffer with its terminator is never
// used, and the installation is not reported as updated.
TEST_F(TargetWalk, UnterminatedTargetTextFailsTheTarget) {
  const std::string text300 = "C:\\" + std::string(297, 'l');
  const std::string exact260 = "C:\\" + std::string(257, 'e') + "Z";
  const std::string text259 = "C:\\" + std::string(256, 'k');
  const struct {
    const char* name;
    std::string data;
    DWORD size;
    int expected;
  } cases[] = {
      {"300 characters", text300, 301, -1},
      {"260 bytes without terminator", exact260, 260, -1},
      {"300 characters with a comma early", "C:\\App," + std::string(293, 'x'), 301, -1},
      {"259 characters", text259, 260, 1},
  };
  InstallLocator locator;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.MakeProduct({"C:\\First", "placeholder", "C:\\Third"});
    record.SetRaw("Target1", REG_SZ, c.data.c_str(), c.size);
    DWORD stored = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(record.key(), "Target1", NULL, NULL, NULL, &stored));
    ASSERT_EQ(c.size, stored);
    TargetRecorder recorder;
    EXPECT_EQ(c.expected, locator.Run(TargetRecorder::Callback, &recorder));
    if (c.expected == 1) {
      EXPECT_EQ(Texts({"C:\\First", text259, "C:\\Third"}), recorder.Directories());
    } else {
      EXPECT_EQ(Texts({"C:\\First"}), recorder.Directories());
    }
  }
}

TEST_F(TargetWalk, TargetNumCountsOnlyTheFirstTargets) {
  Record record("Product");
  record.MakeProduct({"C:\\T0", "C:\\T1", "C:\\T2"});
  record.SetDword("TargetNum", 2);
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\T0", "C:\\T1"}), recorder.Directories());
}

// A huge count is walked only through the indices the record holds values for,
// so the result is the full walk's (missing indices skipped) without two
// billion queries, even when a target sits near the top of the range: the
// registry calls stay within the sweep's bound (SweepTargetWalk), the indices
// before the first gap, one pass over the values and the reads of the
// targets. The target value names match the walk's in any letter case.
TEST_F(TargetWalk, HugeTargetNumEndsQuickly) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    Texts expected;
    int result;
  } cases[] = {
      {"one target", {{"Target0", "C:\\T0"}}, {"C:\\T0"}, 1},
      {"sparse", {{"Target0", "C:\\T0"}, {"Target40", "C:\\T40"}}, {"C:\\T0", "C:\\T40"}, 1},
      {"near the top",
       {{"Target2000000000", "C:\\Top"}, {"Target1", "C:\\T1"}, {"Target2147483646", "C:\\Last"}},
       {"C:\\T1", "C:\\Top", "C:\\Last"},
       1},
      {"beyond any signed count", {{"Target2147483647", "C:\\Never"}}, {}, -1},
      {"other letter case",
       {{"Target0", "C:\\T0"}, {"tARGET3", "C:\\T3"}},
       {"C:\\T0", "C:\\T3"},
       1},
      {"not spelled as the walk spells",
       {{"Target0", "C:\\T0"},
        {"Target07", "C:\\Zero7"},
        {"Target+8", "C:\\Plus"},
        {"Target 9", "C:\\Blank"},
        {"Target1x", "C:\\X"},
        // Read as a number, this name would send the walk through a million indices.
        {"Target00999999", "C:\\Zeros"}},
       {"C:\\T0"},
       1},
      {"failing last target", {{"Target0", "C:\\T0"}, {"Target12", ","}}, {"C:\\T0"}, -1},
      {"no target at all", {{"Other", "C:\\T0"}}, {}, -1},
  };
  InstallLocator locator;
  testing_support::RegistryCalls counted;
  ASSERT_TRUE(counted.installed());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.SetString("SoftWareID", kProductId);
    record.SetDword("TargetNum", 0x7FFFFFFF);
    for (const auto& value : c.values) record.SetString(value.first, value.second);
    TargetRecorder recorder;
    counted.Reset();
    int result = locator.Run(TargetRecorder::Callback, &recorder);
    long calls = counted.queries() + counted.enumerations() + counted.infos();
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.expected, recorder.Directories());
    // The first index the record holds no value for, in any letter case.
    long gap = 0;
    for (bool found = true; found; gap += found) {
      const std::string name = "Target" + std::to_string(gap);
      found = std::any_of(c.values.begin(), c.values.end(), [&name](const auto& value) {
        return lstrcmpiA(value.first.c_str(), name.c_str()) == 0;
      });
    }
    // Each value taken for a target read once: a bound, not the count. The
    // record also holds SoftWareID, read by the lookup, and TargetNum.
    long values = static_cast<long>(c.values.size()) + 2;
    long targets = static_cast<long>(c.values.size());
    EXPECT_LE(calls, gap + values + 1 + 3 * targets + 4 + 2);
    EXPECT_LE(counted.enumerations(), values + 1) << "the values were listed twice";
  }
}

// Counts that are not a usable 32-bit number give "not installed"; counts of
// 0x80000000 and more are negative and visit nothing.
TEST_F(TargetWalk, TargetNumTable) {
  const DWORD one = 1;
  const unsigned long long wide = 1;
  const struct {
    const char* name;
    DWORD type;  // 0: no TargetNum
    const void* data;
    DWORD size;
    int result;
    size_t calls;
  } cases[] = {
      {"missing", 0, NULL, 0, 0, 0},
      {"string", REG_SZ, "1", 2, 0, 0},
      {"binary", REG_BINARY, &one, 4, 0, 0},
      {"big endian", REG_DWORD_BIG_ENDIAN, "\0\0\0\1", 4, 0, 0},
      {"qword", REG_QWORD, &wide, 8, 0, 0},
      {"zero", REG_DWORD, "\0\0\0\0", 4, 0, 0},
      {"zero size", REG_DWORD, &one, 0, 0, 0},
      {"one", REG_DWORD, &one, 4, 1, 1},
      {"two", REG_DWORD, "\2\0\0\0", 4, 1, 2},
      {"0x80000000", REG_DWORD, "\0\0\0\x80", 4, -1, 0},
      {"0xFFFFFFFF", REG_DWORD, "\xFF\xFF\xFF\xFF", 4, -1, 0},
  };
  InstallLocator locator;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.SetString("SoftWareID", kProductId);
    record.SetString("Target0", "C:\\T0");
    record.SetString("Target1", "C:\\T1");
    if (c.type != 0) record.SetRaw("TargetNum", c.type, c.data, c.size);
    TargetRecorder recorder;
    EXPECT_EQ(c.result, locator.Run(TargetRecorder::Callback, &recorder));
    EXPECT_EQ(c.calls, recorder.calls.size());
  }
}

TEST_F(TargetWalk, RecordThatCannotBeOpenedIsAFailure) {
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(-1, locator.ForEachTarget("SOFTWARE\\Varnex\\SoftWareInstalled\\Absent", "TargetNum",
                                      "Target", TargetRecorder::Callback, &recorder));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(TargetWalk, NullNamesGiveZero) {
  Record record("Product");
  record.MakeProduct({"C:\\T0"});
  const char* path = record.path().c_str();
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(
      0, locator.ForEachTarget(NULL, "TargetNum", "Target", TargetRecorder::Callback, &recorder));
  EXPECT_EQ(0, locator.ForEachTarget(path, NULL, "Target", TargetRecorder::Callback, &recorder));
  EXPECT_EQ(0, locator.ForEachTarget(path, "TargetNum", NULL, TargetRecorder::Callback, &recorder));
  EXPECT_TRUE(recorder.calls.empty());
}

// The names and the prefix are the caller's: the walk reads what it is told.
TEST_F(TargetWalk, WalksTheNamesItIsGiven) {
  Record record("Custom");
  record.SetDword("Count", 2);
  record.SetString("Dir0", "E:\\Zero");
  record.SetString("Dir1", "E:\\One");
  record.SetString("Target0", "C:\\Wrong");
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.ForEachTarget(record.path().c_str(), "Count", "Dir",
                                     TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"E:\\Zero", "E:\\One"}), recorder.Directories());
}

// The registry matches a name's letters in any case, TargetIndexOf only ASCII
// ones: with a prefix that is not ASCII, the walk asks for each index by its
// name instead of listing the record's values, and finds a value whose
// letters are cased otherwise. The letters are a pair the ANSI code page
// writes as they are: A with grave, else Cyrillic A.
TEST_F(TargetWalk, PrefixNotInAsciiIsWalkedIndexByIndex) {
  std::string upper, lower;
  for (const wchar_t* pair : {L"\u00C0\u00E0", L"\u0410\u0430"}) {
    upper = testing_support::Narrow(std::wstring(1, pair[0]));
    lower = testing_support::Narrow(std::wstring(1, pair[1]));
    if (testing_support::Widen(upper) == std::wstring(1, pair[0]) &&
        testing_support::Widen(lower) == std::wstring(1, pair[1])) {
      break;
    }
    upper.clear();
  }
  ASSERT_FALSE(upper.empty()) << "the ANSI code page writes neither pair";
  Record record("Custom");
  record.SetDword("Count", 10);
  record.SetString(lower + "5", "C:\\Five");
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.ForEachTarget(record.path().c_str(), "Count", upper.c_str(),
                                     TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\Five"}), recorder.Directories());
}

// The longest prefix the walk takes leaves room in its value-name buffer for
// the longest index; one character more and the walk refuses the prefix
// (not installed) before reading anything.
TEST_F(TargetWalk, LongestPrefixTable) {
  static const struct {
    size_t length;
    int result;
  } cases[] = {{51, 1}, {52, 1}, {53, 0}, {60, 0}};
  InstallLocator locator;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    testing_support::RemoveVarnexKey();
    const std::string prefix(c.length, 'P');
    Record record("Custom");
    record.SetDword("Count", 0x7FFFFFFF);
    record.SetString(prefix + "0", "C:\\Zero");
    record.SetString(prefix + "2147483646", "C:\\Top");
    TargetRecorder recorder;
    EXPECT_EQ(c.result, locator.ForEachTarget(record.path().c_str(), "Count", prefix.c_str(),
                                              TargetRecorder::Callback, &recorder));
    EXPECT_EQ(c.result == 1 ? Texts({"C:\\Zero", "C:\\Top"}) : Texts(), recorder.Directories());
  }
}

// A name of a character that is not '5' but is written as '5' in the ANSI
// code page (best fit: U+FF15, full-width five, and the superscript and
// subscript fives under 1252) is listed as "Target5" (Wine and Windows
// convert listed names so), beside the real Target5: the index is listed
// twice and visited once. The character is taken from the code page the test
// runs under; 936 writes U+FF15 as a character of its own and 65001 writes
// every character as itself, and neither has one to give.
TEST_F(TargetWalk, TwoNamesListedAlikeAreVisitedOnce) {
  wchar_t alike = 0;
  for (unsigned c = 0x80; c < 0x10000 && alike == 0; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    const wchar_t wide = static_cast<wchar_t>(c);
    char ansi[8] = {0};
    if (WideCharToMultiByte(CP_ACP, 0, &wide, 1, ansi, sizeof ansi, NULL, NULL) == 1 &&
        ansi[0] == '5') {
      alike = wide;
    }
  }
  if (alike == 0) {
    GTEST_SKIP() << "no character but '5' is written as '5' in the ANSI code page; this "
                    "system's is "
                 << GetACP();
  }
  Record record("Product");
  record.MakeProduct({"C:\\T0"});
  record.SetDword("TargetNum", 0x7FFFFFFF);
  record.SetString("Target5", "C:\\T5");
  const wchar_t wide_name[] = {L'T', L'a', L'r', L'g', L'e', L't', alike, L'\0'};
  const wchar_t wide_text[] = L"C:\\Wide";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(record.key(), wide_name, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(wide_text), sizeof wide_text));
  int listed = 0;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof name;
    if (RegEnumValueA(record.key(), i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    listed += strcmp(name, "Target5") == 0;
  }
  ASSERT_EQ(2, listed) << "the listing does not write U+" << std::hex
                       << static_cast<unsigned>(alike) << " as '5'";
  TargetRecorder recorder;
  EXPECT_EQ(1, InstallLocator().Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(Texts({"C:\\T0", "C:\\T5"}), recorder.Directories());
}

// A null callback fails the first usable target instead of calling through it.
TEST_F(TargetWalk, NullCallbackFailsTheFirstTarget) {
  Record record("Product");
  record.MakeProduct({"C:\\T0"});
  InstallLocator locator;
  EXPECT_EQ(-1, locator.Run(NULL, NULL));
}

class ProcessTarget : public ::testing::Test {};

// The callback sees the caller's buffer, shortened in place, and nothing past
// the text's terminator is written.
TEST_F(ProcessTarget, DropsOneSeparatorInTheCallersBuffer) {
  static const struct {
    const char* text;
    const char* after;  // the buffer after the call
    int calls;
  } cases[] = {
      {"C:\\App\\", "C:\\App", 1},
      {"C:\\App/", "C:\\App", 1},
      {"C:\\App", "C:\\App", 1},
      {"C:\\\\", "C:\\", 1},
      {"x/", "x", 0},
      {"C:/", "C:", 1},
      {"\\", "", 0},
      {"/", "", 0},
      {"", "", 0},
  };
  InstallLocator locator;
  for (const auto& c : cases) {
    char buffer[32];
    memset(buffer, 0xCC, sizeof buffer);
    size_t length = strlen(c.text);
    memcpy(buffer, c.text, length + 1);
    TargetRecorder recorder;
    int result = locator.ProcessTarget(buffer, TargetRecorder::Callback, &recorder);
    EXPECT_EQ(c.calls, result) << "'" << c.text << "'";
    EXPECT_STREQ(c.after, buffer) << "'" << c.text << "'";
    EXPECT_EQ(static_cast<char>(0xCC), buffer[length + 1]) << "'" << c.text << "'";
    EXPECT_EQ(static_cast<size_t>(c.calls), recorder.calls.size()) << "'" << c.text << "'";
    if (c.calls == 1 && recorder.calls.size() == 1) {
      EXPECT_EQ(std::string(c.after) + "\\Bin\\config.ini", recorder.calls[0].config_path)
          << "'" << c.text << "'";
    }
  }
}

TEST_F(ProcessTarget, ReturnsTheCallbacksAnswerAndReleasesTheConfigPath) {
  InstallLocator locator;
  const int answers[] = {0, 1, 7, -1};
  for (int answer : answers) {
    char buffer[] = "C:\\App";
    TargetRecorder recorder;
    recorder.answers = {answer};
    long outstanding = AllocatedBlocks() - ReleasedBlocks();
    EXPECT_EQ(answer, locator.ProcessTarget(buffer, TargetRecorder::Callback, &recorder));
    EXPECT_EQ(outstanding, AllocatedBlocks() - ReleasedBlocks()) << answer;
    EXPECT_EQ(1u, recorder.calls.size()) << answer;
  }
}

TEST_F(ProcessTarget, NullArgumentsOrFailedPathGiveZeroWithoutACall) {
  InstallLocator locator;
  TargetRecorder recorder;
  char buffer[] = "C:\\App\\";
  EXPECT_EQ(0, locator.ProcessTarget(NULL, TargetRecorder::Callback, &recorder));
  EXPECT_EQ(0, locator.ProcessTarget(buffer, NULL, &recorder));
  testing_support::FailingAllocation failing(1);
  int result = locator.ProcessTarget(buffer, TargetRecorder::Callback, &recorder);
  failing.End();
  EXPECT_EQ(0, result);
  EXPECT_TRUE(recorder.calls.empty());
}

// The run result for each row of its table, through Run on a real record.
class RunResult : public PatcherTest {};

TEST_F(RunResult, Table) {
  const struct {
    const char* name;
    bool has_record;
    bool has_id;
    DWORD count;  // 0xFFFFFFFE: no TargetNum
    std::vector<std::pair<std::string, std::string>> targets;
    std::vector<int> answers;
    int result;
    size_t calls;
    // RegQueryInfoKeyA is refused: the record's values cannot be counted.
    bool uncountable = false;
  } cases[] = {
      {"no installed-products key", false, false, 0, {}, {}, 0, 0},
      {"record without identifier", true, false, 1, {{"Target0", "C:\\A"}}, {}, 0, 0},
      {"count missing", true, true, 0xFFFFFFFE, {{"Target0", "C:\\A"}}, {}, 0, 0},
      {"count zero", true, true, 0, {{"Target0", "C:\\A"}}, {}, 0, 0},
      {"count negative", true, true, 0x80000000, {{"Target0", "C:\\A"}}, {}, -1, 0},
      {"no target is a string", true, true, 2, {}, {}, -1, 0},
      {"only target fails", true, true, 1, {{"Target0", "C:\\A"}}, {0}, -1, 1},
      {"target text empty", true, true, 1, {{"Target0", ""}}, {}, -1, 0},
      {"second of three fails",
       true,
       true,
       3,
       {{"Target0", "C:\\A"}, {"Target1", "C:\\B"}, {"Target2", "C:\\C"}},
       {1, 0},
       -1,
       2},
      {"count 3, only Target0", true, true, 3, {{"Target0", "C:\\A"}}, {}, 1, 1},
      {"all of two updated", true, true, 2, {{"Target0", "C:\\A"}, {"Target1", "C:\\B"}}, {}, 1, 2},
      // Past the gap at 1 the indices left (8) outnumber the values (4), but
      // uncounted they cannot be listed: the walk goes on index by index.
      {"values cannot be counted",
       true,
       true,
       10,
       {{"Target0", "C:\\A"}, {"Target5", "C:\\B"}},
       {},
       1,
       2,
       true},
  };
  InstallLocator locator;
  testing_support::RegistryCalls registry;
  ASSERT_TRUE(registry.installed());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::RemoveVarnexKey();
    if (c.has_record) {
      Record record("Product");
      if (c.has_id) record.SetString("SoftWareID", kProductId);
      if (c.count != 0xFFFFFFFE) record.SetDword("TargetNum", c.count);
      for (const auto& t : c.targets) record.SetString(t.first, t.second);
    } else {
      // The parent exists, the installed-products key does not.
      HKEY varnex = NULL;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varnex", 0, NULL, 0,
                                               KEY_ALL_ACCESS | testing_support::kPatcherView, NULL,
                                               &varnex, NULL));
      RegCloseKey(varnex);
    }
    registry.before_info = [&c](HKEY) {
      return static_cast<LONG>(c.uncountable ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    };
    TargetRecorder recorder;
    recorder.answers = c.answers;
    long outstanding = AllocatedBlocks() - ReleasedBlocks();
    EXPECT_EQ(c.result, locator.Run(TargetRecorder::Callback, &recorder));
    EXPECT_EQ(c.calls, recorder.calls.size());
    // The record path and every config path were released.
    EXPECT_EQ(outstanding, AllocatedBlocks() - ReleasedBlocks());
  }
}

// The run only reads: the record is the same before and after.
TEST_F(RunResult, RegistryIsLeftAsItWas) {
  Record record("Product");
  record.MakeProduct({"C:\\App\\ , 2", "D:\\Prog//"});
  InstallLocator locator;
  TargetRecorder recorder;
  ASSERT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  char text[MAX_PATH];
  DWORD size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(record.key(), "Target0", NULL, NULL,
                                            reinterpret_cast<BYTE*>(text), &size));
  EXPECT_STREQ("C:\\App\\ , 2", text);
  size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(record.key(), "Target1", NULL, NULL,
                                            reinterpret_cast<BYTE*>(text), &size));
  EXPECT_STREQ("D:\\Prog//", text);
}

}  // namespace
