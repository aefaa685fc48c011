// No registry key or search handle is left open on any path. Keys are kernel
// handles, shown by the value the next handle gets (GetProcessHandleCount
// answers 0 under Wine); a search handle holds no kernel handle under Wine,
// so searches are shown through the process heap. Each measure is first shown
// to move when something does leak. ORVANE_LEAK_RUNS sets the repeats.
#include <windows.h>

#include <vector>

#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/generated_inputs.h"
#include "tests/proof/leak_measures.h"
#include "tests/proof/scenarios.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::PatcherTest;

class LeakHandles : public PatcherTest {};

TEST_F(LeakHandles, TenKeysLeftOpenMoveTheMeasure) {
  UINT_PTR before = proof::NextHandleValue();
  std::vector<HKEY> keys;
  for (int i = 0; i < 10; ++i) {
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key));
    keys.push_back(key);
  }
  UINT_PTR leaked = proof::NextHandleValue();
  for (HKEY key : keys) RegCloseKey(key);
  EXPECT_GE(leaked, before + 10 * 4);
  EXPECT_EQ(before, proof::NextHandleValue());
}

// Every scenario of the malformed-record table, each run repeatedly, clean
// and with a failure at each of its allocation points.
TEST_F(LeakHandles, EveryScenarioOnEveryPathClosesItsKeys) {
  size_t runs = proof::SizeFromEnvironment("ORVANE_LEAK_RUNS", 10);
  proof::ForEachScenario(
      [runs](const proof::MalformedScenario& scenario, const testing_support::TempTree& tree) {
        long before = AllocatedBlocks();
        proof::RunPatch(tree);  // also warms up what the platform keeps for good
        long points = AllocatedBlocks() - before;
        UINT_PTR handle = proof::NextHandleValue();
        for (size_t run = 0; run < runs; ++run) {
          for (long n = 0; n <= points; ++n) {
            testing_support::FailingAllocation failing(n);
            proof::RunPatch(tree);
            failing.End();
          }
        }
        EXPECT_EQ(handle, proof::NextHandleValue()) << scenario.name;
      });
}

// The allocation counters every leak check relies on, checked against the
// process heap itself, so that a check cannot go blind if they are wrong: a
// block counted as handed out is a busy block of the heap until it is
// counted as released, and a refused one is neither.
class LeakCounters : public PatcherTest {};

TEST_F(LeakCounters, CountersFollowTheProcessHeap) {
  const int kBlocks = 100;
  const size_t kSize = 48;
  std::vector<void*> blocks;
  blocks.reserve(kBlocks);
  const long allocated = AllocatedBlocks();
  const long released = ReleasedBlocks();
  const proof::HeapUse start = proof::BusyHeap();
  for (int i = 0; i < kBlocks; ++i) blocks.push_back(AllocBlock(kSize));
  const proof::HeapUse taken = proof::BusyHeap();
  testing_support::FailingAllocation failing(1);
  void* refused = AllocBlock(kSize);
  failing.End();
  const proof::HeapUse after_refusal = proof::BusyHeap();
  for (void* block : blocks) ReleaseBlock(block);
  ReleaseBlock(NULL);
  const proof::HeapUse end = proof::BusyHeap();

  EXPECT_EQ(nullptr, refused);
  EXPECT_EQ(kBlocks, AllocatedBlocks() - allocated);
  EXPECT_EQ(start.blocks + kBlocks, taken.blocks);
  EXPECT_GE(taken.bytes, start.bytes + kBlocks * kSize);
  EXPECT_EQ(taken.blocks, after_refusal.blocks);
  EXPECT_EQ(kBlocks, ReleasedBlocks() - released);
  EXPECT_EQ(start.blocks, end.blocks);
  EXPECT_EQ(start.bytes, end.bytes);
}

class LeakSearch : public PatcherTest {};

TEST_F(LeakSearch, ThousandRunsLeaveTheHeapAsItWas) {
  tree_.MakeInstall("A", testing_support::AllSkins());
  {
    testing_support::Record record("Product");
    record.MakeProduct({tree_.Path("A")});
  }
  std::string skin = tree_.Path("A\\Bin\\Res\\" + testing_support::AllSkins()[0]);
  // The measure: what one search left open costs the heap.
  SIZE_T start = proof::BusyHeapBytes();
  std::vector<HANDLE> searches;
  WIN32_FIND_DATAA found;
  for (int i = 0; i < 100; ++i) searches.push_back(FindFirstFileA(skin.c_str(), &found));
  SIZE_T per_search = (proof::BusyHeapBytes() - start) / 100;
  for (HANDLE search : searches) FindClose(search);
  ASSERT_GE(per_search, 16u) << "a search left open no longer shows in the heap";

  for (int i = 0; i < 10; ++i) proof::RunPatch(tree_);
  SIZE_T before = proof::BusyHeapBytes();
  size_t runs = proof::SizeFromEnvironment("ORVANE_LEAK_RUNS", 10) * 100;
  for (size_t i = 0; i < runs; ++i) ASSERT_EQ(1, proof::RunPatch(tree_));
  SIZE_T after = proof::BusyHeapBytes();
  // Four searches a run: a leak of one in a hundred would pass this bound.
  EXPECT_LT(after, before + per_search * (runs * 4 / 100)) << "grew by " << after - before;
  EXPECT_EQ(testing_support::UpdatedConfig(testing_support::kAllSkins),
            tree_.ReadFile("A\\Bin\\config.ini"));
}

}  // namespace
