// No registry key or search handle is left open on any path. Keys are kernel
// handles, shown by the value the next handle gets (GetProcessHandleCount
// answers 0 under Wine); a search of an exact name holds no kernel handle
// under Wine, and what it costs the heap a walk reports differently on
// Windows' low-fragmentation heap, so searches are counted at the calls.
// Each measure is shown to see what it measures. ORVANE_LEAK_RUNS sets the
// repeats.
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
#include "tests/support/import_entry.h"

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

// The searches opened, and those of them not closed yet.
void* g_find_first = NULL;
void* g_find_close = NULL;
long g_searches = 0;
std::set<HANDLE> g_open_searches;

HANDLE WINAPI CountedFindFirst(LPCSTR name, LPWIN32_FIND_DATAA found) {
  HANDLE search = reinterpret_cast<decltype(&FindFirstFileA)>(g_find_first)(name, found);
  if (search != INVALID_HANDLE_VALUE) {
    ++g_searches;
    g_open_searches.insert(search);
  }
  return search;
}

BOOL WINAPI CountedFindClose(HANDLE search) {
  g_open_searches.erase(search);
  return reinterpret_cast<decltype(&FindClose)>(g_find_close)(search);
}

class LeakSearch : public PatcherTest {};

TEST_F(LeakSearch, EveryRunClosesEverySearch) {
  tree_.MakeInstall("A", testing_support::AllSkins());
  {
    testing_support::Record record("Product");
    record.MakeProduct({tree_.Path("A")});
  }
  testing_support::RedirectedImports counted(
      {{"kernel32.dll", "FindFirstFileA", reinterpret_cast<void*>(CountedFindFirst), &g_find_first},
       {"kernel32.dll", "FindClose", reinterpret_cast<void*>(CountedFindClose), &g_find_close}});
  ASSERT_TRUE(counted.installed());
  g_searches = 0;
  g_open_searches.clear();
  long runs = static_cast<long>(proof::SizeFromEnvironment("ORVANE_LEAK_RUNS", 10));
  for (long i = 0; i < runs; ++i) ASSERT_EQ(1, proof::RunPatch(tree_));
  EXPECT_EQ(runs * 4, g_searches) << "one search for each skin";
  EXPECT_TRUE(g_open_searches.empty()) << g_open_searches.size() << " left open";
  EXPECT_EQ(testing_support::UpdatedConfig(testing_support::kAllSkins),
            tree_.ReadFile("A\\Bin\\config.ini"));
}

}  // namespace
