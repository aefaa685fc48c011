// The DLL search limited at start: the lookup of SetDefaultDllDirectories in
// kernel32, and what happens where Windows lacks it. The limit itself, on the
// real function, is the planted-DLL run of EndToEndRun.
#include "driver/dll_search.h"

#include <string.h>
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
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

}  // namespace
