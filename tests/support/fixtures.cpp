// Registry and file-tree fixtures for the tests.
#include "tests/support/fixtures.h"

namespace testing_support {

const char kInstalledPath[] = "SOFTWARE\\Varnex\\SoftWareInstalled";
const char kProductId[] = "Varnex_Quendal";

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

std::wstring LongForm(const std::string& path) {
  wchar_t wide[2048];
  int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 2048);
  return length > 0 ? L"\\\\?\\" + std::wstring(wide) : std::wstring();
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
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

}  // namespace

void RemoveTree(const std::string& path) { RemoveLongTree(LongForm(path)); }

void PatcherTest::SetUp() {
  RemoveVarnexKey();
  RemoveVarnexKey(KEY_WOW64_64KEY);
}

void PatcherTest::TearDown() {
  RemoveVarnexKey();
  RemoveVarnexKey(KEY_WOW64_64KEY);
}

std::string UpdatedConfig(unsigned skin_mask) {
  std::string text =
      "[Setting Infor]\r\nUILangFlag=2\r\nFollowReadNum=3\r\n"
      "DelayPlayTimeInHearingMode=1500\r\n[Skin Infor]\r\nUIStyleFlag=0\r\n";
  for (size_t k = 0; k < AllSkins().size(); ++k) {
    if (skin_mask & (1u << k)) {
      text += "SkinConfig" + std::to_string(k) + "=res\\" + AllSkins()[k] + "\r\n";
    }
  }
  return text;
}

}  // namespace testing_support
