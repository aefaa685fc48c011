// Watches another process's message boxes through Win32: finds a box, reads
// its caption, text and buttons, tells whether it shows an icon, and presses
// OK. Used by the end-to-end tests and by the demo's boxwatch tool.
#ifndef TESTS_E2E_MESSAGE_BOX_WATCHER_H_
#define TESTS_E2E_MESSAGE_BOX_WATCHER_H_

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct BoxButton {
  int id;             // command id: IDOK is 1
  std::string label;  // as shown, with any '&'
};

// What one message box shows.
struct BoxContent {
  std::string caption;
  std::string text;  // the dialog item 0xFFFF
  std::vector<BoxButton> buttons;
  bool has_icon = false;  // some static control of the box holds an icon
  bool has_owner = false;
  RECT rect = {0, 0, 0, 0};  // screen rectangle, frame included
  DWORD pid = 0;             // the process that showed it
  // That process's peak commit so far (PeakPagefileUsage), 0 where unknown.
  SIZE_T peak_commit = 0;
};

// One run of a program that is expected to end with message boxes.
struct BoxedRun {
  bool started = false;            // CreateProcess succeeded
  std::vector<BoxContent> boxes;   // every box seen, in order; each was answered with OK
  bool exited = false;             // the process ended within the time limit
  DWORD exit_code = STILL_ACTIVE;  // valid when exited
  DWORD pid = 0;                   // the process started
  std::vector<DWORD> processes;    // every process of its file name seen, each once
};

// Returns a visible top-level dialog window (class #32770) of process pid, or
// null when it has none.
HWND FindMessageBox(DWORD pid);

// Like FindMessageBox, for any running process whose executable file is named
// image_name (no folder; letter case ignored). Its id goes to *pid if found.
HWND FindMessageBoxOf(const char* image_name, DWORD* pid);

// Reads a box's caption, text, buttons, owner and icon. The icon test asks
// every static control for its icon rather than looking for a known control:
// Wine's boxes always carry an icon control (id 0x0440), empty for MB_OK.
BoxContent ReadMessageBox(HWND box);

// Answers the box as its OK button would. Returns false if it has no OK
// button or the request could not be posted.
bool PressOk(HWND box);

// Starts program (a full path) in working_dir, answers each message box that
// a process of its file name shows with OK after reading it (the program may
// start itself again), and waits for the one started to end. After timeout_ms
// (times the whole number in ORVANE_WAIT_SCALE, where a machine starts such a
// program slowly: 32-bit Wine under emulation) without an exit the process is
// terminated and exited stays false. The
// program gets environment (a block as CreateProcessA takes it: NAME=value
// strings, each with its terminator, then one more), or this process's own
// environment when it is null; and token (a primary token, for
// CreateProcessAsUserA), or this process's own when it is null. At the time
// limit every process of the file name seen is ended.
BoxedRun RunAndAnswer(const std::string& program, const std::string& working_dir, DWORD timeout_ms,
                      const char* environment = NULL, HANDLE token = NULL);

// Full path of a file in the folder of the running executable.
std::string BesideThisProgram(const char* file_name);

// The patcher that the executable and end-to-end tests examine: the file that
// the environment variable ORVANE_PATCHER names (a Windows path; the suite's
// signed check points it at the signed release), else built_name beside this
// program.
std::string PatcherUnderTest(const char* built_name);

}  // namespace e2e

#endif  // TESTS_E2E_MESSAGE_BOX_WATCHER_H_
