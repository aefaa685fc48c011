// The planted-DLL checks' control: started as the patcher is, it shows a
// message box as the patcher does, but leaves the DLL search as the loader
// set it. Beside the planted uxtheme.dll it must leave its mark: where it does
// not, this system loads no such DLL for a box, and the patcher's leaving no
// mark there would show nothing.
#include <windows.h>

// The entry, as the patcher's (driver/startup.cpp): no C runtime.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  MessageBoxA(NULL, "control", "planted", MB_OK);
  ExitProcess(0);
}
