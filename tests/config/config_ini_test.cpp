// Settings and skin update of one target, against Wine's real profile, search
// and attribute functions in a fresh temporary tree.
#include "config/config_ini.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "driver/text_helpers.h"
#include "tests/proof/generated_inputs.h"
#include "tests/support/fixtures.h"
#include "tests/support/import_entry.h"

namespace {

using testing_support::AllSkins;
using testing_support::TempTree;
using testing_support::UpdatedConfig;

const DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const char kConfig[] = "App\\Bin\\config.ini";

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What both profile implementations keep of a file they updated: its section,
// key and comment lines in order. Wine rewrites the whole file, dropping blank
// lines and the blanks around '='; Windows leaves untouched lines as they were.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line = Trim(line.substr(0, line.size() - 1));
    size_t equals = line.find('=');
    if (!line.empty() && line[0] != ';' && equals != std::string::npos) {
      line = Trim(line.substr(0, equals)) + "=" + Trim(line.substr(equals + 1));
    }
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

DWORD Attributes(const TempTree& tree, const std::string& relative) {
  return GetFileAttributesA(tree.Path(relative).c_str());
}

// Remembers the paths it is pointed at; the update must reach it through the
// virtual table.
class RecordingConfig : public ConfigIni {
 public:
  void SetPath(const char* new_path) override {
    paths.push_back(new_path == NULL ? "(null)" : new_path);
    ConfigIni::SetPath(new_path);
  }
  std::vector<std::string> paths;
};

TEST(UpdateTarget, FreshInstallGetsEverySettingAndSkinInOrder) {
  TempTree tree;
  tree.MakeInstall("App", AllSkins());
  ConfigIni config;
  EXPECT_EQ(1, UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config));
  EXPECT_EQ(UpdatedConfig(testing_support::kAllSkins), tree.ReadFile(kConfig));
  for (const std::string& skin : AllSkins()) {
    EXPECT_EQ("[Skin]\r\nName=" + skin + "\r\n", tree.ReadFile("App\\Bin\\Res\\" + skin)) << skin;
  }
}

TEST(ConfigUpdate, SkinPresenceDecidesEntriesAndResult) {
  // One letter per skin in table order: f a file, d a folder, u a file whose
  // name is in upper case on disk, - missing.
  static const struct {
    const char* skins;
    bool succeeds;
    unsigned entries;  // bit k: SkinConfigk written
  } cases[] = {
      {"ffff", true, 0xF},  {"f-ff", false, 0xD}, {"----", false, 0x0}, {"---f", false, 0x8},
      {"ff-f", false, 0xB}, {"ffdf", true, 0xF},  {"dddd", true, 0xF},  {"uuuu", true, 0xF},
  };
  for (const auto& c : cases) {
    TempTree tree;
    tree.MakeDir("App\\Bin\\Res");
    for (size_t k = 0; k < AllSkins().size(); ++k) {
      std::string name = AllSkins()[k];
      if (c.skins[k] == 'u') CharUpperA(&name[0]);
      std::string skin = "App\\Bin\\Res\\" + name;
      if (c.skins[k] == 'f' || c.skins[k] == 'u') tree.WriteFile(skin, "skin");
      if (c.skins[k] == 'd') tree.MakeDir(skin);
    }
    ConfigIni config;
    config.SetPath(tree.Path(kConfig).c_str());
    int result = config.ApplyUpdate(tree.Path("App").c_str());
    EXPECT_EQ(c.succeeds ? 1 : 0, result) << c.skins;
    // The value is spelled as in the table, whatever the name found on disk.
    EXPECT_EQ(UpdatedConfig(c.entries), tree.ReadFile(kConfig)) << c.skins;
  }
}

using testing_support::ConfigWrite;
using testing_support::kUpdateWrites;
const int kWriteCount = testing_support::kUpdateWriteCount;

// What the forwarders below do for one row: write w (in kUpdateWrites' order)
// is refused with errors[w] for its first refusals[w] tries (-1: always; 0:
// never); every other try goes through. Sleeping, and each try by try_cost,
// advance a clock of their own, so a wait is measured exactly and costs no
// time.
struct Refusals {
  int refusals[kWriteCount];
  DWORD errors[kWriteCount];
  DWORD clock;
  DWORD try_cost;
  std::vector<std::string> tries;  // the key of every write tried, in order
  std::vector<DWORD> slept;        // each pause asked for
};

void* g_real_write = NULL;
void* g_real_sleep = NULL;
void* g_real_clock = NULL;
Refusals* g_active = NULL;  // the Refusals of the RefusedWrites that exists

BOOL WINAPI RefusingWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  Refusals* r = g_active;
  if (r != NULL) {
    r->clock += r->try_cost;
    r->tries.push_back(key);
    int tried = static_cast<int>(std::count(r->tries.begin(), r->tries.end(), key));
    for (int w = 0; w < kWriteCount; ++w) {
      if (lstrcmpA(kUpdateWrites[w].key, key) != 0 || r->refusals[w] == 0) continue;
      if (r->refusals[w] < 0 || tried <= r->refusals[w]) {
        SetLastError(r->errors[w]);
        return FALSE;
      }
    }
  }
  return reinterpret_cast<decltype(&WritePrivateProfileStringA)>(g_real_write)(section, key, value,
                                                                               file);
}
VOID WINAPI CountedPause(DWORD milliseconds) {
  if (g_active == NULL) return reinterpret_cast<decltype(&Sleep)>(g_real_sleep)(milliseconds);
  g_active->slept.push_back(milliseconds);
  g_active->clock += milliseconds;
}
DWORD WINAPI OwnClock() {
  return g_active != NULL ? g_active->clock
                          : reinterpret_cast<decltype(&GetTickCount)>(g_real_clock)();
}

// Points this program's import entries for the profile write, Sleep and
// GetTickCount at the forwarders above while it exists; they act on, and
// record into, its copy of the Refusals. One at a time.
class RefusedWrites {
 public:
  explicit RefusedWrites(const Refusals& refusals)
      : refusals_(refusals),
        imports_(
            {{"kernel32.dll", "WritePrivateProfileStringA", reinterpret_cast<void*>(RefusingWrite),
              &g_real_write},
             {"kernel32.dll", "Sleep", reinterpret_cast<void*>(CountedPause), &g_real_sleep},
             {"kernel32.dll", "GetTickCount", reinterpret_cast<void*>(OwnClock), &g_real_clock}}) {
    g_active = &refusals_;
  }
  ~RefusedWrites() { g_active = NULL; }
  RefusedWrites(const RefusedWrites&) = delete;
  RefusedWrites& operator=(const RefusedWrites&) = delete;

  bool installed() const { return imports_.installed(); }
  const Refusals& refusals() const { return refusals_; }

 private:
  Refusals refusals_;
  testing_support::RedirectedImports imports_;
};

// The rule for a target whose writes are refused as `r` says, restated here
// on purpose rather than taken from the code: every write is made, in order.
// A write refused because the file is held (a sharing or lock violation) is
// tried again after a pause of 50 ms, until 2 s have passed for the target in
// all; a try and the pause after it count the time they took, and at least
// the pause. Where less than a pause is left, the last pause is what is left,
// and one try follows it. Any other refusal fails the write at once. The
// target succeeds only when every write landed (all skins are present here).
struct RefusalOutcome {
  int tries[kWriteCount];
  unsigned landed;            // bit w: write w went through
  std::vector<DWORD> pauses;  // each pause asked for, in order
};
RefusalOutcome OutcomeOf(const Refusals& r) {
  RefusalOutcome e = {{0}, 0, {}};
  DWORD left = 2000;  // of the target's waiting time
  for (int w = 0; w < kWriteCount; ++w) {
    bool busy = r.errors[w] == ERROR_SHARING_VIOLATION || r.errors[w] == ERROR_LOCK_VIOLATION;
    for (int tried = 1;; ++tried) {
      e.tries[w] = tried;
      if (r.refusals[w] >= 0 && tried > r.refusals[w]) {
        e.landed |= 1u << w;
        break;
      }
      if (!busy || left == 0) break;
      DWORD pause = std::min<DWORD>(left, 50);
      e.pauses.push_back(pause);
      left -= std::min(left, std::max<DWORD>(r.try_cost + pause, 50));
    }
  }
  return e;
}

TEST(ConfigUpdate, RefusedWritesGiveTheTriesResultAndFileOfTheRule) {
  // The table: each write alone refused in each way; then generated rows that
  // mix kinds and lengths, so that the 2 s run out part way through a write.
  // Where a try costs more than a pause, less than a pause is left at the end.
  struct Kind {
    const char* name;
    DWORD error;
    int refusals;
    bool to_the_end;  // every write from this one on is refused
    DWORD try_cost = 0;
  };
  static const Kind kinds[] = {
      {"busy throughout", ERROR_SHARING_VIOLATION, -1, false},
      {"busy, then free", ERROR_SHARING_VIOLATION, 3, false},
      {"access denied", ERROR_ACCESS_DENIED, -1, false},
      {"busy from here to the end", ERROR_SHARING_VIOLATION, -1, true},
      {"locked, then free", ERROR_LOCK_VIOLATION, 1, false},
      {"busy throughout, tries of 60 ms", ERROR_SHARING_VIOLATION, -1, false, 60},
      {"busy until the try after a pause of 20 ms", ERROR_SHARING_VIOLATION, 19, false, 60},
  };
  std::vector<std::pair<std::string, Refusals>> rows;
  for (const Kind& kind : kinds) {
    for (int k = 0; k < kWriteCount; ++k) {
      Refusals r = {};
      for (int w = k; w < (kind.to_the_end ? kWriteCount : k + 1); ++w) {
        r.refusals[w] = kind.refusals;
        r.errors[w] = kind.error;
      }
      r.try_cost = kind.try_cost;
      rows.push_back({std::string(kind.name) + ", write " + std::to_string(k + 1), r});
    }
  }
  static const DWORD errors[] = {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED,
                                 ERROR_PATH_NOT_FOUND};
  proof::Lcg random(12);
  for (int n = 0; n < 150; ++n) {
    Refusals r = {};
    for (int w = 0; w < kWriteCount; ++w) {
      if (random.Next(2) == 0) continue;
      r.errors[w] = errors[random.Next(random.Next(4) == 0 ? 4 : 2)];
      r.refusals[w] = random.Next(8) == 0 ? -1 : 1 + static_cast<int>(random.Next(30));
    }
    rows.push_back({"generated " + std::to_string(n), r});
  }
  // One ConfigIni for all rows, as for all targets of a run: a target whose
  // time was spent must not leave the next one without any.
  ConfigIni config;
  for (auto& row : rows) {
    const std::string& name = row.first;
    Refusals& given = row.second;
    given.clock = 0xFFFFFF00;  // the tick count wraps during the wait
    RefusalOutcome expected = OutcomeOf(given);
    TempTree tree;
    tree.MakeInstall("App", AllSkins());
    int result;
    Refusals seen;
    {
      RefusedWrites refused(given);
      ASSERT_TRUE(refused.installed());
      result = UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config);
      seen = refused.refusals();
    }
    const std::vector<std::string>& tries = seen.tries;
    EXPECT_EQ(expected.landed == 0xFFu, result != 0) << name;
    // Every write was made, in order, and tried as often as the rule says.
    std::vector<std::string> order;
    std::unique_copy(tries.begin(), tries.end(), std::back_inserter(order));
    EXPECT_EQ(static_cast<size_t>(kWriteCount), order.size()) << name;
    for (int w = 0; w < kWriteCount && w < static_cast<int>(order.size()); ++w) {
      EXPECT_EQ(kUpdateWrites[w].key, order[w]) << name;
      EXPECT_EQ(expected.tries[w], std::count(tries.begin(), tries.end(), order[w]))
          << name << ": write " << w + 1;
    }
    EXPECT_EQ(expected.pauses, seen.slept) << name;
    EXPECT_EQ(testing_support::ConfigOfWrites(expected.landed), tree.ReadFile(kConfig)) << name;
  }
}

TEST(ConfigUpdate, ProbePathAllocationFailureFailsTheTargetLaterSkinsKeepTheirIndices) {
  // One probe path is allocated per skin, in table order; n fails the n-th.
  for (long nth = 0; nth <= 5; ++nth) {
    TempTree tree;
    tree.MakeInstall("App", AllSkins());
    ConfigIni config;
    config.SetPath(tree.Path(kConfig).c_str());
    bool hits_a_skin = nth >= 1 && nth <= 4;
    long allocated = AllocatedBlocks();
    long released = ReleasedBlocks();
    testing_support::FailingAllocation failing(nth, hits_a_skin);
    int result = config.ApplyUpdate(tree.Path("App").c_str());
    failing.End();
    EXPECT_EQ(!hits_a_skin, result != 0) << nth;
    unsigned entries = hits_a_skin ? 0xFu & ~(1u << (nth - 1)) : 0xFu;
    EXPECT_EQ(UpdatedConfig(entries), tree.ReadFile(kConfig)) << nth;
    long blocks = hits_a_skin ? 3 : 4;
    EXPECT_EQ(blocks, AllocatedBlocks() - allocated) << nth;
    EXPECT_EQ(blocks, ReleasedBlocks() - released) << nth;
  }
}

TEST(ConfigUpdate, WithoutPathOnlyTheSkinsDecideAndNothingIsWritten) {
  static const struct {
    const char* name;
    bool all_skins;
    bool succeeds;
  } cases[] = {{"all skins", true, true}, {"one skin missing", false, false}};
  for (const auto& c : cases) {
    TempTree tree;
    std::vector<std::string> skins = AllSkins();
    if (!c.all_skins) skins.pop_back();
    tree.MakeInstall("App", skins);
    ConfigIni config;
    EXPECT_EQ(c.succeeds, config.ApplyUpdate(tree.Path("App").c_str()) != 0) << c.name;
    EXPECT_FALSE(tree.Exists(kConfig)) << c.name;
  }
}

// Whichever argument is null, nothing is touched: the file keeps its content
// and its marks, and the ConfigIni keeps the path it had.
TEST(UpdateTarget, NullArgumentsFailAndLeaveTheConfigAsItWas) {
  static const struct {
    const char* name;
    bool directory, config_path, context;
  } cases[] = {
      {"no config path", true, false, true},
      {"no context", true, true, false},
      {"no directory", false, true, true},
  };
  for (const auto& c : cases) {
    TempTree tree;
    tree.MakeInstall("App", AllSkins());
    const std::string user_config = "[Skin Infor]\r\nUIStyleFlag=7\r\n";
    tree.WriteFile(kConfig, user_config);
    ASSERT_TRUE(SetFileAttributesA(tree.Path(kConfig).c_str(), FILE_ATTRIBUTE_HIDDEN)) << c.name;
    std::string directory = tree.Path("App");
    std::string config_path = tree.Path(kConfig);
    RecordingConfig config;
    config.SetPath(tree.Path("Previous\\Bin\\config.ini").c_str());
    config.paths.clear();
    EXPECT_EQ(0, UpdateTargetConfig(c.directory ? directory.c_str() : NULL,
                                    c.config_path ? config_path.c_str() : NULL,
                                    c.context ? &config : NULL))
        << c.name;
    EXPECT_EQ(user_config, tree.ReadFile(kConfig)) << c.name;
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), Attributes(tree, kConfig) & kMarks)
        << c.name;
    EXPECT_TRUE(config.paths.empty()) << c.name;
    EXPECT_FALSE(tree.Exists("Previous")) << c.name;
  }
}

TEST(UpdateTarget, ExistingConfigKeepsOtherContentAndGetsOurValuesInPlace) {
  TempTree tree;
  std::vector<std::string> skins = AllSkins();
  skins.erase(skins.begin() + 1);  // skinCorE.ini: its old entry must stay
  tree.MakeInstall("App", skins);
  tree.WriteFile(kConfig,
                 "; Orvane settings\r\n"
                 "\r\n"
                 "[General]\r\n"
                 "Owner = Front desk \r\n"
                 "\r\n"
                 "[Setting Infor]\r\n"
                 "uilangflag = 1\r\n"
                 "; volume is per user\r\n"
                 "Volume=7\r\n"
                 "DelayPlayTimeInHearingMode=900\r\n"
                 "\r\n"
                 "[Skin Infor]\r\n"
                 "SkinConfig1=res\\old.ini\r\n"
                 "UIStyleFlag=5\r\n"
                 "SkinConfig3=res\\stale.ini\r\n"
                 "Custom=x\r\n"
                 "\r\n"
                 "[Tail]\r\n"
                 "z=1\r\n");
  ConfigIni config;
  EXPECT_EQ(0, UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config));
  // Compared line by line without blank lines or blanks around '=': Wine
  // rewrites those on every write, Windows keeps them.
  std::vector<std::string> expected = {
      "; Orvane settings",
      "[General]",
      "Owner=Front desk",
      "[Setting Infor]",
      "uilangflag=2",  // names match in any letter case; the file's spelling stays
      "; volume is per user",
      "Volume=7",
      "DelayPlayTimeInHearingMode=1500",
      "FollowReadNum=3",
      "[Skin Infor]",
      "SkinConfig1=res\\old.ini",
      "UIStyleFlag=0",
      "SkinConfig3=res\\skinCorC.ini",
      "Custom=x",
      "SkinConfig0=res\\skinSinE.ini",
      "SkinConfig2=res\\skinSinC.ini",
      "[Tail]",
      "z=1",
  };
  EXPECT_EQ(expected, LogicalLines(tree.ReadFile(kConfig)));
}

// A first update finds no config.ini: the attribute reset fails without
// creating anything (FreshInstallGetsEverySettingAndSkinInOrder shows that the
// profile write after it creates the file).
TEST(UpdateTarget, AttributeResetOfAMissingConfigFailsAndCreatesNothing) {
  TempTree tree;
  tree.MakeDir("App\\Bin");
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(SetFileAttributesA(tree.Path(kConfig).c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(tree.Exists(kConfig));
}

TEST(UpdateTarget, MarkedConfigIsMadeNormalThenUpdated) {
  static const DWORD marks[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                                FILE_ATTRIBUTE_SYSTEM, kMarks};
  for (DWORD mark : marks) {
    TempTree tree;
    tree.MakeInstall("App", AllSkins());
    tree.WriteFile(kConfig, "[Setting Infor]\r\nUILangFlag=1\r\n");
    ASSERT_TRUE(SetFileAttributesA(tree.Path(kConfig).c_str(), mark)) << mark;
    ASSERT_EQ(mark, Attributes(tree, kConfig) & kMarks) << mark;
    ConfigIni config;
    EXPECT_NE(0, UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config))
        << mark;
    // Windows reports a normal file as 0x80, Wine as 0x20 (archive): test the marks.
    DWORD after = Attributes(tree, kConfig);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, after) << mark;
    EXPECT_EQ(0u, after & (kMarks | FILE_ATTRIBUTE_DIRECTORY)) << mark;
    EXPECT_EQ(LogicalLines(UpdatedConfig(0xF)), LogicalLines(tree.ReadFile(kConfig))) << mark;
  }
}

// The pauses this thread asks for, in ms: the update's own, not the holder's,
// which lets go on a thread of its own.
DWORD g_slept = 0;
DWORD g_sleeper = 0;
decltype(&Sleep) g_plain_sleep = NULL;
void WINAPI CountSleep(DWORD ms) {
  if (GetCurrentThreadId() == g_sleeper) g_slept += ms;
  g_plain_sleep(ms);
}

TEST(UpdateTarget, ConfigHeldByAnotherProgramIsWaitedForAbout2Seconds) {
  // Both share modes refuse the profile write with a sharing violation.
  static const struct {
    const char* name;
    DWORD share;
    bool create;      // the holder creates config.ini (no file before)
    bool throughout;  // held for longer than the update may wait, else for 300 ms
  } cases[] = {
      {"no sharing, 300 ms", 0, false, false},
      {"read sharing, 300 ms", FILE_SHARE_READ, false, false},
      {"being created, 300 ms", 0, true, false},
      {"no sharing, throughout", 0, false, true},
      {"read sharing, throughout", FILE_SHARE_READ, false, true},
  };
  const std::string user_config =
      "[General]\r\nOwner=Front desk\r\n[Setting Infor]\r\nVolume=7\r\n";
  testing_support::RedirectedImports sleeps(
      {{"kernel32.dll", "Sleep", reinterpret_cast<void*>(CountSleep),
        reinterpret_cast<void**>(&g_plain_sleep)}});
  ASSERT_TRUE(sleeps.installed());
  g_sleeper = GetCurrentThreadId();
  for (const auto& c : cases) {
    TempTree tree;
    tree.MakeInstall("App", AllSkins());
    if (!c.create) tree.WriteFile(kConfig, user_config);
    ConfigIni config;
    int result;
    DWORD took;
    {
      // Held for 300 ms, or past the longest the update may wait.
      testing_support::FileHold hold(tree.Path(kConfig), c.share, c.create,
                                     c.throughout ? 3000 : 300);
      ASSERT_TRUE(hold.held()) << c.name;
      g_slept = 0;
      DWORD start = GetTickCount();
      result = UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config);
      took = GetTickCount() - start;
    }
    EXPECT_EQ(!c.throughout, result != 0) << c.name;
    if (c.throughout) {
      // Every write of the target failed while it was held, so nothing was
      // written; and the whole target waited only once: the clock went on
      // for about 2 s (or longer, on a loaded machine), and the pauses asked
      // for add up to no more than 2 s.
      EXPECT_EQ(user_config, tree.ReadFile(kConfig)) << c.name;
      EXPECT_GE(took, 1900u) << c.name;
      EXPECT_GT(g_slept, 0u) << c.name;
      EXPECT_LE(g_slept, 2000u) << c.name;
    } else if (c.create) {
      EXPECT_EQ(UpdatedConfig(0xF), tree.ReadFile(kConfig)) << c.name;
    } else {
      std::vector<std::string> expected = {"[General]", "Owner=Front desk", "[Setting Infor]",
                                           "Volume=7"};
      std::vector<std::string> updated = LogicalLines(UpdatedConfig(0xF));
      updated.erase(updated.begin());  // its own [Setting Infor]
      expected.insert(expected.end(), updated.begin(), updated.end());
      EXPECT_EQ(expected, LogicalLines(tree.ReadFile(kConfig))) << c.name;
    }
  }
}

TEST(UpdateTarget, UnwritableConfigFailsTheTarget) {
  enum Tree { kNoTarget, kNoBin, kConfigFolder };
  static const struct {
    const char* name;
    Tree tree;
  } cases[] = {
      {"no target folder", kNoTarget},
      {"no Bin folder", kNoBin},
      {"config.ini is a folder", kConfigFolder},
  };
  for (const auto& c : cases) {
    TempTree tree;
    if (c.tree == kNoBin) tree.MakeDir("App");
    if (c.tree == kConfigFolder) {
      tree.MakeInstall("App", AllSkins());
      tree.MakeDir(kConfig);
      tree.MakeDir(std::string(kConfig) + "\\Inside");
    }
    ConfigIni config;
    EXPECT_EQ(0, UpdateTargetConfig(tree.Path("App").c_str(), tree.Path(kConfig).c_str(), &config))
        << c.name;
    // The profile function creates no folder on the way.
    EXPECT_EQ(c.tree != kNoTarget, tree.Exists("App")) << c.name;
    EXPECT_EQ(c.tree == kConfigFolder, tree.Exists("App\\Bin")) << c.name;
    if (c.tree == kConfigFolder) {
      EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
                Attributes(tree, kConfig) & FILE_ATTRIBUTE_DIRECTORY)
          << c.name;
      EXPECT_TRUE(tree.Exists(std::string(kConfig) + "\\Inside")) << c.name;
    }
  }
}

TEST(UpdateTarget, ConfigPathOfMaxPathOrMoreTouchesNothing) {
  // Cut to 259 characters, a longer path would name another file: poison the
  // file that the cut would reach and the file of the previous target.
  static const size_t lengths[] = {259, 260, 300};
  for (size_t length : lengths) {
    TempTree tree;
    const std::string previous_poison = "[Previous]\r\np=1\r\n";
    tree.WriteFile("Prev\\Bin\\config.ini", previous_poison);
    std::string base = tree.root() + "\\";
    std::string directory = base + std::string(length - 15 - base.size(), 'd');
    std::string config_path = directory + "\\Bin\\config.ini";
    ASSERT_EQ(length, config_path.size()) << length;
    // Past the ANSI folder limit (248 characters): made through the \\?\ form,
    // with every skin file, whose paths pass MAX_PATH.
    if (directory.size() + 4 < MAX_PATH) {
      ASSERT_TRUE(testing_support::MakeLongDir(directory + "\\Bin\\Res")) << length;
      for (const std::string& skin : AllSkins()) {
        ASSERT_TRUE(testing_support::WriteLongFile(directory + "\\Bin\\Res\\" + skin, "[S]\r\n"))
            << length;
      }
    }
    std::string cut = config_path.substr(base.size(), 259 - base.size());
    const std::string cut_poison = "[Cut]\r\nc=1\r\n";
    if (length > 259) {
      tree.WriteFile(cut, cut_poison);
      SetFileAttributesA(tree.Path(cut).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    RecordingConfig config;
    config.SetPath(tree.Path("Prev\\Bin\\config.ini").c_str());
    config.paths.clear();
    int result = UpdateTargetConfig(directory.c_str(), config_path.c_str(), &config);
    // A skin, though there, is found only while its path is under MAX_PATH
    // characters: never at 259 bytes of single-byte characters, where the
    // settings are written, no skin entry is, and the target fails; but a
    // temporary folder named in a multibyte code page (the kit's, in Chinese
    // under 65001) can leave the skins' paths short enough in characters.
    unsigned found = 0;
    for (size_t k = 0; k < AllSkins().size(); ++k) {
      const std::string skin = directory + "\\Bin\\Res\\" + AllSkins()[k];
      if (testing_support::Widen(skin).size() < MAX_PATH) found |= 1u << k;
    }
    EXPECT_EQ(length <= 259 && found == testing_support::kAllSkins ? 1 : 0, result) << length;
    EXPECT_EQ(previous_poison, tree.ReadFile("Prev\\Bin\\config.ini")) << length;
    if (length <= 259) {
      EXPECT_EQ(std::vector<std::string>{config_path}, config.paths) << length;
      EXPECT_EQ(UpdatedConfig(found), tree.ReadFile(cut)) << length;
    } else {
      EXPECT_TRUE(config.paths.empty()) << length;
      EXPECT_EQ(cut_poison, tree.ReadFile(cut)) << length;
      EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
                Attributes(tree, cut) & FILE_ATTRIBUTE_HIDDEN)
          << length;
    }
  }
}

}  // namespace
