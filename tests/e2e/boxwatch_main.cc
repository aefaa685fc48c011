// boxwatch: reads or answers the message box of a running program, for the
// demo, which runs the patcher on its own and looks at the box from outside.
//   boxwatch read IMAGE [TIMEOUT_MS]  waits for the box, prints what it shows
//   boxwatch press IMAGE              answers it with OK
// IMAGE is the program's file name, e.g. OrvaneSP1.exe. Exit code 0 when the
// box was found (and pressed), 1 when not, 2 for a bad command line.
// Kept out of the .cpp glob of the test program, which has its own main().
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/e2e/message_box_watcher.h"

namespace {

HWND WaitForBox(const char* image, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND box = e2e::FindMessageBoxOf(image, NULL);
    if (box != NULL || GetTickCount() - start >= timeout_ms) return box;
    Sleep(50);
  }
}

int Read(const char* image, DWORD timeout_ms) {
  HWND box = WaitForBox(image, timeout_ms);
  if (box == NULL) {
    fprintf(stderr, "boxwatch: no message box of %s\n", image);
    return 1;
  }
  e2e::BoxContent content = e2e::ReadMessageBox(box);
  std::string buttons;
  for (const e2e::BoxButton& button : content.buttons) {
    buttons += (buttons.empty() ? "" : " ") + button.label;
  }
  printf("caption: %s\ntext:    %s\nbuttons: %s\nicon:    %s\n", content.caption.c_str(),
         content.text.c_str(), buttons.c_str(), content.has_icon ? "yes" : "none");
  printf("rect:    %ldx%ld+%ld+%ld\n", content.rect.right - content.rect.left,
         content.rect.bottom - content.rect.top, content.rect.left, content.rect.top);
  return 0;
}

int Press(const char* image) {
  HWND box = WaitForBox(image, 2000);
  if (box == NULL || !e2e::PressOk(box)) {
    fprintf(stderr, "boxwatch: cannot press OK on a box of %s\n", image);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && lstrcmpA(argv[1], "read") == 0) {
    return Read(argv[2], argc >= 4 ? strtoul(argv[3], NULL, 10) : 20000);
  }
  if (argc == 3 && lstrcmpA(argv[1], "press") == 0) return Press(argv[2]);
  fprintf(stderr, "usage: boxwatch read IMAGE [TIMEOUT_MS] | boxwatch press IMAGE\n");
  return 2;
}
