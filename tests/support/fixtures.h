// Test fixtures owned by each test: installation records under
// HKEY_LOCAL_MACHINE\SOFTWARE\Varnex\SoftWareInstalled (32-bit view) and a
// fresh temporary file tree. Both are removed before and after each test.
#ifndef TESTS_SUPPORT_FIXTURES_H_
#define TESTS_SUPPORT_FIXTURES_H_

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace testing_support {

extern const char kInstalledPath[];  // SOFTWARE\Varnex\SoftWareInstalled
extern const char kProductId[];      // Varnex_Quendal
// What the file readers below give for a file that cannot be read.
extern const char kMissing[];  // <missing>
// A user's own config.ini, put where a run must not write: it stays as it was.
extern const char kUntouchedConfig[];

// The registry view the patcher reads and the fixtures write by default: the
// 32-bit one, whichever the bitness of this program.
const REGSAM kPatcherView = KEY_WOW64_32KEY;

// Removes HKLM\SOFTWARE\Varnex in the given view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY).
void RemoveVarnexKey(REGSAM view = kPatcherView);

// True on 32-bit Windows, which has no WoW64 and one registry view: there
// KEY_WOW64_64KEY and KEY_WOW64_32KEY both name the keys every program sees.
bool HasOneRegistryView();
// Why a test of the 64-bit view skips there.
extern const char kOneViewSkip[];
// Whether this program sees both registry views, as on 64-bit Windows: a
// 64-bit program, or a 32-bit one under WoW64.
::testing::AssertionResult SeesBothRegistryViews();

// One installation record: a subkey of the installed-products key. The key
// stays open for writing values until the object goes away.
class Record {
 public:
  explicit Record(const std::string& subkey, REGSAM view = kPatcherView);
  ~Record();
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  // Full path under HKEY_LOCAL_MACHINE.
  const std::string& path() const { return path_; }
  HKEY key() const { return key_; }

  // Writes raw data of any type with an explicit size (so a string can lack
  // its terminator, or a value can have size 0).
  void SetRaw(const std::string& name, DWORD type, const void* data, DWORD size);
  // A REG_SZ with its terminator.
  void SetString(const std::string& name, const std::string& text);
  void SetDword(const std::string& name, DWORD value);
  // SoftWareID = Varnex_Quendal, TargetNum = number of targets, Target<i>.
  void MakeProduct(const std::vector<std::string>& targets);

 private:
  std::string path_;
  HKEY key_ = NULL;
};

// A fresh folder under the temporary directory, removed with all it holds.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // Windows path of the root, without a trailing separator.
  const std::string& root() const { return root_; }
  // root + "\" + relative.
  std::string Path(const std::string& relative) const;
  // Creates relative (and its parents) as folders.
  void MakeDir(const std::string& relative) const;
  // Creates relative (and its parent folders) as a file holding content.
  void WriteFile(const std::string& relative, const std::string& content) const;
  // Content of relative, or kMissing when it cannot be read.
  std::string ReadFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // An installation folder: Bin\Res with the given skin files.
  void MakeInstall(const std::string& relative, const std::vector<std::string>& skins) const;

 private:
  std::string root_;
};

// The four skin files, in their table order.
const std::vector<std::string>& AllSkins();
// A skin mask with every skin of AllSkins().
const unsigned kAllSkins = 0xF;

// A text converted from UTF-16 into a code page (CP_ACP: the ANSI code page
// the -A functions speak; CP_UTF8), and back; "" where the conversion fails.
std::string Narrow(const std::wstring& wide, UINT code_page = CP_ACP);
std::wstring Widen(const std::string& text, UINT code_page = CP_ACP);

// The \\?\ form of a path from a drive's root (C:\...), which Win32 takes
// past MAX_PATH; any other path as it is, in UTF-16.
std::wstring LongForm(const std::string& path);

// Content of a file (an absolute path may pass MAX_PATH), or kMissing when it
// cannot be read: the one file reader of the tests.
std::string ReadWholeFile(const std::string& path);

// Removes a tree of files and folders at an absolute path, paths past
// MAX_PATH included; clears read-only marks on the way.
void RemoveTree(const std::string& path);

// Creates every folder of an absolute path, through the \\?\ form so that
// fixtures past the ANSI folder limit (248 characters on Windows) can exist.
bool MakeLongDir(const std::string& path);
bool WriteLongFile(const std::string& path, const std::string& content);

// Every file and folder under an absolute path (past MAX_PATH too), as full
// paths, sorted.
std::vector<std::string> ListTree(const std::string& root);

// Owns the countdown of FailAllocation (driver/text_helpers.h), which is
// global, for a scope: makes the nth allocation from now fail (1: the next;
// 0: none) and turns the countdown off again at the end, so that one that did
// not fire cannot fail an allocation of a later test. With must_fire, a
// countdown that never reached its allocation fails the test; with nth 0,
// one that anybody else left running does.
class FailingAllocation {
 public:
  explicit FailingAllocation(long nth = 0, bool must_fire = true);
  ~FailingAllocation() { End(); }
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // Turns the countdown off now, with the checks of the end.
  void End();

 private:
  long nth_;
  bool must_fire_;
};

// Clean registry, a fresh tree and no allocation failure pending for each test.
class PatcherTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  TempTree tree_;
  FailingAllocation no_failure_;
};

// The exact bytes of a config.ini that the update created from nothing, as
// the profile functions lay it out: the four settings, UIStyleFlag and the
// SkinConfig entries of the skins whose bit is set in skin_mask (bit k = skin
// k of AllSkins()). The one copy of that text for all tests.
std::string UpdatedConfig(unsigned skin_mask);

// The eight writes of an update with every skin present, in their order.
struct ConfigWrite {
  const char* section;
  const char* key;
  const char* value;
};
const int kUpdateWriteCount = 8;
extern const ConfigWrite kUpdateWrites[kUpdateWriteCount];

// The bytes of a config.ini created from nothing by the writes whose bit is
// set in `landed` (bit w = kUpdateWrites[w]), or kMissing for none.
std::string ConfigOfWrites(unsigned landed);

// Another program's brief hold on a file, as a virus scanner or a backup agent
// takes right after a write: the file is opened (created when `create`) with
// `share` at once and let go of after hold_ms, on a thread of its own.
class FileHold {
 public:
  FileHold(const std::string& path, DWORD share, bool create, DWORD hold_ms);
  // Waits until the file is let go of.
  ~FileHold();
  FileHold(const FileHold&) = delete;
  FileHold& operator=(const FileHold&) = delete;

  bool held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  static DWORD WINAPI LetGo(void* self);
  HANDLE file_;
  DWORD hold_ms_;
  HANDLE thread_ = NULL;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_FIXTURES_H_
