// A TargetCallback for the discovery and proof tests: records every call and
// answers from a script, so a test can see which targets reached the
// callback, with which texts, and make any of them fail.
#ifndef TESTS_SUPPORT_TARGET_RECORDER_H_
#define TESTS_SUPPORT_TARGET_RECORDER_H_

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace testing_support {

struct TargetRecorder {
  struct Call {
    std::string directory;
    std::string config_path;
    const void* context;
  };

  // The answer for the i-th call; calls past the script's end succeed.
  std::vector<int> answers;
  std::vector<Call> calls;

  // Pass this recorder as the context.
  static int Callback(const char* directory, const char* config_path, void* context) {
    TargetRecorder* self = static_cast<TargetRecorder*>(context);
    self->calls.push_back(
        {directory ? directory : "<null>", config_path ? config_path : "<null>", context});
    size_t index = self->calls.size() - 1;
    return index < self->answers.size() ? self->answers[index] : 1;
  }

  std::vector<std::string> Directories() const {
    std::vector<std::string> out(calls.size());
    std::transform(calls.begin(), calls.end(), out.begin(),
                   [](const Call& call) { return call.directory; });
    return out;
  }

  // Checks a run over a record with one target text: with an empty expected
  // directory the target fails (-1, no call); otherwise the run succeeds with
  // one call for that directory and its config path.
  void ExpectOneTarget(int result, const std::string& directory) const {
    if (directory.empty()) {
      EXPECT_EQ(-1, result);
      EXPECT_TRUE(calls.empty());
      return;
    }
    EXPECT_EQ(1, result);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(directory, calls[0].directory);
    EXPECT_EQ(directory + "\\Bin\\config.ini", calls[0].config_path);
    EXPECT_EQ(this, calls[0].context);
  }
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_TARGET_RECORDER_H_
