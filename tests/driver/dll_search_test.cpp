// What the program does before its work: the DLL search limited at start (the
// lookup of SetDefaultDllDirectories in kernel32, and what happens where
// Windows lacks it; the limit itself, on the real function, is the
// planted-DLL run of EndToEndRun), and UAC virtualization turned off before
// the registry is read.
#include "driver/dll_search.h"

#include <string.h>
#include <windows.h>

#include <set>
#include <string>

#include "driver/virtualization.h"
#include "gtest/gtest.h"
#include "tests/support/fixtures.h"
#include "tests/support/import_entry.h"

namespace {

typedef FARPROC(WINAPI* GetProcAddressFunction)(HMODULE, LPCSTR);

// What kernel32 answers for SetDefaultDllDirectories in the row running now.
enum Kernel { kHasIt, kLacksIt, kRefuses };
Kernel g_kernel = kHasIt;
GetProcAddressFunction g_real = NULL;
std::string g_asked;  // "module name" of each lookup of the function, by ';'
std::string g_flags;  // the flags of each call of the function, by ';'

BOOL WINAPI RecordSetDefaultDllDirectories(DWORD flags) {
  g_flags += std::to_string(flags) + ";";
  return g_kernel == kRefuses ? FALSE : TRUE;
}

FARPROC WINAPI ForwardGetProcAddress(HMODULE module, LPCSTR name) {
  if (HIWORD(name) == 0 || strcmp(name, "SetDefaultDllDirectories") != 0) {
    return g_real(module, name);
  }
  g_asked += (module == GetModuleHandleA("kernel32.dll") ? "kernel32 " : "other ") +
             std::string(name) + ";";
  if (g_kernel == kLacksIt) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
  }
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordSetDefaultDllDirectories));
}

TEST(DllSearch, LimitedToTheSystemFolderWhereKernelHasTheFunctionElseLeftAsItWas) {
  static const struct {
    const char* name;
    Kernel kernel;
    int result;
    const char* flags;  // of the calls made
  } rows[] = {
      {"Windows 8 and later, or 7 with KB2533623", kHasIt, 1, "2048;"},
      {"Vista, or 7 without the update: nothing is called", kLacksIt, 0, ""},
      {"the function refuses", kRefuses, 0, "2048;"},
  };
  testing_support::RedirectedImports redirected(
      {{"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(ForwardGetProcAddress),
        reinterpret_cast<void**>(&g_real)}});
  ASSERT_TRUE(redirected.installed());
  for (const auto& row : rows) {
    g_kernel = row.kernel;
    g_asked.clear();
    g_flags.clear();
    EXPECT_EQ(row.result, RestrictDllSearch()) << row.name;
    EXPECT_EQ("kernel32 SetDefaultDllDirectories;", g_asked) << row.name;
    EXPECT_EQ(row.flags, g_flags) << row.name << " (LOAD_LIBRARY_SEARCH_SYSTEM32 is 2048)";
  }
}

// The token as each row has Windows answer for it. Wine's GetTokenInformation
// reports virtualization off for every process, and no run under Wine is ever
// virtualized: what Windows does is shown only through these forwarders.
enum class Open { kAny, kOnlyToQuery, kNever };
enum class State { kOff, kOn, kClassUnknown };
struct Token {
  Open open;
  State state;
  bool change_refused;
};
Token g_token;
std::set<HANDLE> g_open_tokens;  // opened and not yet closed
std::string g_changes;           // each change: "value own-token;"
long g_registry_opens = 0;
std::string g_boxes;  // each box's text, by ';'

decltype(&OpenProcessToken) g_open_token = NULL;
decltype(&GetTokenInformation) g_get_token = NULL;
decltype(&SetTokenInformation) g_set_token = NULL;
decltype(&CloseHandle) g_close = NULL;
decltype(&RegOpenKeyExA) g_reg_open = NULL;
decltype(&MessageBoxA) g_message_box = NULL;

BOOL WINAPI ForwardOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (g_token.open == Open::kNever ||
      (g_token.open == Open::kOnlyToQuery && (access & TOKEN_ADJUST_DEFAULT) != 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!g_open_token(process, access, token)) return FALSE;
  g_open_tokens.insert(*token);
  return TRUE;
}

BOOL WINAPI ForwardGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                       DWORD size, PDWORD needed) {
  if (kind != TokenVirtualizationEnabled || size != sizeof(DWORD)) {
    return g_get_token(token, kind, data, size, needed);
  }
  if (g_token.state == State::kClassUnknown) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *static_cast<DWORD*>(data) = g_token.state == State::kOn ? 1 : 0;
  *needed = sizeof(DWORD);
  return TRUE;
}

BOOL WINAPI ForwardSetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                       DWORD size) {
  if (kind != TokenVirtualizationEnabled || size != sizeof(DWORD)) {
    return g_set_token(token, kind, data, size);
  }
  // The process's own token, opened for the change: the one ForwardOpenProcessToken
  // handed out for GetCurrentProcess() with TOKEN_ADJUST_DEFAULT.
  g_changes += std::to_string(*static_cast<DWORD*>(data)) +
               (g_open_tokens.count(token) != 0 ? " own-token;" : " other;");
  if (g_token.change_refused) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI ForwardCloseHandle(HANDLE handle) {
  g_open_tokens.erase(handle);
  return g_close(handle);
}

LONG WINAPI CountRegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
  ++g_registry_opens;
  return g_reg_open(root, path, options, access, key);
}

int WINAPI RecordMessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) {
  g_boxes += std::string(text) + ";";
  return IDOK;
}

class Virtualization : public testing_support::PatcherTest {};

// The whole entry, WinMain, on an installation its run would update: where
// virtualization is on and stays on, the run fails before the registry is
// read and nothing is written; everywhere else the run is what it always was.
// Every token opened is closed.
TEST_F(Virtualization, OnAndUnchangeableFailsTheRunBeforeAnyReadElseTheRunGoesOn) {
  static const struct {
    const char* name;
    Token token;
    const char* changes;
    bool runs;  // the registry is read and the target updated
  } rows[] = {
      {"off: no change made", {Open::kAny, State::kOff, false}, "", true},
      {"on: turned off, 0 set on the process's own token",
       {Open::kAny, State::kOn, false},
       "0 own-token;",
       true},
      {"on, and the change refused", {Open::kAny, State::kOn, true}, "0 own-token;", false},
      {"on, and the token not to be opened for the change",
       {Open::kOnlyToQuery, State::kOn, false},
       "",
       false},
      {"a Windows without the class (XP, Server 2003)",
       {Open::kAny, State::kClassUnknown, false},
       "",
       true},
      {"the token not to be opened at all", {Open::kNever, State::kOn, false}, "", true},
  };
  tree_.MakeInstall("App", testing_support::AllSkins());
  testing_support::Record record("Quendal");
  record.MakeProduct({tree_.Path("App")});
  const std::string config = "App\\Bin\\config.ini";
  testing_support::RedirectedImports redirected(
      {{"advapi32.dll", "OpenProcessToken", reinterpret_cast<void*>(ForwardOpenProcessToken),
        reinterpret_cast<void**>(&g_open_token)},
       {"advapi32.dll", "GetTokenInformation", reinterpret_cast<void*>(ForwardGetTokenInformation),
        reinterpret_cast<void**>(&g_get_token)},
       {"advapi32.dll", "SetTokenInformation", reinterpret_cast<void*>(ForwardSetTokenInformation),
        reinterpret_cast<void**>(&g_set_token)},
       {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(ForwardCloseHandle),
        reinterpret_cast<void**>(&g_close)},
       {"advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(CountRegOpenKeyExA),
        reinterpret_cast<void**>(&g_reg_open)},
       {"user32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordMessageBoxA),
        reinterpret_cast<void**>(&g_message_box)}});
  ASSERT_TRUE(redirected.installed());
  for (const auto& row : rows) {
    g_token = row.token;
    g_open_tokens.clear();
    g_changes.clear();
    g_registry_opens = 0;
    g_boxes.clear();
    DeleteFileA(tree_.Path(config).c_str());
    static char no_arguments[] = "";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT)) << row.name;
    EXPECT_EQ(row.runs ? "Orvane SP1 Run Successfully.;" : "Orvane SP1 Run failed.;", g_boxes)
        << row.name;
    EXPECT_EQ(row.changes, g_changes) << row.name;
    EXPECT_EQ(row.runs, g_registry_opens > 0) << row.name << ": " << g_registry_opens << " opens";
    EXPECT_EQ(row.runs ? testing_support::UpdatedConfig(testing_support::kAllSkins)
                       : std::string(testing_support::kMissing),
              tree_.ReadFile(config))
        << row.name;
    EXPECT_TRUE(g_open_tokens.empty()) << row.name << ": a token left open";
  }
}

}  // namespace
