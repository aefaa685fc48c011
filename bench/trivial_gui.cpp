// The floor of the benchmark: a GUI program that does nothing but show its
// box, so its start and exit cost what any such program's do. Without a
// display the box fails at once, as the patcher's does in the benchmark.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxA(NULL, "", "Varnex", MB_OK);
  return 0;
}
