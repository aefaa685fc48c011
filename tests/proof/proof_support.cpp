// Tools of the proof suites.
#include "tests/proof/proof_support.h"

#include "tests/support/fixtures.h"
#include "tests/support/import_entry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace proof {

namespace {

std::string g_row;

LONG CALLBACK ReportFault(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  fprintf(stderr, "access violation at %p (%s of %p) while processing: %s\n",
          info->ExceptionRecord->ExceptionAddress,
          info->ExceptionRecord->ExceptionInformation[0] ? "write" : "read",
          reinterpret_cast<void*>(info->ExceptionRecord->ExceptionInformation[1]), g_row.c_str());
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

bool IsLead936(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace

GuardedBuffer::GuardedBuffer(DWORD size) : size_(size) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  DWORD page = system.dwPageSize;
  DWORD span = (size + page - 1) / page * page;
  pages_ = static_cast<BYTE*>(VirtualAlloc(NULL, span + page, MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  if (pages_ == NULL || !VirtualProtect(pages_ + span, page, PAGE_NOACCESS, &old)) abort();
  data_ = pages_ + span - size;
  handler_ = AddVectoredExceptionHandler(1, ReportFault);
}

GuardedBuffer::~GuardedBuffer() {
  RemoveVectoredExceptionHandler(handler_);
  VirtualFree(pages_, 0, MEM_RELEASE);
}

void GuardedBuffer::Fill(BYTE value) const { FillMemory(data_, size_, value); }

void GuardedBuffer::SetRow(const std::string& row) { g_row = row; }

unsigned Lcg::Next(unsigned bound) {
  state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<unsigned>(state_ >> 33) % bound;
}

std::string MakeTargetText(Lcg& random, size_t length, bool dbcs) {
  static const char kPlain[] = "aZ9:._-C";
  // Half the texts start as a full path would, or nearly so.
  static const char* const kStarts[] = {"C:\\", "c:/", "Z:",   "\\\\",  "//",   "\\/",
                                        "C:",   "\\",  "1:\\", " C:\\", "CC:\\"};
  std::string text;
  if (length >= 4 && random.Next(2)) text = kStarts[random.Next(sizeof kStarts / sizeof *kStarts)];
  while (text.size() < length) {
    unsigned pick = random.Next(100);
    if (dbcs && pick < 25) {
      unsigned lead = random.Next(2) ? 0x81 + random.Next(0x20) : 0xB0 + random.Next(0x27);
      unsigned trail = 0x5C;
      if (random.Next(2)) {
        trail = 0x40 + random.Next(0xBE);
        if (trail >= 0x7F) ++trail;
      }
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
    } else if (pick < 45) {
      text += ' ';
    } else if (pick < 55) {
      text += ',';
    } else if (pick < 68) {
      text += '\\';
    } else if (pick < 76) {
      text += '/';
    } else if (pick < 80) {
      text += '\t';
    } else {
      text += kPlain[random.Next(sizeof kPlain - 1)];
    }
  }
  return text;
}

Expected ExpectedTarget(const std::string& stored, bool dbcs) {
  Expected none = {false, "", ""};
  std::string view = stored.substr(0, stored.size() < MAX_PATH ? stored.size() : MAX_PATH);
  size_t zero = view.find('\0');
  if (zero == std::string::npos && stored.size() >= MAX_PATH) return none;
  std::string text = view.substr(0, zero);
  size_t comma = text.rfind(',');
  if (comma != std::string::npos) text.resize(comma);
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return none;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  size_t last = text.size() - 1;
  if (dbcs) {
    for (size_t at = 0; at < text.size();) {
      last = at;
      at += (IsLead936(text[at]) && at + 1 < text.size()) ? 2 : 1;
    }
  }
  if (last == text.size() - 1 && (text[last] == '\\' || text[last] == '/')) text.resize(last);
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  bool unc = text.size() >= 2 && separator(text[0]) && separator(text[1]);
  bool drive = text.size() >= 2 && letter(text[0]) && text[1] == ':' &&
               (text.size() == 2 || separator(text[2]));
  if (!unc && !drive) return none;
  return {true, text, text + "\\Bin\\config.ini"};
}

std::string FreshConfig(unsigned skins) {
  static const char* const kSkins[] = {"skinSinE.ini", "skinCorE.ini", "skinSinC.ini",
                                       "skinCorC.ini"};
  std::string config =
      "[Setting Infor]\r\nUILangFlag=2\r\nFollowReadNum=3\r\nDelayPlayTimeInHearingMode=1500\r\n"
      "[Skin Infor]\r\nUIStyleFlag=0\r\n";
  for (int k = 0; k < 4; ++k) {
    if (skins & (1u << k)) {
      config += "SkinConfig" + std::to_string(k) + "=res\\" + kSkins[k] + "\r\n";
    }
  }
  return config;
}

bool MakeLongDir(const std::string& path) {
  std::wstring full = testing_support::LongForm(path);
  // Past "\\?\C:\", each separator ends a folder that may have to be made.
  for (size_t at = full.find(L'\\', 7); at != std::wstring::npos; at = full.find(L'\\', at + 1)) {
    CreateDirectoryW(full.substr(0, at).c_str(), NULL);
  }
  CreateDirectoryW(full.c_str(), NULL);
  DWORD attributes = GetFileAttributesW(full.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteLongFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileW(testing_support::LongForm(path).c_str(), GENERIC_WRITE, 0, NULL,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
  CloseHandle(file);
  return ok && written == content.size();
}

namespace {

typedef LONG(WINAPI* QueryFunction)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI* EnumFunction)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI* InfoFunction)(HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                   LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME);
QueryFunction g_query = NULL;
EnumFunction g_enum = NULL;
InfoFunction g_info = NULL;
long g_queries = 0;
long g_enumerations = 0;
long g_infos = 0;

LONG WINAPI CountQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                       LPDWORD size) {
  ++g_queries;
  return g_query(key, name, reserved, type, data, size);
}

LONG WINAPI CountEnum(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
  ++g_enumerations;
  return g_enum(key, index, name, name_size, reserved, type, data, size);
}

LONG WINAPI CountInfo(HKEY key, LPSTR class_name, LPDWORD class_size, LPDWORD reserved,
                      LPDWORD subkeys, LPDWORD subkey_length, LPDWORD class_length, LPDWORD values,
                      LPDWORD value_name_length, LPDWORD value_length, LPDWORD security,
                      PFILETIME written) {
  ++g_infos;
  return g_info(key, class_name, class_size, reserved, subkeys, subkey_length, class_length, values,
                value_name_length, value_length, security, written);
}

void* Redirect(const char* name, void* function) {
  return testing_support::RedirectImport("advapi32.dll", name, function);
}

void ListInto(const std::string& folder, std::vector<std::string>* paths) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((testing_support::LongForm(folder) + L"\\*").c_str(), &found);
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

RegistryCalls::RegistryCalls() {
  g_query = reinterpret_cast<QueryFunction>(
      Redirect("RegQueryValueExA", reinterpret_cast<void*>(CountQuery)));
  g_enum =
      reinterpret_cast<EnumFunction>(Redirect("RegEnumValueA", reinterpret_cast<void*>(CountEnum)));
  g_info = reinterpret_cast<InfoFunction>(
      Redirect("RegQueryInfoKeyA", reinterpret_cast<void*>(CountInfo)));
  installed_ = g_query != NULL && g_enum != NULL && g_info != NULL;
  Reset();
}

RegistryCalls::~RegistryCalls() {
  if (g_query != NULL) Redirect("RegQueryValueExA", reinterpret_cast<void*>(g_query));
  if (g_enum != NULL) Redirect("RegEnumValueA", reinterpret_cast<void*>(g_enum));
  if (g_info != NULL) Redirect("RegQueryInfoKeyA", reinterpret_cast<void*>(g_info));
}

void RegistryCalls::Reset() { g_queries = g_enumerations = g_infos = 0; }
long RegistryCalls::queries() const { return g_queries; }
long RegistryCalls::enumerations() const { return g_enumerations; }
long RegistryCalls::infos() const { return g_infos; }

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> paths;
  ListInto(root, &paths);
  std::sort(paths.begin(), paths.end());
  return paths;
}

UINT_PTR NextHandleValue() {
  // One event alone would fill the lowest hole: a key leaked above a handle
  // that was closed later (the parent key of a search) would go unseen.
  HANDLE events[256];
  UINT_PTR highest = 0;
  for (HANDLE& event : events) {
    event = CreateEventA(NULL, TRUE, FALSE, NULL);
    UINT_PTR value = reinterpret_cast<UINT_PTR>(event);
    if (value > highest) highest = value;
  }
  for (HANDLE event : events) CloseHandle(event);
  return highest;
}

SIZE_T BusyHeapBytes() {
  HANDLE heap = GetProcessHeap();
  SIZE_T total = 0;
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry;
  entry.lpData = NULL;
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
  }
  HeapUnlock(heap);
  return total;
}

size_t SizeFromEnvironment(const char* name, size_t fallback) {
  char value[32] = {0};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return fallback;
  size_t parsed = static_cast<size_t>(strtoul(value, NULL, 10));
  return parsed > 0 ? parsed : fallback;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      wsprintfA(hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace proof
