// A DLL planted under a system DLL's name (uxtheme.dll) by the tests, to show
// whether a program loads it from a folder it should not search. It only
// leaves a mark: when a process loads it, it appends a line naming this file
// and the process's program to the file that the environment variable
// ORVANE_PLANTED_MARK names, and does nothing without it. It needs no C
// runtime (its entry is DllMain itself) and exports nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  // Wide: Wine 8's GetEnvironmentVariableA cuts a value short by as many
  // characters as its multibyte ones have extra bytes (measured at 936 under
  // a Chinese folder), and the mark would land beside its path.
  wchar_t mark[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"ORVANE_PLANTED_MARK", mark, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  char dll[MAX_PATH] = "?";
  char program[MAX_PATH] = "?";
  GetModuleFileNameA(self, dll, sizeof dll);
  GetModuleFileNameA(NULL, program, sizeof program);
  char line[2 * MAX_PATH + 8];
  int size = wsprintfA(line, "%s in %s\r\n", dll, program);
  // Appended, and shared, so that every process that loads it adds its line.
  HANDLE file = CreateFileW(mark, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(size), &written, NULL);
  CloseHandle(file);
  return TRUE;
}
