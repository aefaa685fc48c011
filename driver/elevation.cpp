// The relaunch with the runas verb, and its guard against a second one.
#include "driver/elevation.h"

#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shellapi.h>

namespace {

typedef BOOL(WINAPI* ShellExecuteExFunction)(SHELLEXECUTEINFOW*);
typedef HRESULT(WINAPI* CoInitializeExFunction)(LPVOID, DWORD);
typedef void(WINAPI* CoUninitializeFunction)();

// Held by a process while its relaunch runs. The relaunch runs in the same
// session, as the same or another user, and finds the name taken: whatever
// its token says (Wine 8's runas does not elevate), it starts nothing more.
const char kRelaunchGuard[] = "Local\\Varnex.OrvaneSP1.Relaunch";

// The longest path Windows gives a module, in UTF-16 units with the terminator.
const DWORD kLongestPath = 32768;

bool ElevationWouldHelp() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {0};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD virtualized = 0;
  DWORD size = 0;
  // A standard user's token is of the default type, as every token is where
  // UAC is off; only virtualization tells that UAC would ask for credentials.
  const bool helps =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated == 0 &&
      ((GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
        type == TokenElevationTypeLimited) ||
       (GetTokenInformation(token, TokenVirtualizationEnabled, &virtualized, sizeof virtualized,
                            &size) &&
        virtualized != 0));
  CloseHandle(token);
  return helps;
}

// Loads name from the system folder by its full path, so that neither the
// program's folder nor the working one is searched for it.
HMODULE LoadSystemDll(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  UINT name_length = 0;
  while (name[name_length] != L'\0') ++name_length;
  if (length == 0 || length + 1 + name_length >= MAX_PATH) return NULL;
  path[length++] = L'\\';
  for (UINT i = 0; i <= name_length; ++i) path[length + i] = name[i];
  return LoadLibraryW(path);
}

FARPROC Function(HMODULE module, const char* name) {
  return module == NULL ? NULL : GetProcAddress(module, name);
}

// Runs the executable at path with the runas verb and waits for it. The wide
// path: an ANSI one cannot name every folder it may have been started from.
int StartAndWait(const wchar_t* path) {
  HMODULE shell = LoadSystemDll(L"shell32.dll");
  // Through void*: FARPROC takes no arguments, and GCC warns about a direct
  // cast between the two function types.
  ShellExecuteExFunction shell_execute = reinterpret_cast<ShellExecuteExFunction>(
      reinterpret_cast<void*>(Function(shell, "ShellExecuteExW")));
  int relaunched = 0;
  if (shell_execute != NULL) {
    // Shell extensions that ShellExecuteEx may hand the verb to are COM
    // objects; Microsoft asks for COM to be initialized first.
    HMODULE com = LoadSystemDll(L"ole32.dll");
    CoInitializeExFunction initialize = reinterpret_cast<CoInitializeExFunction>(
        reinterpret_cast<void*>(Function(com, "CoInitializeEx")));
    CoUninitializeFunction uninitialize = reinterpret_cast<CoUninitializeFunction>(
        reinterpret_cast<void*>(Function(com, "CoUninitialize")));
    const bool initialized =
        initialize != NULL && uninitialize != NULL &&
        SUCCEEDED(initialize(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    // This process was started in front; its relaunch's box would otherwise
    // open behind the window it was started from.
    AllowSetForegroundWindow(ASFW_ANY);
    SHELLEXECUTEINFOW run;
    ZeroMemory(&run, sizeof run);
    run.cbSize = sizeof run;
    // No error box of the shell's: the run goes on here and shows its own.
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = L"runas";
    run.lpFile = path;
    run.nShow = SW_SHOWNORMAL;
    if (shell_execute(&run)) {
      relaunched = 1;
      if (run.hProcess != NULL) {
        WaitForSingleObject(run.hProcess, INFINITE);
        CloseHandle(run.hProcess);
      }
    }
    if (initialized) uninitialize();
    if (com != NULL) FreeLibrary(com);
  }
  if (shell != NULL) FreeLibrary(shell);
  return relaunched;
}

}  // namespace

int RelaunchElevated() {
  if (!ElevationWouldHelp()) return 0;
  HANDLE guard = CreateMutexA(NULL, FALSE, kRelaunchGuard);
  // Taken already, or not to be opened by this user: a relaunch, or another
  // start while one waits.
  if (guard == NULL) return 0;
  int relaunched = 0;
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    wchar_t* path =
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kLongestPath * sizeof(wchar_t)));
    if (path != NULL) {
      const DWORD length = GetModuleFileNameW(NULL, path, kLongestPath);
      if (length != 0 && length < kLongestPath) relaunched = StartAndWait(path);
      HeapFree(GetProcessHeap(), 0, path);
    }
  }
  CloseHandle(guard);
  return relaunched;
}
