// Target texts under code page 936, where 0x5C ('\') is also the trail byte
// of some double-byte characters: U+4E57 is 81 5C. Such a byte belongs to the
// name and must never be cut as a separator. Runs where the ANSI code page is
// 936 (the codepage936 test's Wine prefix) and skips itself elsewhere.
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"
#include "tests/support/target_recorder.h"

namespace {

using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::TargetRecorder;

// U+4E57 in code page 936: a lead byte and a trail byte that is '\'.
const char kNai[] = "\x81\x5C";

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

TEST_F(Cp936, PlatformReadsTheCharacterAsLeadAndBackslash) {
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  std::string text = std::string("C:\\") + kNai;
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

// Target texts written by a Unicode installer, read back as code page 936.
TEST_F(Cp936, TrailByteBackslashIsPartOfTheName) {
  const std::string nai = kNai;
  const struct {
    const wchar_t* text;
    std::string directory;  // empty: the target fails without a callback
  } cases[] = {
      {L"C:\\\x4E57", "C:\\" + nai},
      {L"C:\\\x4E57\\", "C:\\" + nai},
      {L"C:\\\x4E57/", "C:\\" + nai},
      {L"C:\\\x4E57 , 2", "C:\\" + nai},
      {L"C:\\\x4E57\\ ,1.0", "C:\\" + nai},
      // Not a full path: nothing a double-byte character holds makes one.
      {L"\x4E57", ""},
      {L"\x4E57\\\\App", ""},
      {L"\x4E57:\\App", ""},
      {L"\\\\\x4E57\\App", "\\\\" + nai + "\\App"},
      {L"C:\\Apps\\\x4E57\x4E57", "C:\\Apps\\" + nai + nai},
      {L"C:\\\x4E57\\\\", "C:\\" + nai + "\\"},
      {L"C:\\App\\", "C:\\App"},
      {L"\\", ""},
  };
  InstallLocator locator;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.SetString("SoftWareID", testing_support::kProductId);
    record.SetDword("TargetNum", 1);
    DWORD size = static_cast<DWORD>((wcslen(c.text) + 1) * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(record.key(), L"Target0", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(c.text), size));
    TargetRecorder recorder;
    recorder.ExpectOneTarget(locator.Run(TargetRecorder::Callback, &recorder), c.directory);
  }
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

// A record whose subkey name holds the character is still found and opened by
// the path joined from its name.
TEST_F(Cp936, RecordNameWithTrailByteBackslashIsFound) {
  const std::string name = std::string("Q") + kNai;
  Record record(name);
  record.MakeProduct({"C:\\App"});
  InstallLocator locator;
  char* found = locator.FindProductKey(testing_support::kInstalledPath, "SoftWareID",
                                       testing_support::kProductId);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(record.path(), found);
  ReleaseString(found);
  TargetRecorder recorder;
  EXPECT_EQ(1, locator.Run(TargetRecorder::Callback, &recorder));
  EXPECT_EQ(std::vector<std::string>({"C:\\App"}), recorder.Directories());
}

}  // namespace
