// Process start-up of the patcher in place of the C runtime's: the patcher
// uses no C runtime, no static constructors, no thread-local data and no
// command line, so the runtime's start-up code would be most of the program.
#include <windows.h>

#include "driver/dll_search.h"

// The entry the linker gives a GUI executable. Before anything can load a
// DLL (the message box does), the search leaves the program's own folder. It
// ends the process itself because returning would end only this thread.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  RestrictDllSearch();
  static char no_arguments[] = "";
  ExitProcess(
      static_cast<UINT>(WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT)));
}

// The product's objects live on the stack and nothing calls new, but the
// deleting destructors in their virtual tables name the sized delete; defined
// here, with the unsized one the language asks for beside it, it keeps
// libstdc++ and the C runtime's heap out of the executable. A new would bring
// them back, which the import test would see.
void operator delete(void* block) noexcept {
  if (block != NULL) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }

// GCC may call memset and memcpy for any ZeroMemory, CopyMemory or copy of a
// block, and does at -O0 and -O2 even where -Os fills in place; a program
// without a C runtime must define them (GCC's manual says so for freestanding
// code), or they come from msvcrt.dll. The executable is built with
// -fno-tree-loop-distribute-patterns, so these loops are not turned back into
// calls of themselves.
extern "C" void* memset(void* block, int value, size_t size) {
  unsigned char* at = static_cast<unsigned char*>(block);
  for (size_t i = 0; i < size; ++i) at[i] = static_cast<unsigned char>(value);
  return block;
}
extern "C" void* memcpy(void* target, const void* source, size_t size) {
  unsigned char* to = static_cast<unsigned char*>(target);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < size; ++i) to[i] = from[i];
  return target;
}
