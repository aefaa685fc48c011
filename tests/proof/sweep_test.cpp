// Generated inputs read from the registry into buffers that end flush against
// a no-access page: any read or write past a buffer ends the run with the row
// that caused it. Results are checked against the rules, not the code.
// ORVANE_SWEEP_TEXTS sets the number of generated target texts (default 3000),
// ORVANE_SWEEP_RECORDS the number of generated records for the walk (40).
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/install_locator.h"
#include "driver/text_helpers.h"
#include "gtest/gtest.h"
#include "tests/proof/generated_inputs.h"
#include "tests/proof/guarded_buffer.h"
#include "tests/proof/target_rules.h"
#include "tests/support/fixtures.h"
#include "tests/support/registry_calls.h"
#include "tests/support/target_recorder.h"

namespace {

using proof::GuardedBuffer;
using proof::TargetOutcome;
using testing_support::PatcherTest;
using testing_support::Record;
using testing_support::TargetRecorder;

// Checks one recorded outcome against the expected one; returns false on a mismatch.
bool Matches(const TargetOutcome& expected, const std::vector<TargetRecorder::Call>& calls,
             const std::string& row) {
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
// The texts hold characters of code_page (MakeTargetText), read as the
// ANSI code page, which must be it.
void SweepTargetTexts(unsigned code_page, unsigned seed) {
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
    std::string text = proof::MakeTargetText(random, length, code_page);
    for (int terminated = 0; terminated < 2; ++terminated) {
      // The byte after unterminated data must not be zero, or the registry
      // stores a terminator after all.
      std::string data = text + (terminated ? std::string(1, '\0') : std::string("X"));
      DWORD size = static_cast<DWORD>(text.size() + terminated);
      std::string row = "text " + std::to_string(i) + (terminated ? " terminated '" : " cut '") +
                        proof::Printable(text) + "'";
      GuardedBuffer::SetRow(row);
      record.SetRaw("Target0", REG_SZ, data.data(), size);
      TargetOutcome expected = proof::ExpectedTarget(data.substr(0, size), code_page);

      guard.Fill(0);
      int type = locator.QueryValue(record.key(), "Target0", guard.data(), guard.size());
      EXPECT_EQ(size == 0 ? -1 : REG_SZ, type) << row;
      size_t copied = size < guard.size() ? size : guard.size();
      std::string read(guard.text(), guard.size());
      bool read_ok = read == data.substr(0, copied) + std::string(guard.size() - copied, '\0');
      EXPECT_TRUE(read_ok) << row << " read back as '" << proof::Printable(read) << "'";
      TargetRecorder steps;
      if (type == REG_SZ && FitsWithin(guard.text(), guard.size())) {
        char* comma = FindLastChar(guard.text(), ',');
        if (comma != NULL) *comma = '\0';
        TrimSpaces(guard.text());
        locator.ProcessTarget(guard.text(), TargetRecorder::Callback, &steps);
      }
      bool steps_ok = Matches(expected, steps.calls, row + " (steps)");

      TargetRecorder walked;
      int result = locator.ForEachTarget(record.path().c_str(), "TargetNum", "Target",
                                         TargetRecorder::Callback, &walked);
      EXPECT_EQ(expected.called ? 1 : -1, result) << row;
      bool walk_ok = Matches(expected, walked.calls, row + " (walk)");
      if (!read_ok || !steps_ok || !walk_ok || result != (expected.called ? 1 : -1)) ++failures;
    }
  }
}

class SweepTargetText : public PatcherTest {};

// ASCII texts, which every ANSI code page reads alike.
TEST_F(SweepTargetText, GeneratedTextsGiveTheDirectoryAndConfigPathTheRulesGive) {
  SweepTargetTexts(0, 0x5EED);
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

// A generated record for the walk: its values besides TargetNum, its count,
// and the callback's answers.
struct WalkValue {
  std::string name;
  DWORD type;
  std::string data;
  int index;  // the index the walk spells this name for, or -1 if none
};

struct WalkRecord {
  std::vector<WalkValue> values;
  DWORD count;
  std::vector<int> answers;
  // Written so that the first value the registry lists is Target1, a target
  // the walk needs past its first gap (at 0): the values are written before
  // TargetNum (Windows lists in the order written), and no name sorts before
  // it (Wine lists sorted).
  bool lead = false;
};

std::string RandomCase(proof::Lcg& random, const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z' && random.Next(2)) c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z' && random.Next(2)) c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Gaps of every length, now and then a jump towards the top of the range,
// every value type, names in any letter case, names the walk never spells,
// texts that fail, a count below, at or far above the highest index, and
// now and then a record that the registry lists starting with a target.
WalkRecord MakeWalkRecord(proof::Lcg& random, size_t kind) {
  static const DWORD kSkipped[] = {REG_DWORD,    REG_EXPAND_SZ, REG_BINARY,
                                   REG_MULTI_SZ, REG_NONE,      REG_QWORD};
  static const char* const kFailing[] = {"",      "   ",    ",x",       "rel\\dir",
                                         "C:rel", "\\root", "C:\\Long,"};
  static const char* const kNeverSpelled[] = {
      "Target007", "Target 5", "Target+5",  "Target-1",     "Target2147483647", "Target",
      "Target5x",  "Targe5",   "XTarget5",  "Target0x10",   "Target4294967297", "Target\xB9",
      "Target 0",  "Target00", "Target1.0", "TargetTarget1"};
  WalkRecord record;
  record.lead = kind % 8 < 2 && (kind / 8) % 2 == 0;
  unsigned tier = random.Next(10);
  unsigned n = tier < 4   ? 3 + random.Next(28)
               : tier < 8 ? 30 + random.Next(271)
                          : 300 + random.Next(2701);
  unsigned failing_odds = 2 * n;     // about one record in three holds a failing text
  unsigned spread = random.Next(3);  // dense, gappy, or sparse with jumps towards the top
  long long index = record.lead ? 1 : random.Next(4) ? 0 : random.Next(20);
  for (unsigned k = 0; k < n && index <= 0x7FFFFFFE; ++k) {
    WalkValue value;
    value.index = static_cast<int>(index);
    value.name = (random.Next(5) ? std::string("Target") : RandomCase(random, "target")) +
                 std::to_string(index);
    unsigned pick = k == 0 && record.lead ? 0 : random.Next(100);
    if (pick < 55) {
      value.type = REG_SZ;
      if (random.Next(failing_odds) == 0) {
        value.data = kFailing[random.Next(sizeof kFailing / sizeof *kFailing)];
        if (value.data == "C:\\Long,") value.data += std::string(300, 'x');
      } else {
        value.data = "C:\\T" + std::to_string(index) + (random.Next(3) ? "" : "\\ , 1.0");
      }
      value.data += '\0';
    } else if (pick < 60) {
      value.type = REG_SZ;  // size 0: skipped
    } else {
      value.type = kSkipped[random.Next(sizeof kSkipped / sizeof *kSkipped)];
      value.data = "C:\\Skipped" + std::to_string(index) + '\0';
    }
    record.values.push_back(value);
    unsigned gap = random.Next(100);
    if (spread == 0) {
      index += gap < 80 ? 1 : 2 + random.Next(2);
    } else if (spread == 1) {
      index += gap < 60 ? 1 : gap < 85 ? 2 + random.Next(4) : 6 + random.Next(995);
    } else {
      index += gap < 70 ? 1 : gap < 97 ? 2 + random.Next(1000) : random.Next(0x7FFFFFFF);
    }
  }
  int highest = record.values.back().index;
  for (unsigned k = 0; !record.lead && k < n / 10 + 1; ++k) {
    WalkValue value = {kNeverSpelled[random.Next(sizeof kNeverSpelled / sizeof *kNeverSpelled)],
                       REG_SZ, std::string("C:\\Never", 9), -1};
    // Longer than any name of ours, and listed before or after them.
    if (random.Next(4) == 0) value.name = std::string(70, static_cast<char>('A' + random.Next(26)));
    bool taken = false;
    for (const WalkValue& other : record.values) taken = taken || other.name == value.name;
    if (!taken) record.values.push_back(value);
  }
  // The count's kind goes round with the record's number, so every kind is walked.
  const DWORD top = static_cast<DWORD>(highest);
  switch (kind % 8) {
    case 0:
    case 1:
      record.count = 0x7FFFFFFF;
      break;
    case 2:
      record.count = top + 1;
      break;
    case 3:
      record.count = top;
      break;
    case 4:
      record.count = top / 2 + random.Next(top / 2 + 1);
      break;
    case 5:
      record.count = top + 1 + random.Next(0x7FFFFFFF - top);
      break;
    case 6:
      record.count = (kind / 8) % 2 ? 0 : 0x80000000u + random.Next(0x7FFFFFFF);
      break;
    default:
      record.count = 1 + random.Next(3);
  }
  // Now and then the callback fails a target somewhere along the walk.
  if (random.Next(4) == 0) {
    record.answers.assign(random.Next(n / 2 + 1), 1);
    record.answers.push_back(0);
  }
  return record;
}

// The indices the test wrote a value for, of any type, ascending.
std::vector<long long> WrittenIndices(const WalkRecord& record) {
  std::vector<long long> written;
  for (const WalkValue& value : record.values) {
    if (value.index >= 0) written.push_back(value.index);
  }
  std::sort(written.begin(), written.end());
  return written;
}

// The walk as its rules state it: every index from 0 to the count's end in
// turn, each read by its own name. Indices more than 64 away from any value
// the record was given are left out: the test wrote nothing there. This
// restates the rules, not the product's code, on purpose: it shares nothing
// with the walk it checks, neither its order of work nor its helpers.
int PlainWalk(HKEY key, const WalkRecord& record, TargetRecorder* calls) {
  if (record.count == 0) return 0;
  calls->answers = record.answers;
  const int end = static_cast<int>(record.count);
  const std::vector<long long> written = WrittenIndices(record);
  int result = -1;
  size_t next = 0;
  for (int i = 0; i < end; ++i) {
    while (next < written.size() && written[next] < i) ++next;
    if (next == written.size()) {
      if (written.empty() || i > written.back() + 64) break;
    } else if (written[next] - i > 64 && (next == 0 || i - written[next - 1] > 64)) {
      i = static_cast<int>(written[next] - 64);
    }
    char name[32];
    wsprintfA(name, "Target%d", i);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, NULL, &type, NULL, &size) != ERROR_SUCCESS) continue;
    if (type != REG_SZ || size == 0) continue;
    std::string data(size, '\0');
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot read " << name;
      return -2;
    }
    TargetOutcome expected = proof::ExpectedTarget(data.substr(0, size), 0);
    if (!expected.called) return -1;
    if (!TargetRecorder::Callback(expected.directory.c_str(), expected.config_path.c_str(),
                                  calls)) {
      return -1;
    }
    result = 1;
  }
  return result;
}

// The first index at which the record holds no value of the walk's spelling.
long FirstGap(const WalkRecord& record) {
  long gap = 0;
  for (long long index : WrittenIndices(record)) {
    if (index != gap) break;
    ++gap;
  }
  return gap;
}

class SweepTargetWalk : public PatcherTest {};

// Generated records walked by ForEachTarget and by the plain walk above give
// the same calls, in the same order, and the same result; and the walk's
// registry calls stay within about the smaller of one query per index and one
// pass over the record's values, plus the reads of the targets it uses.
// ORVANE_SWEEP_RECORDS sets the number of records (default 40).
TEST_F(SweepTargetWalk, GeneratedRecordsGiveThePlainWalksCallsAtTheCostOfTheRecord) {
  testing_support::RegistryCalls counted;
  ASSERT_TRUE(counted.installed());
  proof::Lcg random(0x3A1C);
  size_t records = proof::SizeFromEnvironment("ORVANE_SWEEP_RECORDS", 40);
  InstallLocator locator;
  int failures = 0;
  int leads = 0;
  for (size_t r = 0; r < records && failures < 5; ++r) {
    WalkRecord generated = MakeWalkRecord(random, r);
    testing_support::RemoveVarnexKey();
    Record record("Walk");
    if (!generated.lead) record.SetDword("TargetNum", generated.count);
    long strings = 0;
    for (const WalkValue& value : generated.values) {
      record.SetRaw(value.name, value.type, value.data.data(),
                    static_cast<DWORD>(value.data.size()));
      if (value.type == REG_SZ && value.index >= 0 &&
          value.index < static_cast<int>(generated.count)) {
        ++strings;
      }
    }
    if (generated.lead) {
      record.SetDword("TargetNum", generated.count);
      char first[64];
      DWORD size = sizeof first;
      ASSERT_EQ(ERROR_SUCCESS,
                RegEnumValueA(record.key(), 0, first, &size, NULL, NULL, NULL, NULL));
      EXPECT_EQ(0, lstrcmpiA(first, "Target1"))
          << "record " << r << " lists '" << first << "' first";
      ++leads;
    }
    TargetRecorder plain;
    int expected = PlainWalk(record.key(), generated, &plain);
    const auto& expected_calls = plain.calls;

    TargetRecorder recorder;
    recorder.answers = generated.answers;
    counted.Reset();
    int result = locator.ForEachTarget(record.path().c_str(), "TargetNum", "Target",
                                       TargetRecorder::Callback, &recorder);
    long calls = counted.queries() + counted.enumerations() + counted.infos();
    const auto& walked = recorder.calls;

    std::string row = "record " + std::to_string(r) + ": " +
                      std::to_string(generated.values.size()) + " values, TargetNum " +
                      std::to_string(generated.count);
    // One query an index up to the count, or the indices before the first
    // gap and one pass over the values; plus the reads of the strings. Both
    // with the count's read and the record's size.
    long values = static_cast<long>(generated.values.size()) + 1;
    long indices = static_cast<int>(generated.count) > 0 ? static_cast<long>(generated.count) : 0;
    long bound = std::min(indices, FirstGap(generated) + values + 1) + 3 * strings + 4;
    bool same = result == expected && walked.size() == expected_calls.size();
    for (size_t k = 0; same && k < walked.size(); ++k) {
      same = walked[k].directory == expected_calls[k].directory &&
             walked[k].config_path == expected_calls[k].config_path;
    }
    EXPECT_TRUE(same) << row << ": result " << result << " with " << walked.size()
                      << " calls, the plain walk " << expected << " with " << expected_calls.size();
    EXPECT_LE(calls, bound) << row;
    EXPECT_LE(counted.enumerations(), values + 1) << row << ": the values were listed twice";
    if (!same || calls > bound || counted.enumerations() > values + 1) ++failures;
  }
  EXPECT_GT(leads, 0) << "no record lists a target the walk needs first";
}

class CodePageSweep : public PatcherTest {};

// The same sweep with the multibyte characters of the ANSI code page: under
// 936 double-byte ones, trail bytes 0x5C included; under 65001 UTF-8
// sequences of 2 to 4 bytes, so that the 260-byte limit falls inside
// characters of every width.
TEST_F(CodePageSweep, MultiByteTextsKeepTheirCharactersAndGiveTheRulesResult) {
  const unsigned code_page = GetACP();
  if (code_page != 936 && code_page != 65001) {
    GTEST_SKIP() << "needs the ANSI code page 936 or 65001, whose characters it generates; this "
                    "system's is "
                 << code_page;
  }
  SweepTargetTexts(code_page, code_page == 936 ? 0x936 : 0x65001);
}

}  // namespace
