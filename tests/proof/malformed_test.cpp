// Malformed installation records, run whole against real folders: each gives
// its run result and its files, creates nothing else, and releases every
// block it took.
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/scenarios.h"

namespace {

using testing_support::PatcherTest;

void CheckEachScenario() {
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

class MalformedRecord : public PatcherTest {};

TEST_F(MalformedRecord, EachRecordGivesItsRunResultAndFiles) { CheckEachScenario(); }

// The same records under a temporary folder named in Chinese, as a Chinese
// user's is: there a folder has fewer characters than bytes, and the limit
// of a skin's probe is in characters. Under a multibyte ANSI code page only.
class CodePageMalformedRecord : public PatcherTest {};

TEST_F(CodePageMalformedRecord, EachRecordGivesItsRunResultAndFilesUnderAChineseTemporaryFolder) {
  const std::wstring chinese = L"\x5F20\x4E09\x7684\x4E34\x65F6\x6587\x4EF6\x5939";
  if (testing_support::Widen(testing_support::Narrow(chinese)) != chinese) {
    GTEST_SKIP() << "needs a multibyte ANSI code page that holds Chinese characters (936, "
                    "65001); this system's is "
                 << GetACP();
  }
  const std::string temporary = tree_.Path(testing_support::Narrow(chinese));
  ASSERT_TRUE(CreateDirectoryA(temporary.c_str(), NULL));
  wchar_t previous[MAX_PATH] = {0};
  DWORD had = GetEnvironmentVariableW(L"TMP", previous, MAX_PATH);
  ASSERT_TRUE(SetEnvironmentVariableA("TMP", temporary.c_str()));
  {
    testing_support::TempTree inside;
    EXPECT_EQ(0u, inside.root().find(temporary + "\\")) << "the trees are made elsewhere";
  }
  CheckEachScenario();
  SetEnvironmentVariableW(L"TMP", had != 0 ? previous : NULL);
}

}  // namespace
