// The real patcher, run as a user runs it: one process, one message box read
// and answered from here, its exit code, and what it left on disk.
#include <shlwapi.h>
#include <string.h>
#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/message_box_watcher.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::AllSkins;
using testing_support::kMissing;
using testing_support::PatcherTest;
using testing_support::Record;

const char kSuccess[] = "Orvane SP1 Run Successfully.";
const char kFailure[] = "Orvane SP1 Run failed.";
const char kNotInstalled[] = "Please install Orvane Business Series.Then run this program again.";

// A user's file with settings of its own. It is written the way Wine rewrites
// a profile file (no blank lines, no blanks around '='), so the updated file
// is the same bytes on Windows, which keeps the rest as it was, and on Wine.
const char kUserConfig[] =
    "[Setting Infor]\r\nUILangFlag=0\r\nVolume=80\r\n[Player]\r\nLastFile=lesson 1.mp3\r\n"
    "[Skin Infor]\r\nUIStyleFlag=3\r\nSkinConfig0=res\\old.ini\r\n";
const char kUserConfigUpdated[] =
    "[Setting Infor]\r\nUILangFlag=2\r\nVolume=80\r\nFollowReadNum=3\r\n"
    "DelayPlayTimeInHearingMode=1500\r\n[Player]\r\nLastFile=lesson 1.mp3\r\n"
    "[Skin Infor]\r\nUIStyleFlag=0\r\nSkinConfig0=res\\skinSinE.ini\r\n"
    "SkinConfig1=res\\skinCorE.ini\r\nSkinConfig2=res\\skinSinC.ini\r\n"
    "SkinConfig3=res\\skinCorC.ini\r\n";

// One installation folder of a scenario, relative to the test's tree.
struct InstallFolder {
  const char* folder;
  int skins;                  // the first this many of the four skin files exist
  const char* config_before;  // null: no config.ini
  const char* config_after;   // kMissing: the run must leave none
};

// The token a row starts the patcher with. Wine 8 starts every program with an
// administrator's full token and Wine 10 with the limited one, as Windows does
// under UAC; each holds the other as its linked token.
enum class Start { kAsThisProgram, kLimited, kFull };

struct PatcherRun {
  const char* name;
  bool installed;  // the product's record exists
  std::vector<InstallFolder> targets;
  const char* message;
  bool relative = false;  // the record names the folders relative to the tree
  bool busy = false;      // another program holds the first config.ini for 500 ms
  bool planted = false;   // run from a folder holding a planted uxtheme.dll, in another
  bool view64 = false;    // the record is in the 64-bit registry view only
  // One of the runs that show each message, the registry view and the DLL
  // search of the shipped program: the ones that depend on its bitness.
  bool shipped = false;
  Start start = Start::kAsThisProgram;
};

// The planted DLL's mark (tests/planted), in the tree: a file it creates there
// when a process loads it.
const char kPlantedMark[] = "planted.mark";

// A file that this program carries as a resource (tests/planted/planted.rc):
// PLANTED_UXTHEME, the planted uxtheme.dll, or PLANTED_CONTROL, its control
// program; "" when it carries none of that name.
std::string Carried(const char* resource) {
  HRSRC found = FindResourceA(NULL, resource, MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (found == NULL) return "";
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(NULL, found)));
  return bytes == nullptr ? "" : std::string(bytes, SizeofResource(NULL, found));
}

bool HasName(const char* entry, const char* name) {
  const int length = lstrlenA(name);
  return _strnicmp(entry, name, length) == 0 && entry[length] == '=';
}

// This process's environment with ORVANE_PLANTED_MARK naming mark, as a block
// for CreateProcessA.
std::string MarkingEnvironment(const std::string& mark) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0'; entry += lstrlenA(entry) + 1) {
    if (!HasName(entry, "ORVANE_PLANTED_MARK")) block.append(entry, lstrlenA(entry) + 1);
  }
  FreeEnvironmentStringsA(strings);
  block += "ORVANE_PLANTED_MARK=" + mark + '\0';
  return block + '\0';
}

// The control of a planted run: the control program, started as program in
// working_dir with environment, as the patcher is next and under its name (so
// under the same per-program override), shows a box and must leave the mark
// at mark. Where it does not, a load of the planted uxtheme.dll leaves no mark
// here, and the patcher's leaving none shows nothing. The control and its
// mark are removed after.
void ExpectControlLeavesTheMark(const std::string& program, const std::string& working_dir,
                                const std::string& environment, const std::string& mark) {
  const std::string control = Carried("PLANTED_CONTROL");
  ASSERT_FALSE(control.empty()) << "this program carries no control program";
  ASSERT_TRUE(testing_support::WriteLongFile(program, control)) << program;
  const e2e::BoxedRun run = e2e::RunAndAnswer(program, working_dir, 20000, environment.c_str());
  EXPECT_TRUE(run.started && run.exited) << program;
  EXPECT_EQ(1u, run.boxes.size()) << "boxes the control showed";
  EXPECT_NE(kMissing, testing_support::ReadWholeFile(mark))
      << "the control, whose DLL search is not limited, loaded no planted uxtheme.dll";
  DeleteFileA(mark.c_str());
  ASSERT_TRUE(DeleteFileA(program.c_str())) << program;
}

// While it lives, Wine loads uxtheme.dll native first for the programs named
// image_name, as Windows does for every DLL that is not a KnownDLL: a file of
// that name in the program's folder before the system's. Wine's default, its
// builtin copy wherever such a file lies, would hide a program that searches
// where it should not. A WINEDLLOVERRIDES in the environment block given to
// CreateProcessA changes nothing under Wine 8 (measured: the child's WINE*
// variables are its parent's Unix ones), so the override is Wine's
// per-program registry key, made here and removed after. On Windows it does
// nothing.
class UxthemeNativeFirst {
 public:
  explicit UxthemeNativeFirst(const std::string& image_name)
      : key_("Software\\Wine\\AppDefaults\\" + image_name) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == NULL || GetProcAddress(ntdll, "wine_get_version") == NULL) {
      made_ = true;
      return;
    }
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str(), 0, NULL, 0,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS) {
      return;
    }
    under_wine_ = true;
    static const char kNativeFirst[] = "native,builtin";
    made_ = RegSetValueExA(key, "uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                           sizeof kNativeFirst) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ~UxthemeNativeFirst() {
    if (!under_wine_) return;
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
  }
  UxthemeNativeFirst(const UxthemeNativeFirst&) = delete;
  UxthemeNativeFirst& operator=(const UxthemeNativeFirst&) = delete;

  // The override holds (or is Windows' own behaviour).
  bool made() const { return made_; }

 private:
  // Under HKEY_CURRENT_USER; removed with all it holds, since only the
  // planted run uses the name.
  const std::string key_;
  bool made_ = false;
  bool under_wine_ = false;
};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

TOKEN_ELEVATION_TYPE ElevationType(HANDLE token) {
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
  return type;
}

// A primary token of the type wanted: this program's own, or the one linked
// to it. Null, with the reason in *why, where neither is of that type.
HANDLE StartToken(TOKEN_ELEVATION_TYPE wanted, std::string* why) {
  HANDLE own = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                        &own)) {
    *why = "this program's token cannot be opened";
    return NULL;
  }
  HANDLE source = own;
  TOKEN_LINKED_TOKEN linked = {NULL};
  DWORD size = 0;
  if (ElevationType(own) != wanted &&
      GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
    source = linked.LinkedToken;
  }
  HANDLE primary = NULL;
  if (ElevationType(source) != wanted ||
      !DuplicateTokenEx(source, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary,
                        &primary)) {
    *why = "neither this program's token nor its linked one is of elevation type " +
           std::to_string(wanted) + " (UAC off, or a linked token to be had only as SYSTEM)";
    primary = NULL;
  }
  if (linked.LinkedToken != NULL) CloseHandle(linked.LinkedToken);
  CloseHandle(own);
  return primary;
}

// Every file and folder under root, by relative path, with what identifies
// its state: attributes, size, last write and the content.
std::map<std::string, std::string> Snapshot(const std::string& root,
                                            const std::string& relative = "") {
  std::map<std::string, std::string> state;
  std::string folder = relative.empty() ? root : root + "\\" + relative;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return state;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = relative.empty() ? name : relative + "\\" + name;
    char stamp[96];
    wsprintfA(stamp, "attr %lx size %lu time %lx:%lx ", found.dwFileAttributes, found.nFileSizeLow,
              found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      state[path] = std::string(stamp) + "folder";
      std::map<std::string, std::string> inner = Snapshot(root, path);
      state.insert(inner.begin(), inner.end());
    } else {
      state[path] = std::string(stamp) + testing_support::ReadWholeFile(root + "\\" + path);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return state;
}

// Paths whose state differs between two snapshots, created and removed included.
std::set<std::string> Changed(const std::map<std::string, std::string>& before,
                              const std::map<std::string, std::string>& after) {
  std::set<std::string> changed;
  for (const auto& entry : after) {
    auto old = before.find(entry.first);
    if (old == before.end() || old->second != entry.second) changed.insert(entry.first);
  }
  for (const auto& entry : before) {
    if (after.count(entry.first) == 0) changed.insert(entry.first);
  }
  return changed;
}

std::string Describe(const e2e::BoxContent& box) {
  std::string text = "caption '" + box.caption + "' text '" + box.text + "' buttons";
  for (const e2e::BoxButton& button : box.buttons) {
    text += " " + std::to_string(button.id) + ":'" + button.label + "'";
  }
  return text;
}

// The table of whole runs: what the user sees, the exit code, and what each
// run leaves on disk.
const std::vector<PatcherRun>& Scenarios() {
  // The file a full update creates from nothing, and the one without
  // skinCorC.ini: every write happens, only SkinConfig3 is absent.
  static const std::string fresh = testing_support::UpdatedConfig(testing_support::kAllSkins);
  static const std::string three_skins = testing_support::UpdatedConfig(0x7);
  const char* const kFreshConfig = fresh.c_str();
  const char* const kThreeSkinsConfig = three_skins.c_str();
  static const std::vector<PatcherRun> scenarios = {
      {"not installed", false, {{"App", 4, kUserConfig, kUserConfig}}, kNotInstalled},
      // Where a 64-bit installer would have written it: not this product's.
      {"record in the 64-bit registry view only",
       true,
       {{"App", 4, kUserConfig, kUserConfig}},
       kNotInstalled,
       false,
       false,
       false,
       true,
       true},
      {"full success, config created", true, {{"App", 4, nullptr, kFreshConfig}}, kSuccess},
      {"full success, user config kept",
       true,
       {{"App", 4, kUserConfig, kUserConfigUpdated}},
       kSuccess},
      {"missing skin fails",
       true,
       {{"App", 3, nullptr, kThreeSkinsConfig}},
       kFailure,
       false,
       false,
       false,
       false,
       true},
      {"second of three fails, third untouched",
       true,
       {{"One", 4, nullptr, kFreshConfig},
        {"Two", 3, nullptr, kThreeSkinsConfig},
        {"Three", 4, kUserConfig, kUserConfig}},
       kFailure},
      {"three targets all updated",
       true,
       {{"One", 4, nullptr, kFreshConfig},
        {"Two", 4, kUserConfig, kUserConfigUpdated},
        {"Three", 4, nullptr, kFreshConfig}},
       kSuccess},
      // The tree is the working folder: an update by the relative name would
      // land in it.
      {"folder not named by a full path",
       true,
       {{"acc\\t1", 4, nullptr, kMissing}},
       kFailure,
       true},
      {"config busy for a moment, then updated",
       true,
       {{"App", 4, kUserConfig, kUserConfigUpdated}},
       kSuccess,
       false,
       true},
      // Downloaded and run as administrator from a folder anyone can write to,
      // with its working folder on another such folder: neither copy of the
      // planted uxtheme.dll (which the message box loads by name) may be
      // loaded. Only uxtheme.dll is planted. Wine's own user32 imports
      // version.dll, imm32.dll and others statically: told to load those native
      // first, Wine loads a planted copy before any code of the patcher runs,
      // where no program can prevent it. On Windows the patcher's three imports
      // are KnownDLLs, mapped with their own imports from the system folder and
      // never from the program's; what a program can guard is what is loaded
      // by name later.
      {"uxtheme.dll planted beside the patcher and in its working folder",
       true,
       {{"App", 4, kUserConfig, kUserConfigUpdated}},
       kSuccess,
       false,
       false,
       true,
       false,
       true},
      // A double-click: the relaunch with the runas verb shows the one box.
      // Wine 8's runas gives a limited token again, so the relaunch must know
      // itself as one by other means than its token.
      {"started with an administrator's limited token: relaunched, and the relaunch updates",
       true,
       {{"App", 4, kUserConfig, kUserConfigUpdated}},
       kSuccess,
       false,
       false,
       false,
       false,
       true,
       Start::kLimited},
      {"started with an administrator's full token: runs in place",
       true,
       {{"App", 4, kUserConfig, kUserConfigUpdated}},
       kSuccess,
       false,
       false,
       false,
       false,
       false,
       Start::kFull},
  };
  return scenarios;
}

// One whole run of patcher in a fresh tree, checked as the row says.
void RunScenario(const PatcherRun& s, const std::string& patcher) {
  SCOPED_TRACE(s.name);
  testing_support::RemoveVarnexKey();
  testing_support::RemoveVarnexKey(KEY_WOW64_64KEY);
  testing_support::TempTree tree;
  std::vector<std::string> target_values;
  for (const InstallFolder& t : s.targets) {
    std::vector<std::string> skins(AllSkins().begin(), AllSkins().begin() + t.skins);
    tree.MakeInstall(t.folder, skins);
    if (t.config_before != nullptr) {
      tree.WriteFile(std::string(t.folder) + "\\Bin\\config.ini", t.config_before);
    }
    target_values.push_back(s.relative ? t.folder : tree.Path(t.folder));
  }
  // Other products' records are enumerated and passed over.
  Record other("Other");
  other.SetString("SoftWareID", "Varnex_Other");
  if (s.installed) {
    Record record("Quendal", s.view64 ? KEY_WOW64_64KEY : testing_support::kPatcherView);
    record.MakeProduct(target_values);
  }
  HANDLE token = NULL;
  if (s.start != Start::kAsThisProgram) {
    std::string why;
    token = StartToken(s.start == Start::kFull ? TokenElevationTypeFull : TokenElevationTypeLimited,
                       &why);
    ASSERT_NE(nullptr, token) << why;
  }
  std::string program = patcher;
  std::string working_dir = tree.root();
  std::string environment;
  std::unique_ptr<UxthemeNativeFirst> native_first;
  if (s.planted) {
    const std::string dll = Carried("PLANTED_UXTHEME");
    ASSERT_FALSE(dll.empty()) << "this program carries no planted uxtheme.dll";
    tree.WriteFile("Downloads\\uxtheme.dll", dll);
    tree.WriteFile("Share\\uxtheme.dll", dll);
    // Downloaded a second time, as a browser names it: no other run's name.
    const char kDownload[] = "OrvaneSP1 (2).exe";
    program = tree.Path(std::string("Downloads\\") + kDownload);
    working_dir = tree.Path("Share");
    environment = MarkingEnvironment(tree.Path(kPlantedMark));
    native_first.reset(new UxthemeNativeFirst(kDownload));
    ASSERT_TRUE(native_first->made());
    ASSERT_NO_FATAL_FAILURE(
        ExpectControlLeavesTheMark(program, working_dir, environment, tree.Path(kPlantedMark)));
    ASSERT_TRUE(CopyFileA(patcher.c_str(), program.c_str(), TRUE)) << program;
  }
  const std::map<std::string, std::string> before = Snapshot(tree.root());
  // File times have a coarse grain on some file systems: a rewrite in the
  // same tick must still differ, so wait past it.
  Sleep(20);

  // The working folder is in the tree, so a stray relative write would show.
  e2e::BoxedRun run;
  {
    std::unique_ptr<testing_support::FileHold> hold;
    if (s.busy) {
      std::string config = tree.Path(std::string(s.targets[0].folder) + "\\Bin\\config.ini");
      hold.reset(new testing_support::FileHold(config, 0, false, 500));
      ASSERT_TRUE(hold->held());
    }
    run = e2e::RunAndAnswer(program, working_dir, 20000, s.planted ? environment.c_str() : NULL,
                            token);
  }
  if (token != NULL) CloseHandle(token);

  ASSERT_TRUE(run.started) << program;
  if (s.planted) {
    EXPECT_EQ(kMissing, tree.ReadFile(kPlantedMark)) << "a planted uxtheme.dll was loaded";
  }
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(0u, run.exit_code);
  ASSERT_EQ(1u, run.boxes.size());
  const e2e::BoxContent& box = run.boxes[0];
  EXPECT_EQ("Varnex", box.caption) << Describe(box);
  EXPECT_EQ(s.message, box.text) << Describe(box);
  ASSERT_EQ(1u, box.buttons.size()) << Describe(box);
  // Known by its id: its label is in the user interface's language (确定 in Chinese).
  EXPECT_EQ(IDOK, box.buttons[0].id) << Describe(box);
  EXPECT_FALSE(box.has_icon) << Describe(box);
  EXPECT_FALSE(box.has_owner) << Describe(box);
  if (s.start == Start::kLimited) {
    EXPECT_NE(run.pid, box.pid) << "the box is the relaunch's";
    EXPECT_EQ(2u, run.processes.size()) << "the patcher and its one relaunch";
  } else if (s.start == Start::kFull) {
    EXPECT_EQ(run.pid, box.pid);
    EXPECT_EQ(1u, run.processes.size());
  }

  std::set<std::string> expected_changes;
  for (const InstallFolder& t : s.targets) {
    std::string config = std::string(t.folder) + "\\Bin\\config.ini";
    EXPECT_EQ(t.config_after, tree.ReadFile(config)) << config;
    if (t.config_before == nullptr ? t.config_after != std::string(kMissing)
                                   : t.config_after != std::string(t.config_before)) {
      expected_changes.insert(config);
    }
  }
  std::set<std::string> changed = Changed(before, Snapshot(tree.root()));
  // A config created in Bin changes the folder's own last-write time.
  for (const std::string& config : expected_changes) {
    if (before.count(config) == 0) changed.erase(config.substr(0, config.rfind('\\')));
  }
  EXPECT_EQ(expected_changes, changed);
}

// Why a row cannot run here; empty where it can. Wine shows no consent
// prompt and gives every program a linked token, so there every row runs.
std::string LeftOutHere(const PatcherRun& s) {
  // 32-bit Windows has one view: a record cannot be in the 64-bit one only.
  if (s.view64 && testing_support::HasOneRegistryView()) return testing_support::kOneViewSkip;
  if (s.start == Start::kAsThisProgram || UnderWine()) return "";
  if (s.start == Start::kLimited) {
    return "Windows asks for an administrator's consent to the relaunch, which no test can give";
  }
  std::string why;
  HANDLE token = StartToken(TokenElevationTypeFull, &why);
  if (token != NULL) CloseHandle(token);
  return why;
}

// The patcher under test, recorded in the test's report as "patcher": the
// signed release's check counts the tests that ran it. GoogleTest's XML report
// holds its properties in UTF-8; the kit's folder may have any name.
std::string RecordedPatcher() {
  const std::string patcher = e2e::PatcherUnderTest(PATCHER_EXE);
  ::testing::Test::RecordProperty(
      "patcher", testing_support::Narrow(testing_support::Widen(patcher), CP_UTF8));
  return patcher;
}

// Runs the rows of the table that `chosen` picks, against the patcher under test.
void RunScenarios(bool (*chosen)(const PatcherRun&)) {
  const std::string patcher = RecordedPatcher();
  std::string left_out;
  for (const PatcherRun& s : Scenarios()) {
    if (!chosen(s)) continue;
    const std::string why = LeftOutHere(s);
    if (!why.empty()) {
      left_out += std::string(left_out.empty() ? "" : "; ") + "'" + s.name + "': " + why;
      continue;
    }
    RunScenario(s, patcher);
  }
  // Said once every other row has run and been checked: a skip ends the test,
  // and a failure of theirs still fails it.
  if (!left_out.empty()) {
    GTEST_SKIP() << "left out: " << left_out << "; every other row ran";
  }
}

class EndToEndRun : public PatcherTest {};

TEST_F(EndToEndRun, EachScenarioShowsItsMessageWritesOnlyTargetConfigsAndExitsZero) {
  RunScenarios([](const PatcherRun&) { return true; });
}

// The rows that depend on the program's bitness, which a machine that runs
// 32-bit code only under emulation runs against the shipped 32-bit program
// alone (each start of it there takes about a minute).
class EndToEndShipped : public PatcherTest {};

TEST_F(EndToEndShipped, ShowsEachMessageReadsThe32BitViewAndLoadsNoPlantedDll) {
  RunScenarios([](const PatcherRun& s) { return s.shipped; });
}

// The shipped program keeps nothing of a target once it is done: its peak
// memory, read at its box, is the same for a record of 10 targets as for one
// of 2,000. Every target names one installation, so after the first update
// the writes change nothing and the run stays short.
TEST_F(EndToEndShipped, PeakMemoryStaysFlatAsTheRecordGrows) {
  const std::string patcher = RecordedPatcher();
  testing_support::TempTree tree;
  tree.MakeInstall("App", AllSkins());
  SIZE_T peak[2] = {0, 0};
  const size_t counts[2] = {10, 2000};
  for (int k = 0; k < 2; ++k) {
    testing_support::RemoveVarnexKey();
    Record record("Quendal");
    record.MakeProduct(std::vector<std::string>(counts[k], tree.Path("App")));
    e2e::BoxedRun run = e2e::RunAndAnswer(patcher, tree.root(), 60000);
    ASSERT_EQ(1u, run.boxes.size()) << counts[k] << " targets";
    EXPECT_EQ(kSuccess, run.boxes[0].text) << counts[k] << " targets";
    peak[k] = run.boxes[0].peak_commit;
  }
  ASSERT_NE(0u, peak[0]) << "no memory counters for the patcher";
  // Less than 128 bytes for each target added. A config path kept per target
  // is twice that (MAX_PATH bytes); Wine's own heap, with the box's window,
  // has varied by 120 KiB between two runs of the 64-bit build at code page
  // 65001, well under the bound's 249 KiB.
  const SIZE_T added = (counts[1] - counts[0]) * 128;
  EXPECT_LT(peak[1], peak[0] + added)
      << peak[0] << " bytes for 10 targets, " << peak[1] << " for 2,000";
}

}  // namespace
