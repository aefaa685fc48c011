// The floor of the benchmark: a GUI program that does nothing but show its
// box, so its start and exit cost what any such program's do. Without a
// display the box fails at once, as the patcher's does in the benchmark.
// Built twice: WITH_REGISTRY also loads the registry DLL the patcher needs,
// to tell that DLL's start-up cost from the patcher's own.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef WITH_REGISTRY
  RegCloseKey(NULL);
#endif
  MessageBoxA(NULL, "", "Varnex", MB_OK);
  return 0;
}
