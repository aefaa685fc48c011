// Texts in a multibyte ANSI code page, where a character takes more bytes than
// one: 2 for a Chinese character under 936, 3 under 65001 (UTF-8). The walk's
// limits are in bytes (260 with the terminator), so a text's characters and
// its bytes part where they meet them. Under 936, 0x5C ('\') is also the trail
// byte of some characters (U+4E57 is 81 5C), which must never be cut as a
// separator. CodePageText runs under any multibyte ANSI code page that holds
// the characters (the codepage936 and codepage65001 tests' Wine prefixes);
// Cp936 under 936 alone. Both skip themselves elsewhere.
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_ini.h"
#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"
#include "tests/support/target_recorder.h"

namespace {

using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::TargetRecorder;

// U+4E2D, a common character, and U+4E57, whose form in code page 936 is a
// lead byte and a trail byte that is '\'.
const wchar_t kZhong = 0x4E2D;
const wchar_t kNai = 0x4E57;

// The text's form in the ANSI code page, as the -A functions give it, and back.
std::string Ansi(const std::wstring& wide) { return testing_support::Narrow(wide); }
std::wstring Wide(const std::string& ansi) { return testing_support::Widen(ansi); }

// head, then as many of ch as fit, then ASCII letters, up to exactly `bytes`
// bytes in the ANSI code page.
std::wstring OfAnsiLength(const std::wstring& head, wchar_t ch, size_t bytes) {
  std::wstring text = head;
  const size_t width = Ansi(std::wstring(1, ch)).size();
  size_t size = Ansi(head).size();
  for (; size + width <= bytes; size += width) text += ch;
  for (; size < bytes; ++size) text += L'a';
  return text;
}

// A Unicode installer's record: its target text written as UTF-16.
void WriteWideTarget(Record& record, const std::wstring& text) {
  record.SetString("SoftWareID", testing_support::kProductId);
  record.SetDword("TargetNum", 1);
  DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(record.key(), L"Target0", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text.c_str()), size));
}

class CodePageText : public PatcherTest {
 protected:
  void SetUp() override {
    PatcherTest::SetUp();
    CPINFO info;
    const std::wstring chinese = {kZhong, kNai};
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize < 2 || Wide(Ansi(chinese)) != chinese) {
      GTEST_SKIP() << "needs a multibyte ANSI code page that holds Chinese characters (936, "
                      "65001); this system's is "
                   << GetACP();
    }
  }
};

// Target texts written by a Unicode installer and read back in the ANSI code
// page. By the walk's rules a text of at most 259 bytes there arrives whole
// and terminated in its 260-byte buffer and gives its directory; a longer one
// fails its target, wherever the limit falls in a character.
TEST_F(CodePageText, TargetTextsGiveTheirDirectoryUpTo259BytesAndFailBeyond) {
  const std::wstring nai(1, kNai);
  struct Row {
    std::string name;
    std::wstring text;
    std::wstring directory;  // the one it names; empty: none, it is no full path
  };
  const std::wstring at259 = OfAnsiLength(L"C:\\", kZhong, 259);
  const std::wstring at260 = OfAnsiLength(L"C:\\", kZhong, 260);
  const std::wstring at261 = OfAnsiLength(L"C:\\", kZhong, 261);
  const std::wstring at258 = OfAnsiLength(L"C:\\", kZhong, 258);
  const std::wstring before_nai = OfAnsiLength(L"C:\\", kZhong, 259 - Ansi(nai).size());
  const std::wstring hundred = L"C:\\" + std::wstring(100, kZhong);
  const Row rows[] = {
      {"drive and character", L"C:\\" + nai, L"C:\\" + nai},
      {"separator after it", L"C:\\" + nai + L"\\", L"C:\\" + nai},
      {"slash after it", L"C:\\" + nai + L"/", L"C:\\" + nai},
      {"comma after blank", L"C:\\" + nai + L" , 2", L"C:\\" + nai},
      {"separator and comma", L"C:\\" + nai + L"\\ ,1.0", L"C:\\" + nai},
      // Not a full path: nothing a multibyte character holds makes one.
      {"character alone", nai, L""},
      {"character and two separators", nai + L"\\\\App", L""},
      {"character as a drive", nai + L":\\App", L""},
      {"server named by it", L"\\\\" + nai + L"\\App", L"\\\\" + nai + L"\\App"},
      {"two of it", L"C:\\Apps\\" + nai + nai, L"C:\\Apps\\" + nai + nai},
      {"two separators after it", L"C:\\" + nai + L"\\\\", L"C:\\" + nai + L"\\"},
      {"separator alone", L"\\", L""},
      // At the buffer's limit, by the byte count of the code page.
      {"259 bytes", at259, at259},
      {"260 bytes", at260, at260},
      {"261 bytes", at261, at261},
      {"259 bytes ending in a separator", at258 + L"\\", at258},
      {"259 bytes ending in U+4E57", before_nai + nai, before_nai + nai},
      {"a character from byte 258 on", at258 + kZhong, at258 + kZhong},
      {"a character from byte 259 on", at259 + kZhong, at259 + kZhong},
      {"100 characters", hundred, hundred},
  };
  InstallLocator locator;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + " (" + std::to_string(Ansi(row.text).size()) + " bytes)");
    testing_support::RemoveVarnexKey();
    Record record("Product");
    WriteWideTarget(record, row.text);
    // The rule, in bytes: a text that does not fit the buffer with its
    // terminator fails.
    const bool fits = Ansi(row.text).size() < kRegTextSize;
    TargetRecorder recorder;
    recorder.ExpectOneTarget(locator.Run(TargetRecorder::Callback, &recorder),
                             fits ? Ansi(row.directory) : "");
  }
}

// A record is found by the path joined from its name in the ANSI code page,
// when that name fits the 260-byte buffer with its terminator. A record whose
// name does not (255 characters are allowed, up to 765 bytes under 65001) is
// passed over, and the search goes on past it.
TEST_F(CodePageText, RecordNamesAreFoundUpTo259BytesAndLongerOnesPassedOver) {
  const std::wstring nai(1, kNai);
  const struct {
    const char* name;
    std::wstring other;  // a record of another product, made first; empty: none
    std::wstring ours;
    bool found;
  } rows[] = {
      {"name with U+4E57", L"", L"Q" + nai, true},
      {"name of 259 bytes", L"", OfAnsiLength(L"Q", kZhong, 259), true},
      {"name of 260 bytes", L"", OfAnsiLength(L"Q", kZhong, 260), false},
      {"name of 261 bytes", L"", OfAnsiLength(L"Q", kZhong, 261), false},
      {"another product's name of 201 characters listed first", L"A" + std::wstring(200, kZhong),
       L"B" + nai, true},
  };
  InstallLocator locator;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testing_support::RemoveVarnexKey();
    if (!row.other.empty()) {
      Record other(Ansi(row.other));
      other.SetString("SoftWareID", "Varnex_Other");
    }
    Record record(Ansi(row.ours));
    record.MakeProduct({"C:\\App"});
    if (!row.other.empty()) {
      // The order the search meets them in, read by the names' own spelling.
      HKEY parent = NULL;
      wchar_t first[256] = {0};
      DWORD size = 256;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, testing_support::kInstalledPath, 0,
                        KEY_ENUMERATE_SUB_KEYS | testing_support::kPatcherView,
                        &parent) == ERROR_SUCCESS) {
        RegEnumKeyExW(parent, 0, first, &size, NULL, NULL, NULL, NULL);
        RegCloseKey(parent);
      }
      EXPECT_EQ(row.other, first) << "the other record is not listed first";
    }
    char* found = locator.FindProductKey(testing_support::kInstalledPath, "SoftWareID",
                                         testing_support::kProductId);
    EXPECT_EQ(row.found ? record.path() : "(none)", found != NULL ? found : "(none)");
    ReleaseString(found);
    TargetRecorder recorder;
    EXPECT_EQ(row.found ? 1 : 0, locator.Run(TargetRecorder::Callback, &recorder));
    EXPECT_EQ(row.found ? std::vector<std::string>({"C:\\App"}) : std::vector<std::string>(),
              recorder.Directories());
  }
}

// The whole update, for a folder of Chinese characters whose config path is
// 259 or 260 bytes in the ANSI code page, far fewer characters. The rule is
// in bytes: a config path of 260 or more is refused before anything is
// touched; at 259 the folder is updated, its skin probes (265 bytes, fewer
// than 260 characters) finding every skin.
TEST_F(CodePageText, ConfigPathsAreWrittenUpTo259BytesAndRefusedFrom260) {
  const std::string suffix = "\\Bin\\config.ini";
  for (size_t length : {259u, 260u}) {
    SCOPED_TRACE("config path of " + std::to_string(length) + " bytes");
    testing_support::RemoveVarnexKey();
    testing_support::TempTree tree;
    // A Linux file name holds 255 bytes at most, 85 Chinese characters in
    // UTF-8: under Wine the folder is several names of 40.
    const size_t bytes = length - suffix.size();
    const std::wstring forty(40, kZhong);
    std::wstring parent = Wide(tree.root());
    while (Ansi(parent + L"\\" + forty + L"\\" + forty).size() < bytes) parent += L"\\" + forty;
    const std::wstring directory = OfAnsiLength(parent + L"\\", kZhong, bytes);
    const std::string folder = Ansi(directory);
    const std::string config_path = folder + suffix;
    EXPECT_EQ(length, config_path.size());
    EXPECT_TRUE(testing_support::MakeLongDir(folder + "\\Bin\\Res"));
    for (const std::string& skin : testing_support::AllSkins()) {
      EXPECT_TRUE(testing_support::WriteLongFile(folder + "\\Bin\\Res\\" + skin, "[Skin]\r\n"));
    }
    const std::vector<std::string> before = testing_support::ListTree(tree.root());
    Record record("Product");
    WriteWideTarget(record, directory);
    InstallLocator locator;
    ConfigIni config;
    int result = locator.Run(UpdateTargetConfig, &config);
    std::vector<std::string> after = before;
    if (length < MAX_PATH) {
      EXPECT_EQ(1, result);
      EXPECT_EQ(testing_support::UpdatedConfig(testing_support::kAllSkins),
                testing_support::ReadWholeFile(config_path));
      after.push_back(config_path);
      std::sort(after.begin(), after.end());
    } else {
      EXPECT_EQ(-1, result);
    }
    EXPECT_EQ(after, testing_support::ListTree(tree.root()));
  }
}

class Cp936 : public PatcherTest {
 protected:
  void SetUp() override {
    PatcherTest::SetUp();
    if (GetACP() != 936) {
      GTEST_SKIP() << "needs the ANSI code page 936 (Chinese, Simplified); this system's is "
                   << GetACP();
    }
  }
};

// U+4E57 in code page 936.
const char kNai936[] = "\x81\x5C";

TEST_F(Cp936, PlatformReadsTheCharacterAsLeadAndBackslash) {
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  std::string text = std::string("C:\\") + kNai936;
  // The byte before the end is a trail byte, not a character of its own.
  EXPECT_EQ(text.c_str() + 3, CharPrevA(text.c_str(), text.c_str() + text.size()));
  Record record("Product");
  const wchar_t wide[] = L"C:\\\x4E57";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(record.key(), L"Target0", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(wide), sizeof wide));
  char buffer[kRegTextSize];
  ZeroMemory(buffer, sizeof buffer);
  InstallLocator locator;
  EXPECT_EQ(REG_SZ, locator.QueryValue(record.key(), "Target0", reinterpret_cast<BYTE*>(buffer),
                                       sizeof buffer));
  EXPECT_EQ(text, buffer);
}

TEST_F(Cp936, ProcessTargetKeepsTheTrailByteInTheCallersBuffer) {
  char buffer[16];
  memset(buffer, 0xCC, sizeof buffer);
  memcpy(buffer, "C:\\\x81\x5C", 6);
  InstallLocator locator;
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.ProcessTarget(buffer, TargetRecorder::Callback, &recorder));
  EXPECT_STREQ("C:\\\x81\x5C", buffer);
  ASSERT_EQ(1u, recorder.calls.size());
  EXPECT_EQ("C:\\\x81\x5C\\Bin\\config.ini", recorder.calls[0].config_path);
  EXPECT_EQ(static_cast<char>(0xCC), buffer[6]);
}

}  // namespace
