// The table of malformed installation records.
#include "tests/proof/scenarios.h"

#include <stdlib.h>

#include <algorithm>

#include "config/config_ini.h"
#include "discovery/install_locator.h"

namespace proof {

using testing_support::kMissing;
using testing_support::kUntouchedConfig;

const char kSkinsUnderMaxPath[] = "<the skins probed under MAX_PATH characters>";

namespace {

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string Dword(DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); }

const std::vector<MalformedScenario>& MalformedScenarios() {
  const std::string full = testing_support::UpdatedConfig(testing_support::kAllSkins);
  // Target0 names A; Target1 names B, which holds a user's file that stays
  // as it was whenever the walk must not reach it.
  const RecordValue a = {"Target0", REG_SZ, Sz("@\\A")};
  const RecordValue b = {"Target1", REG_SZ, Sz("@\\B")};
  const Install a_new = {"@\\A", false, full};
  const Install a_none = {"@\\A", false, kMissing};
  const Install b_kept = {"@\\B", true, kUntouchedConfig};
  const Install b_new = {"@\\B", false, full};
  auto count = [](DWORD n) { return RecordValue{"TargetNum", REG_DWORD, Dword(n)}; };
  auto first = [](DWORD type, const std::string& data) {
    return RecordValue{"Target0", type, data};
  };
  static const std::vector<MalformedScenario> scenarios = {
      {"no TargetNum", {a}, {a_none}, 0, {}},
      {"TargetNum as REG_SZ '1'", {{"TargetNum", REG_SZ, Sz("1")}, a}, {a_none}, 0, {}},
      {"TargetNum as REG_BINARY 1", {{"TargetNum", REG_BINARY, Dword(1)}, a}, {a_none}, 0, {}},
      {"TargetNum as REG_DWORD_BIG_ENDIAN",
       {{"TargetNum", REG_DWORD_BIG_ENDIAN, Dword(1)}, a},
       {a_none},
       0,
       {}},
      {"TargetNum as REG_QWORD 1",
       {{"TargetNum", REG_QWORD, Dword(1) + Dword(0)}, a},
       {a_none},
       0,
       {}},
      {"TargetNum REG_DWORD of size 0", {{"TargetNum", REG_DWORD, ""}, a}, {a_none}, 0, {}},
      {"TargetNum 0", {count(0), a}, {a_none}, 0, {}},
      // A short or long REG_DWORD is still a REG_DWORD: its first (up to) four bytes count.
      {"TargetNum REG_DWORD of 2 bytes 01 00",
       {{"TargetNum", REG_DWORD, Bytes({1, 0})}, a},
       {a_new},
       1,
       {}},
      {"TargetNum REG_DWORD of 8 bytes 1, 0xFFFFFFFF",
       {{"TargetNum", REG_DWORD, Dword(1) + Dword(0xFFFFFFFF)}, a, b},
       {a_new, b_kept},
       1,
       {}},
      {"TargetNum 1 of 2", {count(1), a, b}, {a_new, b_kept}, 1, {}},
      {"TargetNum 0x7FFFFFFF", {count(0x7FFFFFFF), a, b}, {a_new, b_new}, 1, {}},
      {"TargetNum 0x80000000", {count(0x80000000u), a}, {a_none}, -1, {}},
      {"TargetNum 0xFFFFFFFF", {count(0xFFFFFFFFu), a}, {a_none}, -1, {}},
      {"TargetNum 3, only Target0", {count(3), a}, {a_new}, 1, {}},
      {"TargetNum 2, only Target1", {count(2), b}, {b_new}, 1, {}},
      // A target that is not a REG_SZ is skipped and the walk goes on.
      {"Target0 REG_EXPAND_SZ",
       {count(2), first(REG_EXPAND_SZ, Sz("@\\A")), b},
       {a_none, b_new},
       1,
       {}},
      {"Target0 REG_MULTI_SZ",
       {count(2), first(REG_MULTI_SZ, Sz("@\\A") + std::string(1, '\0')), b},
       {a_none, b_new},
       1,
       {}},
      {"Target0 REG_BINARY", {count(2), first(REG_BINARY, Sz("@\\A")), b}, {a_none, b_new}, 1, {}},
      {"Target0 REG_DWORD", {count(2), first(REG_DWORD, Dword(0x41)), b}, {a_none, b_new}, 1, {}},
      {"Target0 REG_NONE", {count(2), first(REG_NONE, Sz("@\\A")), b}, {a_none, b_new}, 1, {}},
      {"only target REG_EXPAND_SZ", {count(1), first(REG_EXPAND_SZ, Sz("@\\A"))}, {a_none}, -1, {}},
      {"Target0 REG_SZ of size 0 (skipped)", {count(2), first(REG_SZ, ""), b}, {b_new}, 1, {}},
      // An empty text after the cut and trim fails the target and stops the walk.
      {"Target0 empty text", {count(2), first(REG_SZ, Sz("")), b}, {b_kept}, -1, {}},
      {"Target0 blanks", {count(2), first(REG_SZ, Sz("    ")), b}, {b_kept}, -1, {}},
      {"Target0 comma first", {count(2), first(REG_SZ, Sz(",@\\A")), b}, {a_none, b_kept}, -1, {}},
      {"Target0 separator only", {count(2), first(REG_SZ, Sz(" \\ , 1")), b}, {b_kept}, -1, {}},
      {"Target0 with version and blanks",
       {count(2), first(REG_SZ, Sz("  @\\A\\ , 1.0")), b},
       {a_new, b_new},
       1,
       {}},
      {"Target0 with two slashes", {count(1), first(REG_SZ, Sz("@\\A//"))}, {a_new}, 1, {}},
      // The blank stays part of the inner folder name: A\Bin is not "A \Bin".
      {"Target0 blank before separator",
       {count(2), first(REG_SZ, Sz("@\\A \\")), b},
       {a_none, b_kept},
       -1,
       {"@\\A \\Bin"}},
      // Texts at the 260-byte buffer: 259 characters arrive whole; 260 and
      // 300 arrive without their terminator and are refused.
      {"text of 259 characters", {count(1), first(REG_SZ, Sz("@\\A,~259"))}, {a_new}, 1, {}},
      {"text of 260 characters",
       {count(2), first(REG_SZ, Sz("@\\A,~260")), b},
       {a_none, b_kept},
       -1,
       {}},
      {"text of 300 characters", {count(1), first(REG_SZ, Sz("@\\A,~300"))}, {a_none}, -1, {}},
      {"text of 260 bytes, no terminator",
       {count(1), first(REG_SZ, "@\\A,~260")},
       {a_none},
       -1,
       {}},
      // A folder that is not a full path fails before anything is touched:
      // Win32 would resolve it against the process's current folder or
      // drive, here the tree root, where @\A stands ready for the update.
      {"relative folder", {count(1), first(REG_SZ, Sz("A"))}, {a_none}, -1, {}},
      {"relative folder with separator",
       {count(2), first(REG_SZ, Sz("A\\ , 2")), b},
       {a_none, b_kept},
       -1,
       {}},
      {"relative folder that does not exist",
       {count(1), first(REG_SZ, Sz("Gone"))},
       {},
       -1,
       {"@\\Gone"}},
      {"folder relative to the current folder of a drive",
       {count(1), first(REG_SZ, Sz("^A"))},
       {a_none},
       -1,
       {}},
      {"folder from the root of the current drive",
       {count(1), first(REG_SZ, Sz("%\\A"))},
       {a_none},
       -1,
       {}},
      // At the MAX_PATH boundary: a config path of 259 bytes is written, one
      // of 260 refused before anything is touched. A skin is found while its
      // probe path is under 260 characters: 238's always, 244's (265 bytes)
      // only where the root's multibyte characters make them short enough.
      {"folder of 238 bytes",
       {count(1), first(REG_SZ, Sz("@\\#238"))},
       {{"@\\#238", false, kSkinsUnderMaxPath}},
       1,
       {}},
      {"folder of 244 bytes",
       {count(1), first(REG_SZ, Sz("@\\#244"))},
       {{"@\\#244", false, kSkinsUnderMaxPath}},
       1,
       {}},
      {"folder of 245 bytes",
       {count(2), first(REG_SZ, Sz("@\\#245")), b},
       {{"@\\#245", true, kUntouchedConfig}, b_kept},
       -1,
       {}},
  };
  return scenarios;
}

// The placeholders of a scenario text, expanded for a tree root.
std::string Expand(const char* pattern, const std::string& root) {
  std::string text;
  for (const char* at = pattern; *at != '\0'; ++at) {
    if (*at == '@') {
      text += root;
    } else if (*at == '^') {
      text += root.substr(0, 2);
    } else if (*at == '%') {
      text += root.substr(2);
    } else if (*at == '#' || *at == '~') {
      char* end = NULL;
      size_t length = strtoul(at + 1, &end, 10);
      if (text.size() < length) text.append(length - text.size(), *at == '#' ? 'd' : 'x');
      at = end - 1;
    } else {
      text += *at;
    }
  }
  return text;
}

// The scenario as its tree's root decides it (kSkinsUnderMaxPath).
MalformedScenario ForRoot(MalformedScenario scenario, const std::string& root) {
  const std::vector<std::string>& skins = testing_support::AllSkins();
  for (Install& install : scenario.installs) {
    if (install.expected != kSkinsUnderMaxPath) continue;
    const std::string folder = Expand(install.folder, root);
    unsigned found = 0;
    for (size_t k = 0; k < skins.size(); ++k) {
      if (testing_support::Widen(folder + "\\Bin\\Res\\" + skins[k]).size() < MAX_PATH)
        found |= 1u << k;
    }
    install.expected = testing_support::UpdatedConfig(found);
    if (found != testing_support::kAllSkins) scenario.result = kRunFailed;
  }
  return scenario;
}

void BuildScenario(const MalformedScenario& scenario, const testing_support::TempTree& tree) {
  testing_support::Record record("Product");
  record.SetString("SoftWareID", testing_support::kProductId);
  for (const RecordValue& value : scenario.values) {
    std::string data = value.data;
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ ||
        value.type == REG_BINARY || value.type == REG_NONE) {
      // Texts carry their placeholders; a zero byte ends each pattern piece.
      std::string expanded;
      size_t start = 0;
      for (size_t zero = data.find('\0'); zero != std::string::npos;
           zero = data.find('\0', start)) {
        expanded += Expand(data.substr(start, zero - start).c_str(), tree.root()) + '\0';
        start = zero + 1;
      }
      expanded += Expand(data.substr(start).c_str(), tree.root());
      data = expanded;
    }
    // Unterminated data is followed by a non-zero byte so it stays unterminated.
    std::string stored = data + "X";
    record.SetRaw(value.name, value.type, stored.data(), static_cast<DWORD>(data.size()));
  }
  for (const Install& install : scenario.installs) {
    std::string folder = Expand(install.folder, tree.root());
    EXPECT_TRUE(testing_support::MakeLongDir(folder + "\\Bin\\Res"))
        << scenario.name << ": " << folder;
    // Every skin file exists, past MAX_PATH too (through the \\?\ form):
    // one that the update cannot probe is missing for it all the same.
    for (const std::string& skin : testing_support::AllSkins()) {
      EXPECT_TRUE(testing_support::WriteLongFile(folder + "\\Bin\\Res\\" + skin, "[Skin]\r\n"))
          << scenario.name << ": " << folder;
    }
    if (install.poisoned)
      testing_support::WriteLongFile(folder + "\\Bin\\config.ini", kUntouchedConfig);
  }
}

}  // namespace

void ForEachScenario(
    const std::function<void(const MalformedScenario&, const testing_support::TempTree&)>& body) {
  for (const MalformedScenario& row : MalformedScenarios()) {
    testing_support::RemoveVarnexKey();
    testing_support::TempTree tree;
    const MalformedScenario scenario = ForRoot(row, tree.root());
    BuildScenario(scenario, tree);
    body(scenario, tree);
  }
}

int RunPatch(const testing_support::TempTree& tree) {
  char previous[MAX_PATH] = {0};
  GetCurrentDirectoryA(sizeof previous, previous);
  SetCurrentDirectoryA(tree.root().c_str());
  InstallLocator locator;
  ConfigIni config;
  int result = locator.Run(UpdateTargetConfig, &config);
  SetCurrentDirectoryA(previous);
  return result;
}

void CheckScenarioFiles(const MalformedScenario& scenario, const testing_support::TempTree& tree,
                        const std::vector<std::string>& before) {
  std::vector<std::string> expected = before;
  for (const Install& install : scenario.installs) {
    std::string config = Expand(install.folder, tree.root()) + "\\Bin\\config.ini";
    EXPECT_EQ(install.expected, testing_support::ReadWholeFile(config))
        << scenario.name << ": " << install.folder;
    if (install.expected != kMissing && !install.poisoned) expected.push_back(config);
  }
  for (const char* path : scenario.absent) {
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Expand(path, tree.root()).c_str()))
        << scenario.name << ": " << path;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, testing_support::ListTree(tree.root())) << scenario.name;
}

}  // namespace proof
