// Times the patcher at scale inside the Wine process with
// QueryPerformanceCounter: its whole run as a process against the start and
// exit of a trivial GUI program (the floor), and in-process runs over 10,000
// records, 1,000 targets, a 1 MiB config file, a huge target count and a
// sparse record whose count is twice its values. Prints a table of medians
// and writes it as JSON beside this program.
// Usage: orvane_bench [RUNS]   (default 7, at least 5)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "config/config_ini.h"
#include "discovery/install_locator.h"

namespace {

const char kInstalled[] = "SOFTWARE\\Varnex\\SoftWareInstalled";

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

void RemoveRecords() {
  HKEY software = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software) != 0) return;
  RegDeleteTreeA(software, "Varnex");
  RegDeleteKeyA(software, "Varnex");
  RegCloseKey(software);
}

HKEY MakeRecord(const std::string& name, const char* id) {
  HKEY key = NULL;
  std::string path = std::string(kInstalled) + "\\" + name;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
  RegSetValueExA(key, "SoftWareID", 0, REG_SZ, reinterpret_cast<const BYTE*>(id),
                 static_cast<DWORD>(strlen(id) + 1));
  return key;
}

void SetTargets(HKEY key, DWORD count, const std::vector<std::string>& targets) {
  RegSetValueExA(key, "TargetNum", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4);
  for (size_t i = 0; i < targets.size(); ++i) {
    std::string name = "Target" + std::to_string(i);
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(targets[i].c_str()),
                   static_cast<DWORD>(targets[i].size() + 1));
  }
}

void WriteWhole(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
  CloseHandle(file);
}

// An installation folder with its four skins and no config file.
std::string MakeInstall(const std::string& folder) {
  CreateDirectoryA(folder.c_str(), NULL);
  CreateDirectoryA((folder + "\\Bin").c_str(), NULL);
  CreateDirectoryA((folder + "\\Bin\\Res").c_str(), NULL);
  static const char* const kSkins[] = {"skinSinE.ini", "skinCorE.ini", "skinSinC.ini",
                                       "skinCorC.ini"};
  for (const char* skin : kSkins) WriteWhole(folder + "\\Bin\\Res\\" + skin, "[Skin]\r\n");
  return folder;
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + "\\" + name);
      } else {
        DeleteFileA((path + "\\" + name).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// Start to exit of a program, in milliseconds.
double TimeProcess(const std::string& program, const std::string& folder) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string command = "\"" + program + "\"";
  double start = Now();
  if (!CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(),
                      &startup, &process)) {
    fprintf(stderr, "bench: cannot start %s (%lu)\n", program.c_str(), GetLastError());
    exit(1);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  double elapsed = Now() - start;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return elapsed;
}

double TimeRun(int expected) {
  InstallLocator locator;
  ConfigIni config;
  double start = Now();
  int result = locator.Run(UpdateTargetConfig, &config);
  double elapsed = Now() - start;
  if (result != expected) {
    fprintf(stderr, "bench: run gave %d, expected %d\n", result, expected);
    exit(1);
  }
  return elapsed;
}

std::string Over(double ms, double floor) {
  char text[48];
  snprintf(text, sizeof text, "%.2f ms over floor", ms - floor);
  return text;
}

struct Figure {
  std::string name;
  double median;
  std::string unit;  // per-unit figure, e.g. "21.3 us/record"
  std::string expected;
};

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? atoi(argv[1]) : 7;
  if (runs < 5) runs = 5;
  char temp[MAX_PATH] = {0};
  GetTempPathA(sizeof temp, temp);
  std::string root = std::string(temp) + "orvane-bench";
  RemoveTree(root);
  RemoveRecords();
  CreateDirectoryA(root.c_str(), NULL);
  const std::string patcher = Beside("OrvaneSP1.exe");
  std::vector<Figure> figures;
  auto measure = [&](const std::function<void()>& reset, const std::function<double()>& timed) {
    std::vector<double> times;
    timed();  // warm-up: caches, first file creation
    for (int i = 0; i < runs; ++i) {
      reset();
      times.push_back(timed());
    }
    return Median(times);
  };
  auto nothing = [] {};

  // The floor: a trivial GUI program's start to exit.
  std::string floor_exe = Beside("bench_floor.exe");
  double floor = measure(nothing, [&] { return TimeProcess(floor_exe, root); });
  figures.push_back({"floor: trivial GUI program, start to exit", floor, "", "-"});
  std::string registry_exe = Beside("bench_floor_registry.exe");
  double registry_floor = measure(nothing, [&] { return TimeProcess(registry_exe, root); });
  figures.push_back(
      {"same, also loading the registry DLL", registry_floor, Over(registry_floor, floor), "-"});

  // One target with four skins, as a process and in-process.
  std::string one = MakeInstall(root + "\\One");
  std::string one_config = one + "\\Bin\\config.ini";
  HKEY product = MakeRecord("Product", "Varnex_Quendal");
  SetTargets(product, 1, {one});
  auto reset_one = [&] { DeleteFileA(one_config.c_str()); };
  double whole = measure(reset_one, [&] { return TimeProcess(patcher, root); });
  figures.push_back({"patcher run, 1 target, 4 skins (process, no box)", whole, Over(whole, floor),
                     "within 3 ms of floor"});
  double single = measure(reset_one, [&] { return TimeRun(1); });
  figures.push_back({"Run in-process, 1 target, 4 skins", single, "", "about 2 ms"});

  // 10,000 other records before the product's own (enumerated by name).
  RegCloseKey(product);
  RemoveRecords();
  for (int i = 0; i < 10000; ++i) {
    char name[16];
    wsprintfA(name, "Other%05d", i);
    RegCloseKey(MakeRecord(name, "Varnex_Other"));
  }
  product = MakeRecord("ZProduct", "Varnex_Quendal");
  SetTargets(product, 1, {one});
  double records = measure(reset_one, [&] { return TimeRun(1); });
  char per[64];
  wsprintfA(per, "%d us/record", static_cast<int>((records - single) * 1000.0 / 10000.0));
  figures.push_back(
      {"Run, 10,000 records before the product's", records, per, "about 20 us/record"});
  // The same platform calls alone: enumerate, open, two queries, close.
  double raw_records = measure(nothing, [&] {
    double start = Now();
    HKEY parent = NULL;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalled, 0, KEY_ENUMERATE_SUB_KEYS, &parent);
    char name[MAX_PATH];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(parent, i, name, &size, NULL, NULL, NULL, NULL) != 0) break;
      std::string path = std::string(kInstalled) + "\\" + name;
      HKEY key = NULL;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) == 0) {
        BYTE data[MAX_PATH];
        DWORD type = 0, length = 0;
        RegQueryValueExA(key, "SoftWareID", NULL, &type, NULL, &length);
        length = sizeof data;
        RegQueryValueExA(key, "SoftWareID", NULL, &type, data, &length);
        RegCloseKey(key);
      }
    }
    RegCloseKey(parent);
    return Now() - start;
  });
  wsprintfA(per, "%d us/record", static_cast<int>(raw_records * 1000.0 / 10001.0));
  figures.push_back({"platform calls alone, 10,001 records", raw_records, per, "-"});
  RegCloseKey(product);
  RemoveRecords();

  // 1,000 targets.
  std::vector<std::string> targets;
  CreateDirectoryA((root + "\\Many").c_str(), NULL);
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    wsprintfA(name, "\\Many\\T%04d", i);
    targets.push_back(MakeInstall(root + name));
  }
  product = MakeRecord("Product", "Varnex_Quendal");
  SetTargets(product, 1000, targets);
  auto reset_many = [&] {
    for (const std::string& target : targets) DeleteFileA((target + "\\Bin\\config.ini").c_str());
  };
  double many = measure(reset_many, [&] { return TimeRun(1); });
  wsprintfA(per, "%d us/target", static_cast<int>(many * 1000.0 / 1000.0));
  figures.push_back({"Run, 1,000 targets", many, per, "about 2 ms/target"});
  // The same file calls alone: attributes, eight writes, four probes a target.
  double raw_many = measure(reset_many, [&] {
    static const char* const kSkins[] = {"skinSinE.ini", "skinCorE.ini", "skinSinC.ini",
                                         "skinCorC.ini"};
    double start = Now();
    for (const std::string& target : targets) {
      std::string config = target + "\\Bin\\config.ini";
      SetFileAttributesA(config.c_str(), FILE_ATTRIBUTE_NORMAL);
      WritePrivateProfileStringA("Setting Infor", "UILangFlag", "2", config.c_str());
      WritePrivateProfileStringA("Setting Infor", "FollowReadNum", "3", config.c_str());
      WritePrivateProfileStringA("Setting Infor", "DelayPlayTimeInHearingMode", "1500",
                                 config.c_str());
      WritePrivateProfileStringA("Skin Infor", "UIStyleFlag", "0", config.c_str());
      for (int k = 0; k < 4; ++k) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((target + "\\Bin\\Res\\" + kSkins[k]).c_str(), &found);
        char key[32], value[32];
        wsprintfA(key, "SkinConfig%d", k);
        wsprintfA(value, "res\\%s", kSkins[k]);
        WritePrivateProfileStringA("Skin Infor", key, value, config.c_str());
        FindClose(search);
      }
    }
    return Now() - start;
  });
  wsprintfA(per, "%d us/target", static_cast<int>(raw_many * 1000.0 / 1000.0));
  figures.push_back({"platform calls alone, 1,000 targets", raw_many, per, "-"});

  // A config file of 1 MiB whose keys stand at its end, other values first.
  SetTargets(product, 1, {one});
  std::string big;
  for (int i = 0; big.size() < 1024 * 1024; ++i) {
    char line[96];
    wsprintfA(line, "[Lesson%05d]\r\nTitle=lesson %d of the course\r\nScore=%d\r\n", i, i, i % 97);
    big += line;
  }
  big +=
      "[Setting Infor]\r\nUILangFlag=0\r\nFollowReadNum=0\r\nDelayPlayTimeInHearingMode=0\r\n"
      "[Skin Infor]\r\nUIStyleFlag=1\r\nSkinConfig0=x\r\nSkinConfig1=x\r\nSkinConfig2=x\r\n"
      "SkinConfig3=x\r\n";
  auto reset_big = [&] { WriteWhole(one_config, big); };
  double big_run = measure(reset_big, [&] { return TimeRun(1); });
  double eight = measure(reset_big, [&] {
    static const char* const kKeys[][3] = {{"Setting Infor", "UILangFlag", "2"},
                                           {"Setting Infor", "FollowReadNum", "3"},
                                           {"Setting Infor", "DelayPlayTimeInHearingMode", "1500"},
                                           {"Skin Infor", "UIStyleFlag", "0"},
                                           {"Skin Infor", "SkinConfig0", "res\\skinSinE.ini"},
                                           {"Skin Infor", "SkinConfig1", "res\\skinCorE.ini"},
                                           {"Skin Infor", "SkinConfig2", "res\\skinSinC.ini"},
                                           {"Skin Infor", "SkinConfig3", "res\\skinCorC.ini"}};
    double start = Now();
    for (const auto& key : kKeys)
      WritePrivateProfileStringA(key[0], key[1], key[2], one_config.c_str());
    return Now() - start;
  });
  figures.push_back({"eight profile writes alone, 1 MiB config", eight, "", "-"});
  wsprintfA(per, "%d%% of its eight writes", static_cast<int>(big_run * 100.0 / eight));
  figures.push_back({"Run, 1 MiB config, keys at its end", big_run, per, "little over its writes"});

  // TargetNum 0x7FFFFFFF with two real targets, in a record of its own.
  RegCloseKey(product);
  RemoveRecords();
  product = MakeRecord("Product", "Varnex_Quendal");
  std::string two = MakeInstall(root + "\\Two");
  SetTargets(product, 0x7FFFFFFF, {one, two});
  auto reset_two = [&] {
    DeleteFileA(one_config.c_str());
    DeleteFileA((two + "\\Bin\\config.ini").c_str());
  };
  double two_runs = measure(reset_two, [&] { return TimeRun(1); });
  figures.push_back({"Run in-process, TargetNum 0x7FFFFFFF, 2 targets", two_runs, "", "-"});
  double huge = measure(reset_two, [&] { return TimeProcess(patcher, root); });
  figures.push_back({"patcher run, TargetNum 0x7FFFFFFF, 2 targets (process)", huge,
                     Over(huge, floor), "within 10 ms of floor"});
  RegCloseKey(product);
  RemoveRecords();

  // A sparse record: TargetNum 20,001, real targets at 0 and 20,000, a
  // REG_DWORD at every odd index and nothing at the even ones between.
  product = MakeRecord("Product", "Varnex_Quendal");
  SetTargets(product, 20001, {one});
  for (int i = 1; i < 20000; i += 2) {
    char name[32];
    wsprintfA(name, "Target%d", i);
    DWORD value = static_cast<DWORD>(i);
    RegSetValueExA(product, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  RegSetValueExA(product, "Target20000", 0, REG_SZ, reinterpret_cast<const BYTE*>(two.c_str()),
                 static_cast<DWORD>(two.size() + 1));
  const std::string sparse_path = std::string(kInstalled) + "\\Product";
  auto no_update = [](const char*, const char*, void* calls) {
    ++*static_cast<int*>(calls);
    return 1;
  };
  double sparse_walk = measure(nothing, [&] {
    InstallLocator locator;
    int calls = 0;
    double start = Now();
    int result =
        locator.ForEachTarget(sparse_path.c_str(), "TargetNum", "Target", no_update, &calls);
    double elapsed = Now() - start;
    if (result != 1 || calls != 2) {
      fprintf(stderr, "bench: sparse walk gave %d with %d calls\n", result, calls);
      exit(1);
    }
    return elapsed;
  });
  double sparse_run = measure(reset_two, [&] { return TimeRun(1); });
  // What the walk is measured against: one query for each of the 20,001
  // indices, and one pass over the record's values with their types.
  double plain_queries = measure(nothing, [&] {
    HKEY key = NULL;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, sparse_path.c_str(), 0, KEY_QUERY_VALUE, &key);
    double start = Now();
    for (int i = 0; i < 20001; ++i) {
      char name[32];
      wsprintfA(name, "Target%d", i);
      DWORD type = 0, size = 0;
      RegQueryValueExA(key, name, NULL, &type, NULL, &size);
    }
    double elapsed = Now() - start;
    RegCloseKey(key);
    return elapsed;
  });
  double one_pass = measure(nothing, [&] {
    HKEY key = NULL;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, sparse_path.c_str(), 0, KEY_QUERY_VALUE, &key);
    double start = Now();
    for (DWORD i = 0;; ++i) {
      char name[64];
      DWORD size = sizeof name, type = 0;
      if (RegEnumValueA(key, i, name, &size, NULL, &type, NULL, NULL) != 0) break;
    }
    double elapsed = Now() - start;
    RegCloseKey(key);
    return elapsed;
  });
  figures.push_back(
      {"platform calls alone: 20,001 queries (the plain walk)", plain_queries, "", "-"});
  figures.push_back({"platform calls alone: one pass over its 10,004 values", one_pass, "", "-"});
  wsprintfA(per, "%d%% of the plain queries",
            static_cast<int>(sparse_walk * 100.0 / plain_queries));
  figures.push_back({"ForEachTarget, sparse TargetNum 20,001, no update", sparse_walk, per,
                     "close to the one pass"});
  figures.push_back({"Run, sparse TargetNum 20,001, 2 targets updated", sparse_run, "", "-"});
  RegCloseKey(product);
  RemoveRecords();
  RemoveTree(root);

  WIN32_FILE_ATTRIBUTE_DATA exe = {};
  GetFileAttributesExA(patcher.c_str(), GetFileExInfoStandard, &exe);

  printf("%-56s %10s %8s  %-26s %s\n", "figure (median of runs)", "ms", "x floor", "derived",
         "expected");
  for (const Figure& f : figures) {
    printf("%-56s %10.3f %8.2f  %-26s %s\n", f.name.c_str(), f.median, f.median / floor,
           f.unit.c_str(), f.expected.c_str());
  }
  printf("OrvaneSP1.exe size: %lu bytes (expected under 40 KiB); %d timed runs each\n",
         exe.nFileSizeLow, runs);

  std::string json_path = Beside("bench.json");
  FILE* json = fopen(json_path.c_str(), "w");
  if (json == NULL) return 1;
  fprintf(json,
          "{\n  \"runs\": %d,\n  \"exe_bytes\": %lu,\n  \"floor_ms\": %.4f,\n  \"figures\": [\n",
          runs, exe.nFileSizeLow, floor);
  for (size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    fprintf(json,
            "    {\"name\": \"%s\", \"median_ms\": %.4f, \"ratio_to_floor\": %.4f, "
            "\"derived\": \"%s\", \"expected\": \"%s\"}%s\n",
            f.name.c_str(), f.median, f.median / floor, f.unit.c_str(), f.expected.c_str(),
            i + 1 < figures.size() ? "," : "");
  }
  fprintf(json, "  ]\n}\n");
  fclose(json);
  printf("written: %s\n", json_path.c_str());
  return 0;
}
