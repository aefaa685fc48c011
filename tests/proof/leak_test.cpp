// No registry key or search handle is left open on any path. Keys are kernel
// handles, shown by the value the next handle gets (GetProcessHandleCount
// answers 0 under Wine); a search handle holds no kernel handle under Wine,
// so searches are shown through the process heap. Each measure is first shown
// to move when something does leak. ORVANE_LEAK_RUNS sets the repeats.
#include <windows.h>

#include <set>
#include <vector>

#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/generated_inputs.h"
#include "tests/proof/leak_measures.h"
#include "tests/proof/scenarios.h"
#include "tests/support/fixtures.h"
#include "tests/support/heap_calls.h"

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
// process heap itself, so that a check cannot go blind if they are wrong: each
// block counted as handed out is a live block of the process heap, of at least
// the size asked for, and each counted as released went back to the heap; a
// refused one is neither taken nor counted, nor is a release of null.
// Held block by block (HeapSize, HeapValidate), not by counting a walk's
// entries: how a heap lays small blocks out differs between Wine 8 and 10,
// and Windows moves them into its low-fragmentation heap.
class LeakCounters : public PatcherTest {};

TEST_F(LeakCounters, CountersFollowTheProcessHeap) {
  const int kBlocks = 100;
  const size_t kSize = 48;
  HANDLE heap = GetProcessHeap();
  std::vector<void*> blocks;
  blocks.reserve(kBlocks);
  const long allocated = AllocatedBlocks();
  const long released = ReleasedBlocks();
  testing_support::HeapCalls calls;
  ASSERT_TRUE(calls.installed());
  for (int i = 0; i < kBlocks; ++i) blocks.push_back(AllocBlock(kSize));
  EXPECT_EQ(kBlocks, AllocatedBlocks() - allocated);
  for (const void* block : blocks) {
    ASSERT_NE(nullptr, block);
    EXPECT_TRUE(HeapValidate(heap, 0, block));
    EXPECT_GE(HeapSize(heap, 0, block), kSize);
  }
  EXPECT_EQ(static_cast<size_t>(kBlocks), std::set<void*>(blocks.begin(), blocks.end()).size());
  testing_support::FailingAllocation failing(1);
  EXPECT_EQ(nullptr, AllocBlock(kSize));
  failing.End();
  EXPECT_EQ(kBlocks, AllocatedBlocks() - allocated);
  ASSERT_EQ(static_cast<size_t>(kBlocks), calls.blocks().size());
  for (void* block : blocks) ReleaseBlock(block);
  ReleaseBlock(NULL);
  EXPECT_EQ(kBlocks, ReleasedBlocks() - released);
  for (const auto& block : calls.blocks()) EXPECT_TRUE(block.released);
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
