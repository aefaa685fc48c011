// A config folder that refuses writes. Wine lets root write anywhere and
// ignores the read-only mark on folders, so scripts/unprivileged-test runs this
// suite as an unprivileged user against a tree whose Bin folder is read-only on
// the Linux side, and names that tree in ORVANE_READONLY_TREE.
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "config/config_ini.h"
#include "discovery/install_locator.h"
#include "gtest/gtest.h"
#include "tests/e2e/message_box_watcher.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::AllSkins;
using testing_support::PatcherTest;
using testing_support::Record;

class UnprivilegedReadOnlyFolder : public PatcherTest {};

TEST_F(UnprivilegedReadOnlyFolder, TargetFailsAndNothingElseIsWritten) {
  const char* tree = getenv("ORVANE_READONLY_TREE");
  if (tree == NULL) {
    GTEST_SKIP() << "needs a folder that refuses this user's writes, named in "
                    "ORVANE_READONLY_TREE (scripts/unprivileged-test makes one on Linux)";
  }
  const std::string app = std::string(tree) + "\\App";
  const std::string config = app + "\\Bin\\config.ini";

  // The folder must really refuse a new file, or this test proves nothing.
  HANDLE probe =
      CreateFileA((app + "\\Bin\\probe.tmp").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  DWORD error = GetLastError();
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  ASSERT_EQ(INVALID_HANDLE_VALUE, probe) << "the Bin folder accepts writes";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);

  // A second, writable target shows that the walk stopped at the first.
  tree_.MakeInstall("B", AllSkins());
  {
    Record record("Product");
    record.MakeProduct({app, tree_.Path("B")});
  }
  InstallLocator locator;
  ConfigIni settings;
  EXPECT_EQ(-1, locator.Run(UpdateTargetConfig, &settings));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(config.c_str()));
  EXPECT_FALSE(tree_.Exists("B\\Bin\\config.ini"));

  e2e::BoxedRun run = e2e::RunAndAnswer(e2e::BesideThisProgram(PATCHER_EXE), tree_.root(), 30000);
  ASSERT_TRUE(run.exited);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("Orvane SP1 Run failed.", run.boxes[0].text);
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(config.c_str()));
  EXPECT_FALSE(tree_.Exists("B\\Bin\\config.ini"));
}

}  // namespace
