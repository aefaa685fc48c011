// Faults: an allocation that fails at each point of a run, and config files
// that cannot be written.
#include <windows.h>

#include <string>

#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/e2e/message_box_watcher.h"
#include "tests/proof/proof_support.h"
#include "tests/proof/scenarios.h"
#include "tests/support/fixtures.h"

namespace {

using proof::FreshConfig;
using proof::kAllSkins;
using proof::kMissing;
using proof::kPoison;
using testing_support::PatcherTest;
using testing_support::Record;

class FaultAllocation : public PatcherTest {};

// One record with two targets, A and B, each with all four skins, at the
// indices 0 and 7 of a count of 0x7FFFFFFF. A run takes its blocks in this
// order: the record's candidate path, the SoftWareID read, the TargetNum
// read, then per target its Target read, its config path and its four skin
// probe paths, and between the two targets the list of the record's indices
// past the gap at 1.
TEST_F(FaultAllocation, EachAllocationPointOfARunFailsAsExpected) {
  const std::string full = FreshConfig(kAllSkins);
  auto without = [](int k) { return FreshConfig(kAllSkins & ~(1u << k)); };
  struct Row {
    std::string point;
    int result;
    std::string a, b;
  };
  std::vector<Row> rows = {{"candidate path", 0, kMissing, kMissing},
                           {"SoftWareID read", 0, kMissing, kMissing},
                           {"TargetNum read", 0, kMissing, kMissing}};
  // A target that is there but cannot be read fails like any other target.
  rows.push_back({"A read", -1, kMissing, kMissing});
  rows.push_back({"A config path", -1, kMissing, kMissing});
  for (int k = 0; k < 4; ++k) {
    rows.push_back({"A probe " + std::to_string(k), -1, without(k), kMissing});
  }
  // Without the list the rest of the walk is unknown: a failure, not "not
  // installed" and not a success.
  rows.push_back({"index list", -1, full, kMissing});
  rows.push_back({"B read", -1, full, kMissing});
  rows.push_back({"B config path", -1, full, kMissing});
  for (int k = 0; k < 4; ++k)
    rows.push_back({"B probe " + std::to_string(k), -1, full, without(k)});
  rows.push_back({"past the last allocation", 1, full, full});

  {
    Record record("Product");
    record.MakeProduct({tree_.Path("A")});
    record.SetDword("TargetNum", 0x7FFFFFFF);
    record.SetString("Target7", tree_.Path("B"));
  }
  for (size_t n = 1; n <= rows.size(); ++n) {
    const Row& row = rows[n - 1];
    tree_.MakeInstall("A", testing_support::AllSkins());
    tree_.MakeInstall("B", testing_support::AllSkins());
    DeleteFileA(tree_.Path("A\\Bin\\config.ini").c_str());
    DeleteFileA(tree_.Path("B\\Bin\\config.ini").c_str());
    long allocated = AllocatedBlocks();
    long released = ReleasedBlocks();
    FailAllocation(static_cast<long>(n));
    int result = proof::RunPatch(tree_);
    FailAllocation(0);
    EXPECT_EQ(row.result, result) << row.point;
    EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released) << row.point;
    EXPECT_EQ(row.a, tree_.ReadFile("A\\Bin\\config.ini")) << row.point;
    EXPECT_EQ(row.b, tree_.ReadFile("B\\Bin\\config.ini")) << row.point;
  }
}

// Every malformed record, with a failure at each of its allocation points in
// turn: whatever the result, every block taken is released.
TEST_F(FaultAllocation, EveryPointOfEveryMalformedRecordReleasesWhatItTook) {
  for (const proof::Scenario& scenario : proof::MalformedScenarios()) {
    testing_support::RemoveVarnexKey();
    testing_support::TempTree tree;
    proof::BuildScenario(scenario, tree);
    long before = AllocatedBlocks();
    proof::RunPatch(tree);
    long points = AllocatedBlocks() - before;
    for (long n = 1; n <= points; ++n) {
      long allocated = AllocatedBlocks();
      long released = ReleasedBlocks();
      FailAllocation(n);
      proof::RunPatch(tree);
      FailAllocation(0);
      EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released)
          << scenario.name << " failing allocation " << n;
    }
  }
}

// A config file that cannot be written: the first target fails, the run
// reports failure, and neither that file nor the second target is touched.
// Root can write anywhere under Wine, so a read-only folder is not among
// these; a file held open without sharing and a folder in the file's place
// fail for any user.
class FaultConfig : public PatcherTest {
 protected:
  void SetUp() override {
    PatcherTest::SetUp();
    Record record("Product");
    record.MakeProduct({tree_.Path("A"), tree_.Path("B")});
    tree_.MakeInstall("A", testing_support::AllSkins());
    tree_.MakeInstall("B", testing_support::AllSkins());
    tree_.WriteFile("B\\Bin\\config.ini", kPoison);
  }

  // Runs the real patcher and returns the text of its one message box.
  std::string RunPatcher() {
    e2e::BoxedRun run = e2e::RunAndAnswer(e2e::BesideThisProgram(PATCHER_EXE), tree_.root(), 20000);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exit_code);
    if (run.boxes.size() != 1) return "boxes: " + std::to_string(run.boxes.size());
    return run.boxes[0].text;
  }

  void ExpectOthersUntouched() {
    EXPECT_EQ(kPoison, tree_.ReadFile("B\\Bin\\config.ini"));
    EXPECT_EQ("[Skin]\r\nName=skinSinE.ini\r\n", tree_.ReadFile("A\\Bin\\Res\\skinSinE.ini"));
  }
};

TEST_F(FaultConfig, FileHeldOpenWithoutSharingFailsTheRunAndStaysAsItWas) {
  tree_.WriteFile("A\\Bin\\config.ini", kPoison);
  // This process holds the file; the patcher runs as another process.
  HANDLE held = CreateFileA(tree_.Path("A\\Bin\\config.ini").c_str(), GENERIC_READ | GENERIC_WRITE,
                            0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ("Orvane SP1 Run failed.", RunPatcher());
  EXPECT_EQ(-1, proof::RunPatch(tree_));
  CloseHandle(held);
  EXPECT_EQ(kPoison, tree_.ReadFile("A\\Bin\\config.ini"));
  ExpectOthersUntouched();
}

TEST_F(FaultConfig, FolderInPlaceOfTheFileFailsTheRunAndStaysAsItWas) {
  tree_.WriteFile("A\\Bin\\config.ini\\inside.txt", "kept");
  EXPECT_EQ("Orvane SP1 Run failed.", RunPatcher());
  EXPECT_EQ(-1, proof::RunPatch(tree_));
  DWORD attributes = GetFileAttributesA(tree_.Path("A\\Bin\\config.ini").c_str());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ("kept", tree_.ReadFile("A\\Bin\\config.ini\\inside.txt"));
  ExpectOthersUntouched();
}

// Registry reads that fail part way. Neither can be brought about inside a
// run, so each shows the platform behaviour a run relies on.
class FaultRegistry : public PatcherTest {};

// The reader asks for a value's size, then reads it with that size: a value
// that grew in between is refused with ERROR_MORE_DATA and its new size, never
// cut, so nothing is taken from the read. (Windows leaves the buffer's content
// undefined then; the reader copies nothing from it.)
TEST_F(FaultRegistry, ReadWithTheSizeOfAShorterValueIsRefused) {
  Record record("Product");
  record.SetString("Target0", "C:\\Longer");
  BYTE buffer[16];
  DWORD size = sizeof "C:\\App";
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(record.key(), "Target0", NULL, NULL, buffer, &size));
  EXPECT_EQ(sizeof "C:\\Longer", size);
}

// A record whose path (264 characters) Wine refuses to open, as it refuses
// every sub-key path past 260 (Windows opens it), is no match, and the search
// goes on to the product's record. The record is not the product's, so the run
// is the same on both.
TEST_F(FaultRegistry, RecordThatCannotBeOpenedByItsPathIsPassedOver) {
  HKEY parent = NULL;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, testing_support::kInstalledPath, 0,
                                           NULL, 0, KEY_ALL_ACCESS, NULL, &parent, NULL));
  // Made through its parent: the full path is too long for Wine.
  const std::string name(230, 'A');
  HKEY other = NULL;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(parent, name.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &other, NULL));
  const char id[] = "Varnex_Other";
  RegSetValueExA(other, "SoftWareID", 0, REG_SZ, reinterpret_cast<const BYTE*>(id), sizeof id);
  RegCloseKey(other);
  RegCloseKey(parent);
  {
    Record record("Product");
    record.MakeProduct({tree_.Path("A")});
  }
  tree_.MakeInstall("A", testing_support::AllSkins());
  EXPECT_EQ(1, proof::RunPatch(tree_));
  EXPECT_EQ(FreshConfig(kAllSkins), tree_.ReadFile("A\\Bin\\config.ini"));
}

}  // namespace
