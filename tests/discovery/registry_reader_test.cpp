// The registry value reader against Wine's real registry: type codes, sizes,
// cut and unterminated strings, untouched buffers, and the string comparison
// that the product lookup relies on.
#include <string.h>
#include <windows.h>

#include <string>

#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::PatcherTest;
using testing_support::Record;

const unsigned char kPoison = 0xCC;
const size_t kArea = 400;  // poisoned bytes around every read

// Size and type as the registry stores them, read back with the raw API, so a
// fixture that meant to store a string without its terminator can prove it did.
DWORD StoredSize(HKEY key, const char* name, DWORD* type) {
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name, NULL, type, NULL, &size);
  EXPECT_EQ(ERROR_SUCCESS, status) << name;
  return size;
}

// Number of leading bytes of area that are not the poison.
size_t TouchedPrefix(const unsigned char* area, size_t size) {
  size_t last = 0;
  for (size_t i = 0; i < size; ++i) {
    if (area[i] != kPoison) last = i + 1;
  }
  return last;
}

class RegistryReader : public PatcherTest {};

// One value per row, read with QueryValue from the open record and with
// ReadValue by path: both must agree on the type, the number of bytes copied
// and the bytes themselves, and leave every byte after them untouched.
TEST_F(RegistryReader, TypeAndSizeTable) {
  const std::string text259(259, 'p');
  const std::string text300(300, 'q');
  // 260 bytes of text followed by a non-zero byte: stored without terminator.
  const std::string exact260 = std::string(260, 'r') + "Z";
  const DWORD number = 0x12345678;
  const std::string dword(reinterpret_cast<const char*>(&number), 4);
  const std::string binary10("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", 10);

  static const DWORD kNone = 0xFFFFFFFF;
  const struct {
    const char* name;
    DWORD type;  // kNone: no value stored
    std::string data;
    DWORD stored_size;
    DWORD buffer_size;
    int expected;
    DWORD copied;  // bytes that must equal data's first bytes
  } cases[] = {
      {"dword", REG_DWORD, dword, 4, 4, REG_DWORD, 4},
      {"abc", REG_SZ, std::string("abc", 4), 4, 260, REG_SZ, 4},
      {"text259", REG_SZ, text259 + '\0', 260, 260, REG_SZ, 260},
      {"binary10", REG_BINARY, binary10, 10, 4, REG_BINARY, 4},
      {"binary10_roomy", REG_BINARY, binary10, 10, 64, REG_BINARY, 10},
      {"zero_size_sz", REG_SZ, "x", 0, 260, -1, 0},
      {"zero_size_binary", REG_BINARY, "x", 0, 260, -1, 0},
      {"missing", kNone, "", 0, 260, -1, 0},
      {"expand", REG_EXPAND_SZ, std::string("%WINDIR%", 9), 9, 260, REG_EXPAND_SZ, 9},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0", 5), 5, 260, REG_MULTI_SZ, 5},
      {"text300_cut", REG_SZ, text300 + '\0', 301, 260, REG_SZ, 260},
      {"exact260_unterminated", REG_SZ, exact260, 260, 260, REG_SZ, 260},
      {"abc_unterminated", REG_SZ, "abcX", 3, 260, REG_SZ, 3},
      {"dword_in_big_buffer", REG_DWORD, dword, 4, 260, REG_DWORD, 4},
  };

  Record record("Reader");
  for (const auto& c : cases) {
    if (c.type != kNone) record.SetRaw(c.name, c.type, c.data.data(), c.stored_size);
  }
  // The registry must hold what each row claims, without an added terminator.
  for (const auto& c : cases) {
    if (c.type == kNone) continue;
    DWORD type = 0;
    EXPECT_EQ(c.stored_size, StoredSize(record.key(), c.name, &type)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
  }

  InstallLocator locator;
  for (const auto& c : cases) {
    for (int via_path = 0; via_path < 2; ++via_path) {
      SCOPED_TRACE(std::string(c.name) + (via_path ? " (ReadValue)" : " (QueryValue)"));
      unsigned char area[kArea];
      memset(area, kPoison, sizeof area);
      int result = via_path ? locator.ReadValue(HKEY_LOCAL_MACHINE, record.path().c_str(), c.name,
                                                area, c.buffer_size)
                            : locator.QueryValue(record.key(), c.name, area, c.buffer_size);
      EXPECT_EQ(c.expected, result);
      EXPECT_EQ(c.copied, TouchedPrefix(area, sizeof area));
      EXPECT_EQ(0, memcmp(area, c.data.data(), c.copied));
    }
  }
}

TEST_F(RegistryReader, DwordFillsTheBufferWithTheNumber) {
  Record record("Reader");
  record.SetDword("TargetNum", 0x80000001);
  DWORD value = 0;
  InstallLocator locator;
  EXPECT_EQ(REG_DWORD, locator.ReadValue(HKEY_LOCAL_MACHINE, record.path().c_str(), "TargetNum",
                                         reinterpret_cast<BYTE*>(&value), sizeof value));
  EXPECT_EQ(0x80000001u, value);
}

TEST_F(RegistryReader, Text259ArrivesWholeAndTerminatedInA260ByteBuffer) {
  Record record("Reader");
  const std::string text = "C:\\" + std::string(256, 'd');
  ASSERT_EQ(259u, text.size());
  record.SetString("Target0", text);
  char buffer[kRegTextSize];
  ZeroMemory(buffer, sizeof buffer);
  InstallLocator locator;
  EXPECT_EQ(REG_SZ, locator.ReadValue(HKEY_LOCAL_MACHINE, record.path().c_str(), "Target0",
                                      reinterpret_cast<BYTE*>(buffer), sizeof buffer));
  EXPECT_EQ('\0', buffer[259]);
  EXPECT_EQ(text, std::string(buffer));
}

TEST_F(RegistryReader, KeyThatCannotBeOpenedReturnsMinusOneAndLeavesTheBuffer) {
  Record record("Reader");
  record.SetDword("TargetNum", 1);
  InstallLocator locator;
  const char* paths[] = {"SOFTWARE\\Varnex\\SoftWareInstalled\\Absent",
                         "SOFTWARE\\Varnex\\SoftWareInstalled\\Reader\\Deeper", "\\\\bad"};
  for (const char* path : paths) {
    unsigned char area[16];
    memset(area, kPoison, sizeof area);
    EXPECT_EQ(-1, locator.ReadValue(HKEY_LOCAL_MACHINE, path, "TargetNum", area, 4)) << path;
    EXPECT_EQ(0u, TouchedPrefix(area, sizeof area)) << path;
  }
}

TEST_F(RegistryReader, NullArgumentsReturnMinusOne) {
  Record record("Reader");
  record.SetDword("TargetNum", 1);
  InstallLocator locator;
  unsigned char area[16];
  memset(area, kPoison, sizeof area);
  const char* path = record.path().c_str();
  EXPECT_EQ(-1, locator.QueryValue(NULL, "TargetNum", area, 4));
  EXPECT_EQ(-1, locator.QueryValue(record.key(), NULL, area, 4));
  EXPECT_EQ(-1, locator.QueryValue(record.key(), "TargetNum", NULL, 4));
  EXPECT_EQ(-1, locator.ReadValue(NULL, path, "TargetNum", area, 4));
  EXPECT_EQ(-1, locator.ReadValue(HKEY_LOCAL_MACHINE, path, NULL, area, 4));
  EXPECT_EQ(-1, locator.ReadValue(HKEY_LOCAL_MACHINE, path, "TargetNum", NULL, 4));
  EXPECT_EQ(0u, TouchedPrefix(area, sizeof area));
}

// The sub-key path goes to the platform unchanged: a null path reads the root.
TEST_F(RegistryReader, NullSubKeyReadsTheRootKeyItself) {
  Record record("Reader");
  record.SetDword("TargetNum", 7);
  DWORD value = 0;
  InstallLocator locator;
  EXPECT_EQ(REG_DWORD, locator.ReadValue(record.key(), NULL, "TargetNum",
                                         reinterpret_cast<BYTE*>(&value), sizeof value));
  EXPECT_EQ(7u, value);
}

TEST_F(RegistryReader, FailedTemporaryBlockReturnsMinusOneAndLeavesTheBuffer) {
  Record record("Reader");
  record.SetString("Target0", "C:\\App");
  InstallLocator locator;
  unsigned char area[kRegTextSize];
  memset(area, kPoison, sizeof area);
  long allocated = AllocatedBlocks();
  testing_support::FailingAllocation failing(1);
  int result = locator.QueryValue(record.key(), "Target0", area, sizeof area);
  failing.End();
  EXPECT_EQ(-1, result);
  EXPECT_EQ(0u, TouchedPrefix(area, sizeof area));
  EXPECT_EQ(allocated, AllocatedBlocks());
}

// Every temporary block is released, whatever the read's outcome.
TEST_F(RegistryReader, TemporaryBlocksAreReleasedOnEveryPath) {
  Record record("Reader");
  record.SetString("text", "abc");
  record.SetRaw("empty", REG_BINARY, "", 0);
  record.SetRaw("long", REG_SZ, std::string(500, 'l').c_str(), 501);
  InstallLocator locator;
  const char* names[] = {"text", "empty", "long", "missing"};
  for (const char* name : names) {
    long outstanding = AllocatedBlocks() - ReleasedBlocks();
    unsigned char area[kRegTextSize];
    locator.QueryValue(record.key(), name, area, sizeof area);
    EXPECT_EQ(outstanding, AllocatedBlocks() - ReleasedBlocks()) << name;
  }
}

// The reader opens keys in the 32-bit view (Wow6432Node), as a 32-bit program
// on 64-bit Windows sees the registry, whatever this program's bitness.
TEST_F(RegistryReader, ValueOnlyInThe64BitViewIsNotFound) {
  if (testing_support::HasOneRegistryView()) GTEST_SKIP() << testing_support::kOneViewSkip;
  ASSERT_TRUE(testing_support::SeesBothRegistryViews());
  Record record64("Only64", KEY_WOW64_64KEY);
  record64.SetDword("TargetNum", 5);
  InstallLocator locator;
  DWORD value = 0;
  EXPECT_EQ(-1, locator.ReadValue(HKEY_LOCAL_MACHINE, record64.path().c_str(), "TargetNum",
                                  reinterpret_cast<BYTE*>(&value), sizeof value));
  EXPECT_EQ(0u, value);

  Record record32("Only64");
  record32.SetDword("TargetNum", 6);
  EXPECT_EQ(REG_DWORD, locator.ReadValue(HKEY_LOCAL_MACHINE, record32.path().c_str(), "TargetNum",
                                         reinterpret_cast<BYTE*>(&value), sizeof value));
  EXPECT_EQ(6u, value);
}

class ValueEquals : public PatcherTest {};

TEST_F(ValueEquals, Table) {
  const std::string text259(259, 'v');
  const std::string text300(300, 'w');
  const std::string exact260 = std::string(260, 'x') + "Z";
  const std::string id = testing_support::kProductId;
  const struct {
    const char* name;
    DWORD type;
    std::string data;
    DWORD size;
    std::string expected;
    int result;
  } cases[] = {
      {"exact", REG_SZ, id, static_cast<DWORD>(id.size() + 1), id, 1},
      {"letter_case", REG_SZ, "varnex_quendal", 15, id, 0},
      {"upper_case", REG_SZ, "VARNEX_QUENDAL", 15, id, 0},
      {"trailing_blank", REG_SZ, id + " ", static_cast<DWORD>(id.size() + 2), id, 0},
      {"leading_blank", REG_SZ, " " + id, static_cast<DWORD>(id.size() + 2), id, 0},
      {"shorter", REG_SZ, "Varnex_Quenda", 14, id, 0},
      {"expand_sz", REG_EXPAND_SZ, id, static_cast<DWORD>(id.size() + 1), id, 0},
      {"multi_sz", REG_MULTI_SZ, id + std::string(2, '\0'), static_cast<DWORD>(id.size() + 2), id,
       0},
      {"binary", REG_BINARY, id, static_cast<DWORD>(id.size() + 1), id, 0},
      // Short enough to land in the zeroed buffer, so it arrives terminated.
      {"unterminated_short", REG_SZ, id + "Z", static_cast<DWORD>(id.size()), id, 1},
      {"empty_text", REG_SZ, std::string(1, '\0'), 1, "", 1},
      {"zero_size", REG_SZ, "x", 0, "", 0},
      {"text259", REG_SZ, text259, 260, text259, 1},
      {"exact260_unterminated", REG_SZ, exact260, 260, exact260.substr(0, 260), 0},
      {"exact260_vs_259", REG_SZ, exact260, 260, exact260.substr(0, 259), 0},
      {"text300", REG_SZ, text300, 301, text300, 0},
      {"text300_vs_cut", REG_SZ, text300, 301, text300.substr(0, 260), 0},
      {"text300_vs_259", REG_SZ, text300, 301, text300.substr(0, 259), 0},
  };
  Record record("Equals");
  for (const auto& c : cases) record.SetRaw(c.name, c.type, c.data.c_str(), c.size);
  for (const auto& c : cases) {
    DWORD type = 0;
    EXPECT_EQ(c.size, StoredSize(record.key(), c.name, &type)) << c.name;
  }
  InstallLocator locator;
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, locator.ValueEquals(record.path().c_str(), c.name, c.expected.c_str()))
        << c.name;
  }
}

// lstrcmpA is a locale word sort in which the soft hyphen (U+00AD) weighs
// nothing, so it alone calls the identifier with one after it equal (under
// code pages 1252 and 65001). The character is made from the ANSI code page
// the test runs under: 0xAD in 1252, C2 AD in 65001; code page 936 has none.
TEST_F(ValueEquals, IdentifierFollowedBySoftHyphenIsNoMatch) {
  const wchar_t soft_hyphen[] = L"\x00AD";
  char ansi[8] = {0};
  int length = WideCharToMultiByte(CP_ACP, 0, soft_hyphen, 1, ansi, sizeof ansi, NULL, NULL);
  wchar_t back[2] = {0};
  if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, ansi, length, back, 2) != 1 ||
      back[0] != soft_hyphen[0]) {
    GTEST_SKIP() << "the ANSI code page has no soft hyphen (U+00AD); this system's is " << GetACP();
  }
  const std::string id = testing_support::kProductId;
  const std::string text = id + std::string(ansi, length);
  Record record("Equals");
  record.SetString("SoftWareID", text);
  DWORD type = 0;
  EXPECT_EQ(text.size() + 1, StoredSize(record.key(), "SoftWareID", &type));
  EXPECT_EQ(0, lstrcmpA(text.c_str(), id.c_str())) << "the sort no longer ignores it";
  EXPECT_EQ(0, InstallLocator().ValueEquals(record.path().c_str(), "SoftWareID", id.c_str()));
}

TEST_F(ValueEquals, MissingValueKeyOrArgumentIsNoMatch) {
  Record record("Equals");
  record.SetString("SoftWareID", testing_support::kProductId);
  InstallLocator locator;
  const char* path = record.path().c_str();
  const char* id = testing_support::kProductId;
  EXPECT_EQ(1, locator.ValueEquals(path, "SoftWareID", id));
  EXPECT_EQ(0, locator.ValueEquals(path, "SoftwareIDX", id));
  EXPECT_EQ(0,
            locator.ValueEquals("SOFTWARE\\Varnex\\SoftWareInstalled\\Nothing", "SoftWareID", id));
  EXPECT_EQ(0, locator.ValueEquals(NULL, "SoftWareID", id));
  EXPECT_EQ(0, locator.ValueEquals(path, NULL, id));
  EXPECT_EQ(0, locator.ValueEquals(path, "SoftWareID", NULL));
}

// Value names are case-insensitive in the registry; only the data is compared
// case-sensitively.
TEST_F(ValueEquals, ValueNameMatchesInAnyCase) {
  Record record("Equals");
  record.SetString("softwareid", testing_support::kProductId);
  InstallLocator locator;
  EXPECT_EQ(1,
            locator.ValueEquals(record.path().c_str(), "SoftWareID", testing_support::kProductId));
}

}  // namespace
