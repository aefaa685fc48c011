// The table of malformed installation records: each scenario is a record, the
// installation folders it points at, the run result and the files expected.
// The malformed-record, fault and leak suites all run it.
#ifndef TESTS_PROOF_SCENARIOS_H_
#define TESTS_PROOF_SCENARIOS_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"

namespace proof {

// A registry value of the record. In texts, '@' stands for the test's tree
// root ('^' for its drive, '%' for the rest), "#N" for 'd's up to a length of
// N bytes and "~N" for 'x's up to N bytes.
struct RecordValue {
  const char* name;
  DWORD type;
  std::string data;  // exactly the bytes stored
};

// An installation folder (same placeholders) with all four skins, and the
// config.ini expected after the run (kMissing: none may exist).
struct Install {
  const char* folder;
  bool poisoned;  // holds a user's config.ini before the run
  std::string expected;
};

// An Install's expected config that its tree's root decides: the one the
// skins give whose probe paths are under MAX_PATH characters. A skin not
// found fails the run (-1); the scenario's result is the one with all found.
extern const char kSkinsUnderMaxPath[];

struct MalformedScenario {
  const char* name;
  std::vector<RecordValue> values;  // besides SoftWareID = Varnex_Quendal
  std::vector<Install> installs;
  int result;
  std::vector<const char*> absent;  // paths the run must not create
};

// Calls body for each scenario of the table, with the scenario's record and
// folders built in a clean registry and a fresh tree (removed afterwards).
void ForEachScenario(
    const std::function<void(const MalformedScenario&, const testing_support::TempTree&)>& body);

// One whole run as the entry makes it, from the tree root as the current folder.
int RunPatch(const testing_support::TempTree& tree);

// Checks the files and folders a run left, given the tree's listing before
// the run: only the expected config files may have appeared. Failures name
// the scenario.
void CheckScenarioFiles(const MalformedScenario& scenario, const testing_support::TempTree& tree,
                        const std::vector<std::string>& before);

}  // namespace proof

#endif  // TESTS_PROOF_SCENARIOS_H_
