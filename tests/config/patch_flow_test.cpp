// Discovery and update together: installation records in the registry, target
// trees on disk, one ConfigIni reused for every target as the entry uses it.
#include <string>
#include <vector>

#include "config/config_ini.h"
#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::AllSkins;
using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::RemoveVarnexKey;
using testing_support::TempTree;
using testing_support::UpdatedConfig;

enum TargetTree { kInstall, kNoBin, kConfigFolder, kSkinMissing };
enum Outcome { kUpdated, kPartial, kNoBinLeft, kFolderLeft, kUntouched };

using testing_support::kUntouchedConfig;

// Marks a user's file keeps where the run must not reach.
const DWORD kUntouchedMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

class PatchFlow : public PatcherTest {};

TEST_F(PatchFlow, FirstFailingTargetEndsTheRunAndLaterTargetsStayUntouched) {
  static const struct {
    const char* name;
    TargetTree targets[3];
    int run;
    Outcome outcomes[3];
  } cases[] = {
      {"all three updated", {kInstall, kInstall, kInstall}, 1, {kUpdated, kUpdated, kUpdated}},
      {"second has no Bin folder",
       {kInstall, kNoBin, kInstall},
       -1,
       {kUpdated, kNoBinLeft, kUntouched}},
      {"second's config.ini is a folder",
       {kInstall, kConfigFolder, kInstall},
       -1,
       {kUpdated, kFolderLeft, kUntouched}},
      {"second misses a skin",
       {kInstall, kSkinMissing, kInstall},
       -1,
       {kUpdated, kPartial, kUntouched}},
      {"first has no Bin folder",
       {kNoBin, kInstall, kInstall},
       -1,
       {kNoBinLeft, kUntouched, kUntouched}},
      {"last has no Bin folder",
       {kInstall, kInstall, kNoBin},
       -1,
       {kUpdated, kUpdated, kNoBinLeft}},
  };
  for (const auto& c : cases) {
    RemoveVarnexKey();
    TempTree tree;
    // The registry texts carry what the walk cleans: a trailing separator,
    // blanks and a version after a comma.
    const std::vector<std::string> texts = {tree.Path("T0") + "\\",
                                            "  " + tree.Path("T1") + " ,1.0", tree.Path("T2")};
    for (int i = 0; i < 3; ++i) {
      std::string dir = "T" + std::to_string(i);
      std::vector<std::string> skins = AllSkins();
      if (c.targets[i] == kSkinMissing) skins.erase(skins.begin() + 1);
      if (c.targets[i] == kNoBin) {
        tree.MakeDir(dir);
      } else {
        tree.MakeInstall(dir, skins);
      }
      if (c.targets[i] == kConfigFolder) tree.MakeDir(dir + "\\Bin\\config.ini");
      if (c.outcomes[i] == kUntouched) {
        tree.WriteFile(dir + "\\Bin\\config.ini", kUntouchedConfig);
        SetFileAttributesA(tree.Path(dir + "\\Bin\\config.ini").c_str(), kUntouchedMarks);
      }
    }
    Record record("Quendal");
    record.MakeProduct(texts);
    long allocated = AllocatedBlocks();
    long released = ReleasedBlocks();

    ConfigIni config;
    InstallLocator locator;
    EXPECT_EQ(c.run, locator.Run(UpdateTargetConfig, &config)) << c.name;
    EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released) << c.name;

    for (int i = 0; i < 3; ++i) {
      std::string config_file = "T" + std::to_string(i) + "\\Bin\\config.ini";
      std::string row = std::string(c.name) + ": " + config_file;
      DWORD attributes = GetFileAttributesA(tree.Path(config_file).c_str());
      switch (c.outcomes[i]) {
        case kUpdated:
          EXPECT_EQ(UpdatedConfig(0xF), tree.ReadFile(config_file)) << row;
          break;
        case kPartial:
          EXPECT_EQ(UpdatedConfig(0xD), tree.ReadFile(config_file)) << row;
          break;
        case kNoBinLeft:
          EXPECT_FALSE(tree.Exists("T" + std::to_string(i) + "\\Bin")) << row;
          break;
        case kFolderLeft:
          EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << row;
          EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << row;
          break;
        case kUntouched:
          EXPECT_EQ(kUntouchedConfig, tree.ReadFile(config_file)) << row;
          EXPECT_EQ(kUntouchedMarks, attributes & kUntouchedMarks) << row;
          break;
      }
    }
  }
}

}  // namespace
