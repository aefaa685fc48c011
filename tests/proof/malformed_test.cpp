// Malformed installation records, run whole against real folders: each gives
// its run result and its files, creates nothing else, and releases every
// block it took.
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/scenarios.h"

namespace {

using testing_support::PatcherTest;

class MalformedRecord : public PatcherTest {};

TEST_F(MalformedRecord, EachRecordGivesItsRunResultAndFiles) {
  proof::ForEachScenario(
      [](const proof::MalformedScenario& scenario, const testing_support::TempTree& tree) {
        // The run starts in the tree root, so whatever it writes by a relative
        // path shows in the listing.
        std::vector<std::string> before = testing_support::ListTree(tree.root());
        long allocated = AllocatedBlocks();
        long released = ReleasedBlocks();
        EXPECT_EQ(scenario.result, proof::RunPatch(tree)) << scenario.name;
        EXPECT_EQ(AllocatedBlocks() - allocated, ReleasedBlocks() - released) << scenario.name;
        proof::CheckScenarioFiles(scenario, tree, before);
      });
}

}  // namespace
