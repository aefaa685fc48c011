// Times the patcher at scale inside the Wine process with
// QueryPerformanceCounter: its whole run as a process against the start and
// exit of a trivial GUI program (the floor), and in-process runs over many
// records, many targets, a large config file, a huge target count and a sparse
// record whose count is about twice its values, each beside the same platform
// calls made alone. Prints a table of medians and writes it as JSON beside
// this program. The fixtures are the tests' own; a set-up that fails stops the
// bench before any figure is printed.
// Usage: orvane_bench [RUNS]   (default 7, at least 5)
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "config/config_ini.h"
#include "discovery/install_locator.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::AllSkins;
using testing_support::kInstalledPath;
using testing_support::kUpdateWriteCount;
using testing_support::kUpdateWrites;
using testing_support::Record;
using testing_support::TempTree;

// The fixtures report a failed call as a GoogleTest failure, which outside a
// test stops nothing: this listener names each one and counts them.
class SetupFailures : public testing::EmptyTestEventListener {
 public:
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (!result.failed()) return;
    ++count_;
    fprintf(stderr, "bench: set-up failed at %s:%d: %s\n",
            result.file_name() != NULL ? result.file_name() : "?", result.line_number(),
            result.summary());
  }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

// What the workloads build and what their steps read. Only the current
// workload's records exist; its counts are read back from the registry after
// it is built. The folders stay until the bench ends.
struct Fixture {
  explicit Fixture(const SetupFailures& reported) : failures(reported) {}

  const SetupFailures& failures;
  TempTree tree;
  std::string patcher;
  std::vector<std::string> installs;  // full paths, the product's targets in order
  std::string product;                // the product's record, under HKEY_LOCAL_MACHINE
  std::string config;                 // contents of the large config file
  DWORD records = 0;                  // installation records, the product's included
  DWORD values = 0;                   // values of the product's record
  DWORD target_num = 0;               // its TargetNum
  // Medians that later rows are given relative to.
  double floor_ms = 0;
  double one_target_ms = 0;
  double writes_ms = 0;
  double queries_ms = 0;
};

// Where a row keeps its median for later rows: a member of the fixture. Named
// through decltype: clang-format 14 and 19 lay out the member-pointer
// declarator differently, and the format check runs under both.
using KeptMedian = decltype(&Fixture::floor_ms);

// One row of the table: a step timed after each reset of its workload.
struct Step {
  const char* name;                                         // as Label takes it
  int (*timed)(const Fixture& f, double* ms);               // 0 when it went wrong (said why)
  std::string (*derived)(const Fixture& f, double median);  // null: none
  const char* expected;
  KeptMedian kept;  // where later rows find this median, or null
};

// A workload: the fixture it builds, what every timed run starts from, the
// product's steps and, after them, the same platform calls alone.
struct Workload {
  const char* name;
  void (*build)(Fixture& f);  // a failed call shows in f.failures
  int (*reset)(const Fixture& f);
  std::vector<Step> steps;
};

struct Figure {
  std::string name;
  double median;
  std::string derived;
  std::string expected;
};

int Fail(const std::string& what) {
  fprintf(stderr, "bench: %s\n", what.c_str());
  return 0;
}

double Now() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

std::string Beside(const char* name) {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(NULL, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

// 10000 as "10,000".
std::string Count(unsigned long n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string Counted(unsigned long n, const char* one, const char* more) {
  return Count(n) + " " + (n == 1 ? one : more);
}

std::string Over(double ms, double floor) {
  char text[48];
  snprintf(text, sizeof text, "%.2f ms over floor", ms - floor);
  return text;
}

std::string PerUnit(double ms, unsigned long units, const char* unit) {
  return std::to_string(static_cast<int>(ms * 1000.0 / units)) + " us/" + unit;
}

std::string Percent(double part, double whole, const char* of) {
  return std::to_string(static_cast<int>(part * 100.0 / whole)) + "% of " + of;
}

// text as a JSON string: quoted, with '"', '\' and control characters
// escaped. Other bytes pass as they are (the table's texts are ASCII).
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Set-up ---------------------------------------------------------------------

// The product's record, open for queries while the object lives; the key is
// null (and the reason printed) when it cannot be opened.
class ProductRecord {
 public:
  explicit ProductRecord(const Fixture& f) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, f.product.c_str(), 0, KEY_QUERY_VALUE, &key_) !=
        ERROR_SUCCESS) {
      key_ = NULL;
      Fail("cannot open " + f.product);
    }
  }
  virtual ~ProductRecord() {
    if (key_ != NULL) RegCloseKey(key_);
  }
  ProductRecord(const ProductRecord&) = delete;
  ProductRecord& operator=(const ProductRecord&) = delete;

  HKEY key() const { return key_; }

 private:
  HKEY key_ = NULL;
};

// Removes every installation record and checks that none is left, so that
// each workload's counts are its own.
int ClearRecords() {
  testing_support::RemoveVarnexKey();
  HKEY left = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varnex", 0, KEY_READ, &left) == ERROR_SUCCESS) {
    RegCloseKey(left);
    return Fail("cannot remove HKLM\\SOFTWARE\\Varnex");
  }
  return 1;
}

// Installation folders with the four skins, which become the product's targets.
void MakeInstalls(Fixture& f, const std::vector<std::string>& folders) {
  f.installs.clear();
  for (const std::string& folder : folders) {
    f.tree.MakeInstall(folder, AllSkins());
    f.installs.push_back(f.tree.Path(folder));
  }
}

// The product's record under `name`, listing f.installs, with the TargetNum given.
void MakeProduct(Fixture& f, const char* name, DWORD target_num) {
  Record record(name);
  record.MakeProduct(f.installs);
  if (target_num != f.installs.size()) record.SetDword("TargetNum", target_num);
  f.product = record.path();
}

// Reads back what the workload built: how many records there are, how many
// values the product's record holds and its TargetNum.
int TakeCounts(Fixture& f) {
  f.records = f.values = f.target_num = 0;
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalledPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return f.product.empty() ? 1 : Fail("no installation records");
  }
  LONG status =
      RegQueryInfoKeyA(key, NULL, NULL, NULL, &f.records, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return Fail("cannot count the installation records");
  ProductRecord record(f);
  if (record.key() == NULL) return 0;
  DWORD type = 0, size = sizeof f.target_num;
  status = RegQueryInfoKeyA(record.key(), NULL, NULL, NULL, NULL, NULL, NULL, &f.values, NULL, NULL,
                            NULL, NULL);
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExA(record.key(), "TargetNum", NULL, &type,
                              reinterpret_cast<BYTE*>(&f.target_num), &size);
  }
  if (status != ERROR_SUCCESS || type != REG_DWORD) return Fail("cannot read " + f.product);
  return 1;
}

int DeleteConfigs(const Fixture& f) {
  for (const std::string& install : f.installs) {
    std::string config = install + "\\Bin\\config.ini";
    if (!DeleteFileA(config.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      return Fail("cannot delete " + config);
    }
  }
  return 1;
}

int NoReset(const Fixture&) { return 1; }

void BuildNothing(Fixture& f) {
  f.installs.clear();
  f.product.clear();
}

void BuildOneTarget(Fixture& f) {
  MakeInstalls(f, {"One"});
  MakeProduct(f, "Product", 1);
}

// Records that are not the product's, named to be listed before it.
const DWORD kOtherRecords = 10000;

void BuildManyRecords(Fixture& f) {
  for (DWORD i = 0; i < kOtherRecords && f.failures.count() == 0; ++i) {
    char name[16];
    wsprintfA(name, "Other%05lu", i);
    Record(name).SetString("SoftWareID", "Varnex_Other");
  }
  MakeInstalls(f, {"One"});
  MakeProduct(f, "ZProduct", 1);
}

void BuildManyTargets(Fixture& f) {
  std::vector<std::string> folders;
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    wsprintfA(name, "Many\\T%04d", i);
    folders.push_back(name);
  }
  MakeInstalls(f, folders);
  MakeProduct(f, "Product", static_cast<DWORD>(folders.size()));
}

// A config file of 1 MiB whose keys stand at its end, other values first.
void BuildLargeConfig(Fixture& f) {
  f.config.clear();
  for (int i = 0; f.config.size() < 1024 * 1024; ++i) {
    char line[96];
    wsprintfA(line, "[Lesson%05d]\r\nTitle=lesson %d of the course\r\nScore=%d\r\n", i, i, i % 97);
    f.config += line;
  }
  f.config +=
      "[Setting Infor]\r\nUILangFlag=0\r\nFollowReadNum=0\r\nDelayPlayTimeInHearingMode=0\r\n"
      "[Skin Infor]\r\nUIStyleFlag=1\r\nSkinConfig0=x\r\nSkinConfig1=x\r\nSkinConfig2=x\r\n"
      "SkinConfig3=x\r\n";
  MakeInstalls(f, {"One"});
  MakeProduct(f, "Product", 1);
}

int ResetLargeConfig(const Fixture& f) {
  f.tree.WriteFile("One\\Bin\\config.ini", f.config);
  return f.failures.count() == 0;
}

void BuildHugeCount(Fixture& f) {
  MakeInstalls(f, {"One", "Two"});
  MakeProduct(f, "Product", 0x7FFFFFFF);
}

// TargetNum 20,001, real targets at 0 and 20,000, a REG_DWORD at every odd
// index and nothing at the even ones between.
void BuildSparse(Fixture& f) {
  MakeInstalls(f, {"One", "Two"});
  const DWORD last = 20000;
  Record record("Product");
  record.MakeProduct({f.installs[0]});
  record.SetDword("TargetNum", last + 1);
  for (DWORD i = 1; i < last && f.failures.count() == 0; i += 2) {
    record.SetDword("Target" + std::to_string(i), i);
  }
  record.SetString("Target" + std::to_string(last), f.installs[1]);
  f.product = record.path();
}

// Timed steps ----------------------------------------------------------------

// Start to exit of a program, started in the tree's root; it must end with 0.
int TimeProcess(const std::string& program, const Fixture& f, double* ms) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string command = "\"" + program + "\"";
  double start = Now();
  if (!CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL,
                      f.tree.root().c_str(), &startup, &process)) {
    return Fail("cannot start " + program + " (" + std::to_string(GetLastError()) + ")");
  }
  DWORD waited = WaitForSingleObject(process.hProcess, INFINITE);
  *ms = Now() - start;
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (waited != WAIT_OBJECT_0 || code != 0) {
    return Fail(program + " ended with " + std::to_string(code));
  }
  return 1;
}

int TimeFloor(const Fixture& f, double* ms) {
  return TimeProcess(Beside("bench_floor.exe"), f, ms);
}

int TimeRegistryFloor(const Fixture& f, double* ms) {
  return TimeProcess(Beside("bench_floor_registry.exe"), f, ms);
}

int TimePatcher(const Fixture& f, double* ms) { return TimeProcess(f.patcher, f, ms); }

// One Run in-process, as the entry makes it; every target must be updated.
int TimeRun(const Fixture&, double* ms) {
  InstallLocator locator;
  ConfigIni config;
  double start = Now();
  int result = locator.Run(UpdateTargetConfig, &config);
  *ms = Now() - start;
  return result == 1 ? 1 : Fail("Run gave " + std::to_string(result) + ", not 1");
}

int CountCall(const char*, const char*, void* calls) {
  ++*static_cast<DWORD*>(calls);
  return 1;
}

int TimeWalk(const Fixture& f, double* ms) {
  InstallLocator locator;
  DWORD calls = 0;
  double start = Now();
  int result = locator.ForEachTarget(f.product.c_str(), "TargetNum", "Target", CountCall, &calls);
  *ms = Now() - start;
  if (result != 1 || calls != f.installs.size()) {
    return Fail("the walk gave " + std::to_string(result) + " with " + std::to_string(calls) +
                " calls, not 1 with " + std::to_string(f.installs.size()));
  }
  return 1;
}

// The lookup's platform calls alone: enumerate, open, two queries, close.
int TimeRecordCalls(const Fixture& f, double* ms) {
  HKEY parent = NULL;
  double start = Now();
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalledPath, 0, KEY_ENUMERATE_SUB_KEYS, &parent) !=
      ERROR_SUCCESS) {
    return Fail("cannot open the installation records");
  }
  DWORD opened = 0;
  LONG status = ERROR_SUCCESS;
  for (DWORD i = 0;; ++i) {
    char name[MAX_PATH];
    DWORD size = sizeof name;
    status = RegEnumKeyExA(parent, i, name, &size, NULL, NULL, NULL, NULL);
    if (status != ERROR_SUCCESS) break;
    std::string path = std::string(kInstalledPath) + "\\" + name;
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
      BYTE data[MAX_PATH];
      DWORD type = 0, length = 0;
      RegQueryValueExA(key, "SoftWareID", NULL, &type, NULL, &length);
      length = sizeof data;
      RegQueryValueExA(key, "SoftWareID", NULL, &type, data, &length);
      RegCloseKey(key);
      ++opened;
    }
  }
  RegCloseKey(parent);
  *ms = Now() - start;
  if (status != ERROR_NO_MORE_ITEMS || opened != f.records) {
    return Fail("listed " + std::to_string(opened) + " of " + std::to_string(f.records) +
                " records");
  }
  return 1;
}

// One of the update's profile writes into config. Returns 1 when it was made.
int Write(const testing_support::ConfigWrite& write, const std::string& config) {
  return WritePrivateProfileStringA(write.section, write.key, write.value, config.c_str()) != 0;
}

// The update's file calls alone, for each target: attributes, the settings'
// writes, then a probe before each skin's entry.
int TimeFileCalls(const Fixture& f, double* ms) {
  const size_t settings = kUpdateWriteCount - AllSkins().size();
  int written = 1;
  double start = Now();
  for (const std::string& target : f.installs) {
    std::string config = target + "\\Bin\\config.ini";
    SetFileAttributesA(config.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (size_t w = 0; w < settings; ++w) written &= Write(kUpdateWrites[w], config);
    for (size_t k = 0; k < AllSkins().size(); ++k) {
      WIN32_FIND_DATAA found;
      HANDLE search = FindFirstFileA((target + "\\Bin\\Res\\" + AllSkins()[k]).c_str(), &found);
      if (search == INVALID_HANDLE_VALUE) {
        written = 0;
        continue;
      }
      written &= Write(kUpdateWrites[settings + k], config);
      FindClose(search);
    }
  }
  *ms = Now() - start;
  return written ? 1 : Fail("a profile write or a skin probe failed");
}

// The update's writes into one config file alone, in its order.
int TimeWrites(const Fixture& f, double* ms) {
  std::string config = f.installs[0] + "\\Bin\\config.ini";
  int written = 1;
  double start = Now();
  for (int w = 0; w < kUpdateWriteCount; ++w) written &= Write(kUpdateWrites[w], config);
  *ms = Now() - start;
  return written ? 1 : Fail("a profile write into " + config + " failed");
}

// The plain walk's calls: one query for each index below TargetNum.
int TimeIndexQueries(const Fixture& f, double* ms) {
  ProductRecord record(f);
  if (record.key() == NULL) return 0;
  DWORD found = 0;
  double start = Now();
  for (DWORD i = 0; i < f.target_num; ++i) {
    char name[32];
    wsprintfA(name, "Target%lu", i);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(record.key(), name, NULL, &type, NULL, &size) == ERROR_SUCCESS) ++found;
  }
  *ms = Now() - start;
  // All the record's values but SoftWareID and TargetNum are targets.
  if (found != f.values - 2) return Fail("found " + std::to_string(found) + " targets");
  return 1;
}

// One pass over the record's values with their types.
int TimeValuePass(const Fixture& f, double* ms) {
  ProductRecord record(f);
  if (record.key() == NULL) return 0;
  DWORD listed = 0;
  LONG status = ERROR_SUCCESS;
  double start = Now();
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof name, type = 0;
    status = RegEnumValueA(record.key(), i, name, &size, NULL, &type, NULL, NULL);
    if (status != ERROR_SUCCESS) break;
    ++listed;
  }
  *ms = Now() - start;
  if (status != ERROR_NO_MORE_ITEMS || listed != f.values) {
    return Fail("listed " + std::to_string(listed) + " of " + std::to_string(f.values) + " values");
  }
  return 1;
}

// The table ------------------------------------------------------------------

// A row's name with the fixture's counts put in: {records}, {others} (the
// records before the product's), {targets} (the folders its record lists),
// {count} and {hex count} (its TargetNum), {values}, {skins}, {writes} (the
// update's profile writes into one file) and {MiB} (the large config's size).
std::string Label(const char* pattern, const Fixture& f) {
  char hex[16];
  wsprintfA(hex, "0x%lX", f.target_num);
  const std::pair<std::string, std::string> counts[] = {
      {"records", Counted(f.records, "record", "records")},
      {"others", Counted(f.records - 1, "record", "records")},
      {"targets", Counted(f.installs.size(), "target", "targets")},
      {"count", Count(f.target_num)},
      {"hex count", hex},
      {"values", Counted(f.values, "value", "values")},
      {"skins", Counted(AllSkins().size(), "skin", "skins")},
      {"writes", Count(kUpdateWriteCount)},
      {"MiB", Count(f.config.size() / (1024 * 1024))}};
  std::string label = pattern;
  for (const auto& count : counts) {
    std::string field = "{" + count.first + "}";
    for (size_t at; (at = label.find(field)) != std::string::npos;) {
      label.replace(at, field.size(), count.second);
    }
  }
  return label;
}

std::string OverFloor(const Fixture& f, double ms) { return Over(ms, f.floor_ms); }
std::string PerOtherRecord(const Fixture& f, double ms) {
  return PerUnit(ms - f.one_target_ms, f.records - 1, "record");
}
std::string PerRecord(const Fixture& f, double ms) { return PerUnit(ms, f.records, "record"); }
std::string PerTarget(const Fixture& f, double ms) {
  return PerUnit(ms, f.installs.size(), "target");
}
std::string OfTheWrites(const Fixture& f, double ms) {
  return Percent(ms, f.writes_ms, ("its " + Count(kUpdateWriteCount) + " writes").c_str());
}
std::string OfTheQueries(const Fixture& f, double ms) {
  return Percent(ms, f.queries_ms, "the plain queries");
}

// The product's steps come first in each workload, the platform-only
// baselines after them; rows given relative to a baseline take it from a
// median kept in the fixture.
const std::vector<Workload>& Workloads() {
  static const std::vector<Workload> workloads = {
      {"floor",
       BuildNothing,
       NoReset,
       {{"floor: trivial GUI program, start to exit", TimeFloor, nullptr, "-", &Fixture::floor_ms},
        {"same, also loading the registry DLL", TimeRegistryFloor, OverFloor, "-", nullptr}}},
      {"one target",
       BuildOneTarget,
       DeleteConfigs,
       {{"patcher run, {targets}, {skins} (process, no box)", TimePatcher, OverFloor,
         "within 3 ms of floor", nullptr},
        {"Run in-process, {targets}, {skins}", TimeRun, nullptr, "about 2 ms",
         &Fixture::one_target_ms}}},
      {"many records",
       BuildManyRecords,
       DeleteConfigs,
       {{"Run, {others} before the product's", TimeRun, PerOtherRecord, "about 20 us/record",
         nullptr},
        {"platform calls alone, {records}", TimeRecordCalls, PerRecord, "-", nullptr}}},
      {"many targets",
       BuildManyTargets,
       DeleteConfigs,
       {{"Run, {targets}", TimeRun, PerTarget, "about 2 ms/target", nullptr},
        {"platform calls alone, {targets}", TimeFileCalls, PerTarget, "-", nullptr}}},
      {"large config",
       BuildLargeConfig,
       ResetLargeConfig,
       {{"Run, {MiB} MiB config, keys at its end", TimeRun, OfTheWrites, "little over its writes",
         nullptr},
        {"{writes} profile writes alone, {MiB} MiB config", TimeWrites, nullptr, "-",
         &Fixture::writes_ms}}},
      {"huge count",
       BuildHugeCount,
       DeleteConfigs,
       {{"Run in-process, TargetNum {hex count}, {targets}", TimeRun, nullptr, "-", nullptr},
        {"patcher run, TargetNum {hex count}, {targets} (process)", TimePatcher, OverFloor,
         "within 10 ms of floor", nullptr}}},
      {"sparse record",
       BuildSparse,
       DeleteConfigs,
       {{"ForEachTarget, sparse TargetNum {count}, no update", TimeWalk, OfTheQueries,
         "close to the one pass", nullptr},
        {"Run, sparse TargetNum {count}, {targets} updated", TimeRun, nullptr, "-", nullptr},
        {"platform calls alone: {count} queries (the plain walk)", TimeIndexQueries, nullptr, "-",
         &Fixture::queries_ms},
        {"platform calls alone: one pass over its {values}", TimeValuePass, nullptr, "-",
         nullptr}}},
  };
  return workloads;
}

// The median of `runs` timed runs of a step, each after the workload's reset,
// after one untimed run that warms caches and creates files.
int Measure(const Fixture& f, const Workload& workload, const Step& step, int runs,
            double* median) {
  std::vector<double> times;
  double ms = 0;
  if (!step.timed(f, &ms)) return 0;
  for (int i = 0; i < runs; ++i) {
    if (!workload.reset(f) || f.failures.count() > 0) return Fail("cannot reset the fixture");
    if (!step.timed(f, &ms)) return 0;
    times.push_back(ms);
  }
  *median = Median(times);
  return 1;
}

int WriteJson(const std::string& path, int runs, DWORD exe_bytes, double floor,
              const std::vector<Figure>& figures) {
  FILE* json = fopen(path.c_str(), "w");
  if (json == NULL) return Fail("cannot write " + path);
  fprintf(json,
          "{\n  \"runs\": %d,\n  \"exe_bytes\": %lu,\n  \"floor_ms\": %.4f,\n  \"figures\": [\n",
          runs, exe_bytes, floor);
  for (size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    fprintf(json,
            "    {\"name\": %s, \"median_ms\": %.4f, \"ratio_to_floor\": %.4f, "
            "\"derived\": %s, \"expected\": %s}%s\n",
            JsonString(f.name).c_str(), f.median, f.median / floor, JsonString(f.derived).c_str(),
            JsonString(f.expected).c_str(), i + 1 < figures.size() ? "," : "");
  }
  fprintf(json, "  ]\n}\n");
  int failed = ferror(json);
  if (fclose(json) != 0 || failed) return Fail("cannot write " + path);
  return 1;
}

int RunBench(int runs, const SetupFailures& failures) {
  Fixture f(failures);
  if (f.tree.root().empty()) return Fail("cannot create a temporary folder");
  f.patcher = Beside("OrvaneSP1.exe");
  WIN32_FILE_ATTRIBUTE_DATA exe = {};
  if (!GetFileAttributesExA(f.patcher.c_str(), GetFileExInfoStandard, &exe)) {
    return Fail("no " + f.patcher);
  }

  std::vector<Figure> figures;
  for (const Workload& workload : Workloads()) {
    if (!ClearRecords()) return 0;
    workload.build(f);
    if (failures.count() > 0 || !TakeCounts(f)) {
      return Fail(std::string("the ") + workload.name + " workload could not be built");
    }
    std::vector<double> medians;
    for (const Step& step : workload.steps) {
      double median = 0;
      if (!Measure(f, workload, step, runs, &median)) {
        return Fail(std::string("the ") + workload.name + " workload stopped");
      }
      if (step.kept != nullptr) f.*step.kept = median;
      medians.push_back(median);
    }
    // Derived after the whole workload: a row may be given relative to a
    // baseline timed after it.
    for (size_t k = 0; k < workload.steps.size(); ++k) {
      const Step& step = workload.steps[k];
      figures.push_back({Label(step.name, f), medians[k],
                         step.derived != nullptr ? step.derived(f, medians[k]) : "",
                         step.expected});
    }
  }
  if (!ClearRecords()) return 0;

  printf("%-56s %10s %8s  %-26s %s\n", "figure (median of runs)", "ms", "x floor", "derived",
         "expected");
  for (const Figure& figure : figures) {
    printf("%-56s %10.3f %8.2f  %-26s %s\n", figure.name.c_str(), figure.median,
           figure.median / f.floor_ms, figure.derived.c_str(), figure.expected.c_str());
  }
  printf("OrvaneSP1.exe size: %lu bytes (expected under 40 KiB); %d timed runs each\n",
         exe.nFileSizeLow, runs);
  std::string json = Beside("bench.json");
  if (!WriteJson(json, runs, exe.nFileSizeLow, f.floor_ms, figures)) return 0;
  printf("written: %s\n", json.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? atoi(argv[1]) : 7;
  if (runs < 5) runs = 5;
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  delete listeners.Release(listeners.default_result_printer());
  SetupFailures* failures = new SetupFailures;
  listeners.Append(failures);  // GoogleTest owns it from here
  int done = RunBench(runs, *failures);
  testing_support::RemoveVarnexKey();
  return done ? 0 : 1;
}
