// What the program does before its work: the DLL search limited at start (the
// lookup of SetDefaultDllDirectories in kernel32, and what happens where
// Windows lacks it; the limit itself, on the real function, is the
// planted-DLL run of EndToEndRun), the relaunch where elevation would help,
// and UAC virtualization turned off before the registry is read.
#include "driver/dll_search.h"

#include <string.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <map>
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

// The token as each row has Windows answer for it. Wine reports virtualization
// off for every process and no run under Wine is ever virtualized; Wine 8
// starts the test program with a full token and Wine 10 with a limited one;
// and Wine never shows or declines an elevation prompt. What Windows does is
// shown only through these forwarders, which answer every row alike under both.
enum class Open { kAny, kOnlyToQuery, kNever };
enum class State { kOff, kOn, kClassUnknown };
// TokenElevation and TokenElevationType: an administrator's full and limited
// tokens under UAC, a standard user's (or anyone's with UAC off), and SYSTEM's.
enum class Elevation { kFull, kLimited, kStandard, kSystem };
// What the runas start does: declined at the prompt, shell32 not to be loaded,
// a relaunch started elsewhere, or one that runs here with the token unchanged
// (as Wine 8's runas gives it).
enum class Shell { kDeclines, kMissing, kStarts, kStartsItself };
struct Token {
  Open open;
  State state;
  bool change_refused;
  Elevation elevation;
  Shell shell;
};
Token g_token;
// cppcheck sees no use of a member read through a map's iterator.
struct OpenToken {
  bool own;      // cppcheck-suppress unusedStructMember ; of GetCurrentProcess()
  DWORD access;  // cppcheck-suppress unusedStructMember
};
std::map<HANDLE, OpenToken> g_open_tokens;  // opened and not yet closed
std::string g_changes;                      // each change: "value own-token;"
std::string g_shell;                        // each load, grant and start: "load shell32;" ...
int g_relaunch_depth = 0;
long g_registry_opens = 0;
std::string g_boxes;  // each box's text, by ';'

decltype(&OpenProcessToken) g_open_token = NULL;
decltype(&GetTokenInformation) g_get_token = NULL;
decltype(&SetTokenInformation) g_set_token = NULL;
decltype(&CloseHandle) g_close = NULL;
decltype(&RegOpenKeyExA) g_reg_open = NULL;
decltype(&MessageBoxA) g_message_box = NULL;
decltype(&LoadLibraryW) g_load = NULL;
decltype(&AllowSetForegroundWindow) g_allow_foreground = NULL;
GetProcAddressFunction g_get_proc = NULL;

BOOL WINAPI ForwardOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (g_token.open == Open::kNever ||
      (g_token.open == Open::kOnlyToQuery && (access & TOKEN_ADJUST_DEFAULT) != 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!g_open_token(process, access, token)) return FALSE;
  g_open_tokens[*token] = {process == GetCurrentProcess(), access};
  return TRUE;
}

BOOL WINAPI ForwardGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                       DWORD size, PDWORD needed) {
  DWORD answer = 0;
  switch (kind) {
    case TokenVirtualizationEnabled:
      if (g_token.state == State::kClassUnknown) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      answer = g_token.state == State::kOn ? 1 : 0;
      break;
    case TokenElevation:
      answer = g_token.elevation == Elevation::kFull || g_token.elevation == Elevation::kSystem;
      break;
    case TokenElevationType:
      answer = g_token.elevation == Elevation::kFull      ? TokenElevationTypeFull
               : g_token.elevation == Elevation::kLimited ? TokenElevationTypeLimited
                                                          : TokenElevationTypeDefault;
      break;
    default:
      return g_get_token(token, kind, data, size, needed);
  }
  // As Windows: a handle opened without TOKEN_QUERY answers no query.
  auto opened = g_open_tokens.find(token);
  if (opened == g_open_tokens.end() || (opened->second.access & TOKEN_QUERY) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (size != sizeof(DWORD)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  *static_cast<DWORD*>(data) = answer;
  *needed = sizeof(DWORD);
  return TRUE;
}

BOOL WINAPI ForwardSetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                       DWORD size) {
  if (kind != TokenVirtualizationEnabled || size != sizeof(DWORD)) {
    return g_set_token(token, kind, data, size);
  }
  // Only a handle to the process's own token, opened with TOKEN_ADJUST_DEFAULT,
  // can make the change on Windows.
  auto opened = g_open_tokens.find(token);
  const bool own = opened != g_open_tokens.end() && opened->second.own &&
                   (opened->second.access & TOKEN_ADJUST_DEFAULT) != 0;
  g_changes += std::to_string(*static_cast<DWORD*>(data)) + (own ? " own-token;" : " other;");
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

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {0};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

HMODULE WINAPI ForwardLoadLibraryW(LPCWSTR path) {
  std::wstring name = path;
  const std::wstring folder = SystemFolder() + L"\\";
  const bool in_system = lstrcmpiW(name.substr(0, folder.size()).c_str(), folder.c_str()) == 0;
  if (in_system) name = name.substr(folder.size());
  g_shell += "load " + testing_support::Narrow(name, CP_UTF8) + (in_system ? ";" : " elsewhere;");
  if (g_token.shell == Shell::kMissing && lstrcmpiW(name.c_str(), L"shell32.dll") == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
  }
  return g_load(path);
}

BOOL WINAPI RecordAllowSetForegroundWindow(DWORD process) {
  g_shell += process == ASFW_ANY ? "foreground;" : "foreground of one;";
  return TRUE;
}

BOOL WINAPI RecordShellExecuteExW(SHELLEXECUTEINFOW* run) {
  wchar_t own[MAX_PATH] = {0};
  GetModuleFileNameW(NULL, own, MAX_PATH);
  g_shell += testing_support::Narrow(run->lpVerb == NULL ? L"" : run->lpVerb, CP_UTF8) +
             (run->lpFile != NULL && lstrcmpiW(run->lpFile, own) == 0 ? " own-file;" : " other;");
  // A relaunch asking again would recurse: it is declined after being recorded.
  if (g_token.shell == Shell::kDeclines || g_relaunch_depth > 0) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  if (g_token.shell == Shell::kStartsItself) {
    ++g_relaunch_depth;
    static char no_arguments[] = "";
    WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT);
    --g_relaunch_depth;
  }
  // A process that has ended already, for the wait.
  run->hProcess =
      (run->fMask & SEE_MASK_NOCLOSEPROCESS) != 0 ? CreateEventA(NULL, TRUE, TRUE, NULL) : NULL;
  return TRUE;
}

FARPROC WINAPI ForwardShellLookup(HMODULE module, LPCSTR name) {
  if (HIWORD(name) != 0 && strcmp(name, "ShellExecuteExW") == 0) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordShellExecuteExW));
  }
  return g_get_proc(module, name);
}

class Virtualization : public testing_support::PatcherTest {};

// The whole entry, WinMain, on an installation its run would update. Where
// elevation would help (a limited token, or virtualization on), the entry asks
// for a relaunch with runas from shell32 in the system folder and, once it has
// run, shows nothing, reads nothing and writes nothing; a relaunch never asks
// again. Declined or unavailable, the run goes on here: where virtualization
// is on and stays on, it fails before the registry is read and nothing is
// written; everywhere else the run is what it always was. Every token opened
// is closed.
TEST_F(Virtualization, RelaunchedWhereElevationHelpsElseOnAndUnchangeableFailsBeforeAnyRead) {
  enum Outcome { kUpdated, kFailed, kNothingHere };
  const char* const kAsked = "load shell32.dll;load ole32.dll;foreground;runas own-file;";
  const char* const kNoShell = "load shell32.dll;";
  static const struct {
    const char* name;
    Token token;
    const char* shell;  // the loads, the grant and the starts asked for
    const char* changes;
    Outcome outcome;
  } rows[] = {
      {"elevated, virtualization off: in place, no change made",
       {Open::kAny, State::kOff, false, Elevation::kFull, Shell::kStarts},
       "",
       "",
       kUpdated},
      {"a standard user, virtualization on: relaunched, nothing done here",
       {Open::kAny, State::kOn, false, Elevation::kStandard, Shell::kStarts},
       kAsked,
       "",
       kNothingHere},
      {"a standard user, virtualization on, the prompt declined: turned off, 0 set on the "
       "process's own token",
       {Open::kAny, State::kOn, false, Elevation::kStandard, Shell::kDeclines},
       kAsked,
       "0 own-token;",
       kUpdated},
      {"declined, and the change refused",
       {Open::kAny, State::kOn, true, Elevation::kStandard, Shell::kDeclines},
       kAsked,
       "0 own-token;",
       kFailed},
      {"shell32 not to be loaded, and the token not to be opened for the change",
       {Open::kOnlyToQuery, State::kOn, false, Elevation::kStandard, Shell::kMissing},
       kNoShell,
       "",
       kFailed},
      {"a standard user without virtualization, as with UAC off: in place",
       {Open::kAny, State::kOff, false, Elevation::kStandard, Shell::kStarts},
       "",
       "",
       kUpdated},
      {"an administrator's limited token: relaunched, nothing done here",
       {Open::kAny, State::kOff, false, Elevation::kLimited, Shell::kStarts},
       kAsked,
       "",
       kNothingHere},
      {"limited, the prompt declined: in place",
       {Open::kAny, State::kOff, false, Elevation::kLimited, Shell::kDeclines},
       kAsked,
       "",
       kUpdated},
      {"limited, shell32 not to be loaded: in place",
       {Open::kAny, State::kOff, false, Elevation::kLimited, Shell::kMissing},
       kNoShell,
       "",
       kUpdated},
      {"limited, and the relaunch's token still limited: it runs in place, asking nothing",
       {Open::kAny, State::kOff, false, Elevation::kLimited, Shell::kStartsItself},
       kAsked,
       "",
       kUpdated},
      {"SYSTEM, or an administrator with UAC off: in place",
       {Open::kAny, State::kOff, false, Elevation::kSystem, Shell::kStarts},
       "",
       "",
       kUpdated},
      {"a Windows without the virtualization class, elevated",
       {Open::kAny, State::kClassUnknown, false, Elevation::kFull, Shell::kStarts},
       "",
       "",
       kUpdated},
      {"the token not to be opened at all: in place, as before",
       {Open::kNever, State::kOn, false, Elevation::kLimited, Shell::kStarts},
       "",
       "",
       kUpdated},
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
        reinterpret_cast<void**>(&g_message_box)},
       {"kernel32.dll", "LoadLibraryW", reinterpret_cast<void*>(ForwardLoadLibraryW),
        reinterpret_cast<void**>(&g_load)},
       {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(ForwardShellLookup),
        reinterpret_cast<void**>(&g_get_proc)},
       {"user32.dll", "AllowSetForegroundWindow",
        reinterpret_cast<void*>(RecordAllowSetForegroundWindow),
        reinterpret_cast<void**>(&g_allow_foreground)}});
  ASSERT_TRUE(redirected.installed());
  for (const auto& row : rows) {
    g_token = row.token;
    g_open_tokens.clear();
    g_changes.clear();
    g_shell.clear();
    g_registry_opens = 0;
    g_boxes.clear();
    DeleteFileA(tree_.Path(config).c_str());
    static char no_arguments[] = "";
    EXPECT_EQ(0, WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT)) << row.name;
    EXPECT_EQ(row.outcome == kUpdated  ? "Orvane SP1 Run Successfully.;"
              : row.outcome == kFailed ? "Orvane SP1 Run failed.;"
                                       : "",
              g_boxes)
        << row.name;
    EXPECT_EQ(row.shell, g_shell) << row.name;
    EXPECT_EQ(row.changes, g_changes) << row.name;
    EXPECT_EQ(row.outcome == kUpdated, g_registry_opens > 0)
        << row.name << ": " << g_registry_opens << " opens";
    EXPECT_EQ(row.outcome == kUpdated ? testing_support::UpdatedConfig(testing_support::kAllSkins)
                                      : std::string(testing_support::kMissing),
              tree_.ReadFile(config))
        << row.name;
    EXPECT_TRUE(g_open_tokens.empty()) << row.name << ": a token left open";
  }
  // Every token the forwarders can describe, the unlikely ones included (an
  // elevated token reported virtualized): a relaunch is asked exactly where
  // the token is not elevated and is either an administrator's limited one
  // or virtualized, and only a run that asked none reads the registry and
  // shows a box.
  const Elevation elevations[] = {Elevation::kFull, Elevation::kLimited, Elevation::kStandard,
                                  Elevation::kSystem};
  const State states[] = {State::kOff, State::kOn, State::kClassUnknown};
  for (Elevation elevation : elevations) {
    for (State state : states) {
      const bool elevated = elevation == Elevation::kFull || elevation == Elevation::kSystem;
      const bool asks = !elevated && (elevation == Elevation::kLimited || state == State::kOn);
      g_token = {Open::kAny, state, false, elevation, Shell::kStarts};
      g_open_tokens.clear();
      g_shell.clear();
      g_registry_opens = 0;
      g_boxes.clear();
      static char no_arguments[] = "";
      const int exit_code = WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT);
      const std::string token = "elevation " + std::to_string(static_cast<int>(elevation)) +
                                ", virtualization " + std::to_string(static_cast<int>(state));
      EXPECT_EQ(0, exit_code) << token;
      EXPECT_EQ(asks ? kAsked : "", g_shell) << token;
      EXPECT_EQ(asks, g_boxes.empty()) << token;
      EXPECT_EQ(asks, g_registry_opens == 0) << token;
    }
  }
}

}  // namespace
