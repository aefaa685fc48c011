// Process start-up of the patcher in place of the C runtime's: the patcher
// uses no C runtime, no static constructors, no thread-local data and no
// command line, so the runtime's start-up code would be most of the program.
#include <windows.h>

// The entry the linker gives a GUI executable. It ends the process itself
// because returning would end only this thread.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  static char no_arguments[] = "";
  ExitProcess(
      static_cast<UINT>(WinMain(GetModuleHandleA(NULL), NULL, no_arguments, SW_SHOWDEFAULT)));
}

// The product's objects live on the stack, but the deleting destructors in
// their virtual tables still name these; on the process heap they keep
// libstdc++ and the C runtime's heap out of the executable.
void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void operator delete(void* block) noexcept {
  if (block != NULL) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept {
  if (block != NULL) HeapFree(GetProcessHeap(), 0, block);
}
