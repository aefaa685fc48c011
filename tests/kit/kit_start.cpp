// The entry of the test kit's programs (unit_tests, testguard). Like the
// patcher, they run as administrator from wherever the kit was unpacked, so
// they first limit the DLL search, then start as any C++ program does: the C
// runtime's own entry runs the static constructors and calls main.
#include "driver/dll_search.h"

// The entry the linker gives a console program; it realigns the stack itself
// and ends the process through exit.
extern "C" int mainCRTStartup();

// Given to the linker as the entry (-e _KitStartup: i686 C names carry a
// leading underscore). The loader calls it with the stack aligned to 4 bytes
// only; the code GCC makes may assume 16.
extern "C" __attribute__((force_align_arg_pointer)) int KitStartup() {
  RestrictDllSearch();
  return mainCRTStartup();
}
