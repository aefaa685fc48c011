// Generated inputs read from the registry into buffers that end flush against
// a no-access page: any read or write past a buffer ends the run with the row
// that caused it. Results are checked against the rules, not the code.
// ORVANE_SWEEP_TEXTS sets the number of generated target texts (default 3000).
#include <windows.h>

#include <string>
#include <vector>

#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/proof_support.h"
#include "tests/support/fixtures.h"

namespace {

using proof::Expected;
using proof::GuardedBuffer;
using testing_support::PatcherTest;
using testing_support::Record;

struct Call {
  std::string directory;
  std::string config_path;
};

int RecordCall(const char* directory, const char* config_path, void* context) {
  static_cast<std::vector<Call>*>(context)->push_back({directory, config_path});
  return 1;
}

// Checks one recorded outcome against the expected one; returns false on a mismatch.
bool Matches(const Expected& expected, const std::vector<Call>& calls, const std::string& row) {
  if (!expected.called) {
    EXPECT_TRUE(calls.empty()) << row << " reached the callback as '"
                               << proof::Printable(calls[0].directory) << "'";
    return calls.empty();
  }
  if (calls.size() != 1 || calls[0].directory != expected.directory ||
      calls[0].config_path != expected.config_path) {
    ADD_FAILURE() << row << ": expected '" << proof::Printable(expected.directory) << "' / '"
                  << proof::Printable(expected.config_path) << "', got "
                  << (calls.empty() ? std::string("no call")
                                    : "'" + proof::Printable(calls[0].directory) + "' / '" +
                                          proof::Printable(calls[0].config_path) + "'");
    return false;
  }
  return true;
}

// Stores each generated text as Target0 of a one-target record, terminated
// and without a terminator, and checks (1) the read into the guarded buffer,
// (2) the walk's text steps applied there through the public operations and
// (3) the real walk, all against the expected outcome stated from the rules.
void SweepTargetTexts(bool dbcs, unsigned seed) {
  Record record("Sweep");
  record.SetDword("TargetNum", 1);
  InstallLocator locator;
  GuardedBuffer guard;
  proof::Lcg random(seed);
  size_t count = proof::SizeFromEnvironment("ORVANE_SWEEP_TEXTS", 3000);
  int failures = 0;
  for (size_t i = 0; i < count && failures < 10; ++i) {
    // Every length from 0 to 1000 once, then mostly lengths around the buffer's size.
    size_t length = i <= 1000 ? i : (random.Next(4) ? random.Next(301) : random.Next(1001));
    std::string text = proof::MakeTargetText(random, length, dbcs);
    for (int terminated = 0; terminated < 2; ++terminated) {
      // The byte after unterminated data must not be zero, or the registry
      // stores a terminator after all.
      std::string data = text + (terminated ? std::string(1, '\0') : std::string("X"));
      DWORD size = static_cast<DWORD>(text.size() + terminated);
      std::string row = "text " + std::to_string(i) + (terminated ? " terminated '" : " cut '") +
                        proof::Printable(text) + "'";
      GuardedBuffer::SetRow(row);
      record.SetRaw("Target0", REG_SZ, data.data(), size);
      Expected expected = proof::ExpectedTarget(data.substr(0, size), dbcs);

      guard.Fill(0);
      int type = locator.QueryValue(record.key(), "Target0", guard.data(), guard.size());
      EXPECT_EQ(size == 0 ? -1 : REG_SZ, type) << row;
      size_t copied = size < guard.size() ? size : guard.size();
      std::string read(guard.text(), guard.size());
      bool read_ok = read == data.substr(0, copied) + std::string(guard.size() - copied, '\0');
      EXPECT_TRUE(read_ok) << row << " read back as '" << proof::Printable(read) << "'";
      std::vector<Call> steps;
      if (type == REG_SZ && FitsWithin(guard.text(), guard.size())) {
        char* comma = FindLastChar(guard.text(), ',');
        if (comma != NULL) *comma = '\0';
        TrimSpaces(guard.text());
        locator.ProcessTarget(guard.text(), RecordCall, &steps);
      }
      bool steps_ok = Matches(expected, steps, row + " (steps)");

      std::vector<Call> walked;
      int result =
          locator.ForEachTarget(record.path().c_str(), "TargetNum", "Target", RecordCall, &walked);
      EXPECT_EQ(expected.called ? 1 : -1, result) << row;
      bool walk_ok = Matches(expected, walked, row + " (walk)");
      if (!read_ok || !steps_ok || !walk_ok || result != (expected.called ? 1 : -1)) ++failures;
    }
  }
}

class SweepTargetText : public PatcherTest {};

TEST_F(SweepTargetText, GeneratedTextsGiveTheDirectoryAndConfigPathTheRulesGive) {
  ASSERT_NE(936u, GetACP()) << "double-byte texts belong to the code-page-936 suite";
  SweepTargetTexts(false, 0x5EED);
}

class SweepRegistryValue : public PatcherTest {};

// Every registry type, every size from 0 to 1000 bytes, read through both
// readers into guarded buffers of 260 and 4 bytes poisoned with 0xCC, and
// compared through ValueEquals.
TEST_F(SweepRegistryValue, EveryTypeAndSizeCopiesAtMostTheBufferAndNothingElse) {
  static const DWORD kTypes[] = {REG_NONE,
                                 REG_SZ,
                                 REG_EXPAND_SZ,
                                 REG_BINARY,
                                 REG_DWORD,
                                 REG_DWORD_BIG_ENDIAN,
                                 REG_LINK,
                                 REG_MULTI_SZ,
                                 REG_RESOURCE_LIST,
                                 REG_FULL_RESOURCE_DESCRIPTOR,
                                 REG_RESOURCE_REQUIREMENTS_LIST,
                                 REG_QWORD};
  Record record("Values");
  InstallLocator locator;
  GuardedBuffer wide(MAX_PATH);
  GuardedBuffer narrow(4);
  const GuardedBuffer* const buffers[] = {&wide, &narrow};
  std::string data;
  for (int i = 0; i < 1001; ++i) data += static_cast<char>('a' + (i * 7) % 26);
  data += 'X';  // keeps a string value of any size unterminated
  int failures = 0;
  for (DWORD type : kTypes) {
    for (DWORD size = 0; size <= 1000 && failures < 10; ++size) {
      std::string row = "type " + std::to_string(type) + " size " + std::to_string(size);
      GuardedBuffer::SetRow(row);
      record.SetRaw("V", type, data.data(), size);
      int expected_type = size == 0 ? -1 : static_cast<int>(type);
      for (const GuardedBuffer* buffer : buffers) {
        size_t copied = size < buffer->size() ? size : buffer->size();
        std::string want = data.substr(0, copied) + std::string(buffer->size() - copied, '\xCC');
        buffer->Fill(0xCC);
        int by_key = locator.QueryValue(record.key(), "V", buffer->data(), buffer->size());
        std::string got_by_key(buffer->text(), buffer->size());
        buffer->Fill(0xCC);
        int by_path = locator.ReadValue(HKEY_LOCAL_MACHINE, record.path().c_str(), "V",
                                        buffer->data(), buffer->size());
        std::string got_by_path(buffer->text(), buffer->size());
        std::string at = row + " buffer " + std::to_string(buffer->size());
        EXPECT_EQ(expected_type, by_key) << at;
        EXPECT_EQ(expected_type, by_path) << at;
        EXPECT_EQ(want, got_by_key) << at;
        EXPECT_EQ(want, got_by_path) << at;
        if (by_key != expected_type || by_path != expected_type || want != got_by_key ||
            want != got_by_path) {
          ++failures;
        }
      }
      // Only a string that arrives whole and terminated in 260 bytes can match.
      std::string text = data.substr(0, size);
      int equal = type == REG_SZ && size > 0 && size < MAX_PATH;
      EXPECT_EQ(equal, locator.ValueEquals(record.path().c_str(), "V", text.c_str())) << row;
      if (size > 1) {
        std::string shorter = text.substr(0, size - 1);
        EXPECT_EQ(0, locator.ValueEquals(record.path().c_str(), "V", shorter.c_str())) << row;
      }
    }
  }
}

class Cp936Sweep : public PatcherTest {};

// The same sweep with double-byte characters, trail bytes 0x5C included,
// under the ANSI code page 936.
TEST_F(Cp936Sweep, DoubleByteTextsKeepTrailBytesAndGiveTheRulesResult) {
  ASSERT_EQ(936u, GetACP()) << "run under the code-page-936 prefix";
  SweepTargetTexts(true, 0x936);
}

}  // namespace
