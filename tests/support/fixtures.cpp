// Registry and file-tree fixtures for the tests.
#include "tests/support/fixtures.h"

#include <algorithm>

#include "driver/text_helpers.h"

namespace testing_support {

const char kInstalledPath[] = "SOFTWARE\\Varnex\\SoftWareInstalled";
const char kProductId[] = "Varnex_Quendal";
const char kMissing[] = "<missing>";
const char kUntouchedConfig[] = "[Keep]\r\nOwner=user\r\n";

void RemoveVarnexKey(REGSAM view) {
  HKEY software = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeA(software, "Varnex");
  RegDeleteKeyExA(software, "Varnex", view, 0);
  RegCloseKey(software);
}

bool HasOneRegistryView() {
  // The native architecture, not this process's: a 32-bit test program on
  // 64-bit Windows runs under WoW64 and has both views.
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  return native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL;
}

const char kOneViewSkip[] =
    "32-bit Windows has one registry view: no key is in the 64-bit view only";

::testing::AssertionResult SeesBothRegistryViews() {
#ifdef _WIN64
  return ::testing::AssertionSuccess();
#else
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
    return ::testing::AssertionFailure() << "IsWow64Process failed: " << GetLastError();
  }
  if (!wow64) {
    return ::testing::AssertionFailure() << "a 32-bit program on 64-bit Windows runs under WoW64";
  }
  return ::testing::AssertionSuccess();
#endif
}

Record::Record(const std::string& subkey, REGSAM view)
    : path_(std::string(kInstalledPath) + "\\" + subkey) {
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, NULL, 0,
                                KEY_ALL_ACCESS | view, NULL, &key_, NULL);
  EXPECT_EQ(ERROR_SUCCESS, status) << path_;
}

Record::~Record() {
  if (key_ != NULL) RegCloseKey(key_);
}

void Record::SetRaw(const std::string& name, DWORD type, const void* data, DWORD size) {
  LONG status = RegSetValueExA(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  EXPECT_EQ(ERROR_SUCCESS, status) << name;
}

void Record::SetString(const std::string& name, const std::string& text) {
  SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void Record::SetDword(const std::string& name, DWORD value) {
  SetRaw(name, REG_DWORD, &value, sizeof value);
}

void Record::MakeProduct(const std::vector<std::string>& targets) {
  SetString("SoftWareID", kProductId);
  SetDword("TargetNum", static_cast<DWORD>(targets.size()));
  for (size_t i = 0; i < targets.size(); ++i) {
    SetString("Target" + std::to_string(i), targets[i]);
  }
}

TempTree::TempTree() {
  char base[MAX_PATH] = {0};
  GetTempPathA(sizeof base, base);
  static unsigned counter = 0;
  for (;;) {
    char name[MAX_PATH] = {0};
    wsprintfA(name, "%sorvane-%lu-%u", base, GetCurrentProcessId(), ++counter);
    if (CreateDirectoryA(name, NULL)) {
      root_ = name;
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create " << name;
      break;
    }
  }
}

TempTree::~TempTree() {
  if (!root_.empty()) RemoveTree(root_);
}

std::string TempTree::Path(const std::string& relative) const { return root_ + "\\" + relative; }

void TempTree::MakeDir(const std::string& relative) const {
  std::string path = root_;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of("\\/", start);
    if (end == std::string::npos) end = relative.size();
    path += "\\" + relative.substr(start, end - start);
    CreateDirectoryA(path.c_str(), NULL);
    start = end + 1;
  }
}

void TempTree::WriteFile(const std::string& relative, const std::string& content) const {
  size_t slash = relative.find_last_of("\\/");
  if (slash != std::string::npos) MakeDir(relative.substr(0, slash));
  HANDLE file = CreateFileA(Path(relative).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << relative;
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
  CloseHandle(file);
  EXPECT_EQ(content.size(), written) << relative;
}

std::string TempTree::ReadFile(const std::string& relative) const {
  return ReadWholeFile(Path(relative));
}

bool TempTree::Exists(const std::string& relative) const {
  return GetFileAttributesA(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TempTree::MakeInstall(const std::string& relative,
                           const std::vector<std::string>& skins) const {
  MakeDir(relative + "\\Bin\\Res");
  for (const std::string& skin : skins) {
    WriteFile(relative + "\\Bin\\Res\\" + skin, "[Skin]\r\nName=" + skin + "\r\n");
  }
}

const std::vector<std::string>& AllSkins() {
  static const std::vector<std::string> skins = {"skinSinE.ini", "skinCorE.ini", "skinSinC.ini",
                                                 "skinCorC.ini"};
  return skins;
}

std::string Narrow(const std::wstring& wide, UINT code_page) {
  int size = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, NULL, 0, NULL, NULL);
  if (size <= 1) return "";
  std::string text(size, '\0');
  WideCharToMultiByte(code_page, 0, wide.c_str(), -1, &text[0], size, NULL, NULL);
  text.resize(size - 1);
  return text;
}

std::wstring Widen(const std::string& text, UINT code_page) {
  int size = MultiByteToWideChar(code_page, 0, text.c_str(), -1, NULL, 0);
  if (size <= 1) return L"";
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(code_page, 0, text.c_str(), -1, &wide[0], size);
  wide.resize(size - 1);
  return wide;
}

std::wstring LongForm(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty()) return wide;
  // The prefix takes no relative part, '/' or UNC name: those stay as given.
  bool from_root = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
  return from_root ? L"\\\\?\\" + wide : wide;
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return kMissing;
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0) content.append(chunk, got);
  CloseHandle(file);
  return content;
}

namespace {

void RemoveLongTree(const std::wstring& folder) {
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveLongTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

void ListInto(const std::string& folder, std::vector<std::string>* paths) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((LongForm(folder) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    char name[MAX_PATH * 2] = {0};
    WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, name, sizeof name, NULL, NULL);
    if (lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0) continue;
    std::string path = folder + "\\" + name;
    paths->push_back(path);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListInto(path, paths);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

void RemoveTree(const std::string& path) { RemoveLongTree(LongForm(path)); }

bool MakeLongDir(const std::string& path) {
  std::wstring full = LongForm(path);
  // Past "\\?\C:\", each separator ends a folder that may have to be made.
  for (size_t at = full.find(L'\\', 7); at != std::wstring::npos; at = full.find(L'\\', at + 1)) {
    CreateDirectoryW(full.substr(0, at).c_str(), NULL);
  }
  CreateDirectoryW(full.c_str(), NULL);
  DWORD attributes = GetFileAttributesW(full.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteLongFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
  CloseHandle(file);
  return ok && written == content.size();
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> paths;
  ListInto(root, &paths);
  std::sort(paths.begin(), paths.end());
  return paths;
}

FailingAllocation::FailingAllocation(long nth, bool must_fire)
    : nth_(nth > 0 ? nth : 0), must_fire_(must_fire) {
  // Any countdown still running is someone else's, left behind.
  EXPECT_EQ(0, FailAllocation(nth_)) << "a countdown of FailAllocation was left running";
}

void FailingAllocation::End() {
  long left = FailAllocation(0);
  if (nth_ == 0) {
    EXPECT_EQ(0, left) << "a countdown of FailAllocation was left running";
  } else if (must_fire_) {
    EXPECT_EQ(0, left) << "allocation " << nth_ << " was to fail, but only " << nth_ - left
                       << " were made";
  }
  nth_ = 0;
  must_fire_ = false;
}

void PatcherTest::SetUp() {
  RemoveVarnexKey();
  RemoveVarnexKey(KEY_WOW64_64KEY);
}

void PatcherTest::TearDown() {
  no_failure_.End();
  RemoveVarnexKey();
  RemoveVarnexKey(KEY_WOW64_64KEY);
}

const ConfigWrite kUpdateWrites[kUpdateWriteCount] = {
    {"Setting Infor", "UILangFlag", "2"},
    {"Setting Infor", "FollowReadNum", "3"},
    {"Setting Infor", "DelayPlayTimeInHearingMode", "1500"},
    {"Skin Infor", "UIStyleFlag", "0"},
    {"Skin Infor", "SkinConfig0", "res\\skinSinE.ini"},
    {"Skin Infor", "SkinConfig1", "res\\skinCorE.ini"},
    {"Skin Infor", "SkinConfig2", "res\\skinSinC.ini"},
    {"Skin Infor", "SkinConfig3", "res\\skinCorC.ini"},
};

// A new profile file holds its sections in the order of their first write
// and each section's keys in write order.
std::string ConfigOfWrites(unsigned landed) {
  std::string text;
  std::string section;
  for (int w = 0; w < kUpdateWriteCount; ++w) {
    if ((landed & (1u << w)) == 0) continue;
    if (section != kUpdateWrites[w].section) {
      section = kUpdateWrites[w].section;
      text += "[" + section + "]\r\n";
    }
    text += std::string(kUpdateWrites[w].key) + "=" + kUpdateWrites[w].value + "\r\n";
  }
  return text.empty() ? kMissing : text;
}

std::string UpdatedConfig(unsigned skin_mask) {
  return ConfigOfWrites(0xFu | (skin_mask & 0xFu) << 4);
}

FileHold::FileHold(const std::string& path, DWORD share, bool create, DWORD hold_ms)
    : hold_ms_(hold_ms) {
  file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, NULL,
                      create ? CREATE_NEW : OPEN_EXISTING, 0, NULL);
  if (file_ != INVALID_HANDLE_VALUE) thread_ = CreateThread(NULL, 0, LetGo, this, 0, NULL);
}

FileHold::~FileHold() {
  if (thread_ != NULL) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  } else if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
  }
}

DWORD WINAPI FileHold::LetGo(void* self) {
  FileHold* hold = static_cast<FileHold*>(self);
  Sleep(hold->hold_ms_);
  CloseHandle(hold->file_);
  return 0;
}

}  // namespace testing_support
