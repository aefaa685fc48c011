// Faults: an allocation that fails at each point of a run, config files that
// cannot be written, and registry calls that fail or change part way.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/e2e/message_box_watcher.h"
#include "tests/proof/generated_inputs.h"
#include "tests/proof/guarded_buffer.h"
#include "tests/proof/scenarios.h"
#include "tests/support/fixtures.h"
#include "tests/support/heap_calls.h"
#include "tests/support/registry_calls.h"
#include "tests/support/target_recorder.h"

namespace {

using testing_support::kAllSkins;
using testing_support::kMissing;
using testing_support::kUntouchedConfig;
using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::TargetRecorder;
using testing_support::UpdatedConfig;

class FaultAllocation : public PatcherTest {};

// One record with two targets, A and B, each with all four skins, at the
// indices 0 and 7 of a count of 0x7FFFFFFF. Each row names one block a run
// takes by what it holds; the block is found in a clean run watched through
// the heap calls, and the run is made again with that allocation failing.
// Every block of the clean run is named by exactly one row.
TEST_F(FaultAllocation, EachAllocationPointOfARunFailsAsExpected) {
  const std::string full = UpdatedConfig(kAllSkins);
  auto without = [](int k) { return UpdatedConfig(kAllSkins & ~(1u << k)); };
  auto text = [](const std::string& value) { return value + std::string(1, '\0'); };
  auto dword = [](DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); };
  struct Row {
    std::string point;
    std::string holds;  // the block's bytes, or its first bytes when size says more
    size_t size;
    int result;
    std::string a, b;
  };
  auto holding = [](const std::string& point, const std::string& holds, int result,
                    const std::string& a,
                    const std::string& b) { return Row{point, holds, holds.size(), result, a, b}; };
  const std::string record_path = std::string(testing_support::kInstalledPath) + "\\Product";
  std::vector<Row> rows = {
      holding("record path", text(record_path), 0, kMissing, kMissing),
      holding("SoftWareID value", text(testing_support::kProductId), 0, kMissing, kMissing),
      holding("TargetNum value", dword(0x7FFFFFFF), 0, kMissing, kMissing)};
  // The indices past the gap at 1, with room for each of the record's four
  // values: only B's. Without the list the rest of the walk is unknown: a
  // failure, not "not installed" and not a success.
  rows.push_back({"index list", dword(7), 4 * sizeof(int), -1, full, kMissing});
  // A target that is there but cannot be read fails like any other target.
  // A failure at A leaves both files as they were; at B, A is done.
  for (const std::string target : {"A", "B"}) {
    const bool first = target == "A";
    const std::string folder = tree_.Path(target);
    const std::string before = first ? kMissing : full;
    rows.push_back(holding(target + (first ? "'s Target0 value" : "'s Target7 value"), text(folder),
                           -1, before, kMissing));
    rows.push_back(holding(target + "'s config path", text(folder + "\\Bin\\config.ini"), -1,
                           before, kMissing));
    for (int k = 0; k < 4; ++k) {
      const std::string skin = testing_support::AllSkins()[k];
      rows.push_back(holding(target + "'s probe of " + skin, text(folder + "\\Bin\\Res\\" + skin),
                             -1, first ? without(k) : full, first ? kMissing : without(k)));
    }
  }

  {
    Record record("Product");
    record.MakeProduct({tree_.Path("A")});
    record.SetDword("TargetNum", 0x7FFFFFFF);
    record.SetString("Target7", tree_.Path("B"));
  }
  auto fresh_installs = [this]() {
    tree_.MakeInstall("A", testing_support::AllSkins());
    tree_.MakeInstall("B", testing_support::AllSkins());
    DeleteFileA(tree_.Path("A\\Bin\\config.ini").c_str());
    DeleteFileA(tree_.Path("B\\Bin\\config.ini").c_str());
  };
  fresh_installs();
  std::vector<testing_support::HeapCalls::Block> blocks;
  {
    testing_support::HeapCalls heap;
    ASSERT_TRUE(heap.installed());
    long allocated = AllocatedBlocks();
    long released = ReleasedBlocks();
    ASSERT_EQ(1, proof::RunPatch(tree_));
    blocks = heap.blocks();
    // The counters every leak check relies on agree with the heap calls.
    ASSERT_EQ(AllocatedBlocks() - allocated, static_cast<long>(blocks.size()));
    ASSERT_EQ(ReleasedBlocks() - released, static_cast<long>(blocks.size()));
  }
  EXPECT_EQ(full, tree_.ReadFile("A\\Bin\\config.ini"));
  EXPECT_EQ(full, tree_.ReadFile("B\\Bin\\config.ini"));
  std::vector<int> named(blocks.size(), 0);
  for (const Row& row : rows) {
    long point = 0;
    for (size_t k = 0; k < blocks.size(); ++k) {
      if (blocks[k].released && blocks[k].size == row.size &&
          blocks[k].content.compare(0, row.holds.size(), row.holds) == 0) {
        ++named[k];
        point = static_cast<long>(k + 1);
      }
    }
    if (point == 0) {
      ADD_FAILURE() << row.point << ": no block of the run holds it";
      continue;
    }
    fresh_installs();
    long allocated = AllocatedBlocks();
    long released = ReleasedBlocks();
    testing_support::FailingAllocation failing(point);
    int result = proof::RunPatch(tree_);
    failing.End();
    EXPECT_EQ(row.result, result) << row.point;
    EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released) << row.point;
    EXPECT_EQ(row.a, tree_.ReadFile("A\\Bin\\config.ini")) << row.point;
    EXPECT_EQ(row.b, tree_.ReadFile("B\\Bin\\config.ini")) << row.point;
  }
  for (size_t k = 0; k < blocks.size(); ++k) {
    EXPECT_EQ(1, named[k]) << "block " << k + 1 << " of " << blocks[k].size << " bytes '"
                           << proof::Printable(blocks[k].content) << "' is named by " << named[k]
                           << " rows";
  }
}

// A run every one of whose allocations it needs: one target, and a count that
// reaches past the first gap (so the record's values are listed into an
// index list) with no target there. Wherever memory fails, the run does not
// report success: a walk whose list could not be made has not seen the rest.
TEST_F(FaultAllocation, NoFailedAllocationOfAWholeRunEndsInSuccess) {
  tree_.MakeInstall("A", testing_support::AllSkins());
  {
    Record record("Product");
    record.MakeProduct({tree_.Path("A")});
    record.SetDword("TargetNum", 100);
  }
  long before = AllocatedBlocks();
  ASSERT_EQ(1, proof::RunPatch(tree_));
  const long points = AllocatedBlocks() - before;
  for (long n = 1; n <= points; ++n) {
    testing_support::FailingAllocation failing(n);
    EXPECT_NE(1, proof::RunPatch(tree_)) << "allocation " << n << " of " << points;
  }
}

// Every malformed record, with a failure at each of its allocation points in
// turn: whatever the result, every block taken is released.
TEST_F(FaultAllocation, EveryPointOfEveryMalformedRecordReleasesWhatItTook) {
  proof::ForEachScenario(
      [](const proof::MalformedScenario& scenario, const testing_support::TempTree& tree) {
        long before = AllocatedBlocks();
        proof::RunPatch(tree);
        long points = AllocatedBlocks() - before;
        for (long n = 1; n <= points; ++n) {
          long allocated = AllocatedBlocks();
          long released = ReleasedBlocks();
          testing_support::FailingAllocation failing(n);
          proof::RunPatch(tree);
          failing.End();
          EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released)
              << scenario.name << " failing allocation " << n;
        }
      });
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
    tree_.WriteFile("B\\Bin\\config.ini", kUntouchedConfig);
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
    EXPECT_EQ(kUntouchedConfig, tree_.ReadFile("B\\Bin\\config.ini"));
    const std::string skin = testing_support::AllSkins()[0];
    EXPECT_EQ("[Skin]\r\nName=" + skin + "\r\n", tree_.ReadFile("A\\Bin\\Res\\" + skin));
  }
};

TEST_F(FaultConfig, FileHeldOpenWithoutSharingFailsTheRunAndStaysAsItWas) {
  tree_.WriteFile("A\\Bin\\config.ini", kUntouchedConfig);
  // This process holds the file; the patcher runs as another process.
  HANDLE held = CreateFileA(tree_.Path("A\\Bin\\config.ini").c_str(), GENERIC_READ | GENERIC_WRITE,
                            0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ("Orvane SP1 Run failed.", RunPatcher());
  EXPECT_EQ(-1, proof::RunPatch(tree_));
  CloseHandle(held);
  EXPECT_EQ(kUntouchedConfig, tree_.ReadFile("A\\Bin\\config.ini"));
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

// Registry calls that fail or meet a changed record part way through a walk,
// brought about through this program's import entries, and the platform
// behaviour the walk relies on for them.
class FaultRegistry : public PatcherTest {
 protected:
  // Walks the record by its own names, as a run would after finding it.
  int Walk(const Record& record, TargetRecorder* recorder) {
    InstallLocator locator;
    return locator.ForEachTarget(record.path().c_str(), "TargetNum", "Target",
                                 TargetRecorder::Callback, recorder);
  }
};

// Target1 changes after its size was asked and before its data is read. A
// read that fails fails the target and stops the walk: it is not skipped.
// One whose type changed reads fine and is skipped, as it would be had it had
// that type all along.
TEST_F(FaultRegistry, TargetThatChangesBeforeItsReadTable) {
  const struct {
    const char* change;
    std::function<void(Record&)> make;
    int result;
    std::vector<std::string> directories;
  } cases[] = {
      {"grew", [](Record& r) { r.SetString("Target1", "C:\\Longer than before"); }, -1, {"C:\\T0"}},
      {"was deleted", [](Record& r) { RegDeleteValueA(r.key(), "Target1"); }, -1, {"C:\\T0"}},
      {"became a DWORD", [](Record& r) { r.SetDword("Target1", 1); }, 1, {"C:\\T0", "C:\\T2"}},
  };
  for (const auto& c : cases) {
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.MakeProduct({"C:\\T0", "C:\\T1", "C:\\T2"});
    testing_support::RegistryCalls calls;
    ASSERT_TRUE(calls.installed());
    int reads = 0;
    calls.before_query = [&](HKEY, const char* name, bool reads_data) {
      if (reads_data && lstrcmpA(name, "Target1") == 0 && reads++ == 0) c.make(record);
      return static_cast<LONG>(ERROR_SUCCESS);
    };
    TargetRecorder recorder;
    EXPECT_EQ(c.result, Walk(record, &recorder)) << c.change;
    EXPECT_EQ(1, reads) << c.change;
    EXPECT_EQ(c.directories, recorder.Directories()) << c.change;
  }
}

// A huge count, a gap at 1: the record's values (Target0, Target5, Target9,
// TargetNum) are listed once. A listing that ends in an error at any of
// them, the end included, leaves the rest of the walk unknown: the run is -1
// whatever was updated before, and nothing past the gap is visited.
TEST_F(FaultRegistry, ListingThatEndsInAnErrorFailsTheRun) {
  for (DWORD failing = 0; failing <= 5; ++failing) {
    testing_support::RemoveVarnexKey();
    Record record("Product");
    record.SetDword("TargetNum", 0x7FFFFFFF);
    record.SetString("Target0", "C:\\T0");
    record.SetString("Target5", "C:\\T5");
    record.SetString("Target9", "C:\\T9");
    testing_support::RegistryCalls calls;
    ASSERT_TRUE(calls.installed());
    calls.before_enum = [failing](HKEY, DWORD index) {
      return static_cast<LONG>(index == failing ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    };
    TargetRecorder recorder;
    int result = Walk(record, &recorder);
    // Past the end (index 5) the listing stops before the failing call.
    if (failing == 5) {
      EXPECT_EQ(1, result);
      EXPECT_EQ(std::vector<std::string>({"C:\\T0", "C:\\T5", "C:\\T9"}), recorder.Directories());
    } else {
      EXPECT_EQ(-1, result) << "failing at value " << failing;
      EXPECT_EQ(std::vector<std::string>({"C:\\T0"}), recorder.Directories())
          << "failing at value " << failing;
    }
  }
}

// Values written while the record is listed: more candidates than the
// record held when counted. The run is -1, and the list writes nothing past
// its block, which here ends flush against a no-access page.
TEST_F(FaultRegistry, RecordThatGainsValuesWhileListedFailsTheRun) {
  Record record("Product");
  record.SetDword("TargetNum", 0x7FFFFFFF);
  record.SetString("Target0", "C:\\T0");
  record.SetString("Target5", "C:\\T5");
  // Room for the three values counted: Target0, Target5 and TargetNum.
  proof::GuardedBuffer list_block(3 * sizeof(int));
  proof::GuardedBuffer::SetRow("a record that gains values while listed");
  testing_support::HeapCalls heap;
  ASSERT_TRUE(heap.installed());
  bool served = false;
  heap.serve = [&list_block, &served](SIZE_T size) -> void* {
    if (served || size != list_block.size()) return NULL;
    served = true;
    return list_block.data();
  };
  testing_support::RegistryCalls calls;
  ASSERT_TRUE(calls.installed());
  calls.before_enum = [&record](HKEY, DWORD index) {
    if (index == 0) {
      for (int k = 6; k < 12; ++k) record.SetString("Target" + std::to_string(k), "C:\\Late");
    }
    return static_cast<LONG>(ERROR_SUCCESS);
  };
  TargetRecorder recorder;
  EXPECT_EQ(-1, Walk(record, &recorder));
  EXPECT_EQ(std::vector<std::string>({"C:\\T0"}), recorder.Directories());
  EXPECT_TRUE(served) << "the list's block was not the guarded one";
}

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
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, testing_support::kInstalledPath, 0, NULL, 0,
                            KEY_ALL_ACCESS | testing_support::kPatcherView, NULL, &parent, NULL));
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
  EXPECT_EQ(UpdatedConfig(kAllSkins), tree_.ReadFile("A\\Bin\\config.ini"));
}

}  // namespace
