// The DLL search limited to the system folder, where Windows has the means.
#include "driver/dll_search.h"

#include <windows.h>

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

}  // namespace

int RestrictDllSearch() {
  // Looked up, not imported: an import Windows lacks would stop the program
  // before its first instruction. kernel32 is in every process already.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == NULL) return 0;
  // Through void*: FARPROC takes no arguments, and GCC warns about a direct
  // cast between the two function types.
  SetDefaultDllDirectoriesFunction restrict_search =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (restrict_search == NULL) return 0;
  return restrict_search(LOAD_LIBRARY_SEARCH_SYSTEM32) ? 1 : 0;
}
