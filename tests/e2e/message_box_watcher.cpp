// Message boxes of another process, read and answered through Win32.
#include "tests/e2e/message_box_watcher.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>

namespace e2e {

namespace {

struct BoxSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM param) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
  DWORD owner_pid = 0;
  GetWindowThreadProcessId(window, &owner_pid);
  if (owner_pid != search->pid || !IsWindowVisible(window)) return TRUE;
  char class_name[16] = {0};
  GetClassNameA(window, class_name, sizeof class_name);
  if (lstrcmpA(class_name, "#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

std::string WindowText(HWND window) {
  char text[1024] = {0};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  BoxContent* content = reinterpret_cast<BoxContent*>(param);
  char class_name[16] = {0};
  GetClassNameA(child, class_name, sizeof class_name);
  if (lstrcmpiA(class_name, "Button") == 0 && IsWindowVisible(child)) {
    content->buttons.push_back({GetDlgCtrlID(child), WindowText(child)});
  } else if (lstrcmpiA(class_name, "Static") == 0) {
    if (SendMessageA(child, STM_GETICON, 0, 0) != 0) content->has_icon = true;
  }
  return TRUE;
}

// The whole number in ORVANE_WAIT_SCALE, or 1 where it holds none.
DWORD WaitScale() {
  char text[16] = {0};
  DWORD length = GetEnvironmentVariableA("ORVANE_WAIT_SCALE", text, sizeof text);
  DWORD scale = 0;
  for (DWORD i = 0; i < length && i < sizeof text && text[i] >= '0' && text[i] <= '9'; ++i) {
    scale = scale * 10 + static_cast<DWORD>(text[i] - '0');
  }
  return length == 0 || length >= sizeof text || scale == 0 || scale > 1000 ? 1 : scale;
}

// The running processes whose executable file is named image_name.
std::vector<DWORD> ProcessesOf(const char* image_name) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    const char* name = entry.szExeFile;
    for (const char* p = entry.szExeFile; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '/') name = p + 1;
    }
    if (lstrcmpiA(name, image_name) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

void NoteProcesses(const char* image_name, std::vector<DWORD>* seen) {
  for (DWORD process : ProcessesOf(image_name)) {
    if (std::find(seen->begin(), seen->end(), process) == seen->end()) seen->push_back(process);
  }
}

}  // namespace

HWND FindMessageBox(DWORD pid) {
  BoxSearch search = {pid, NULL};
  EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindMessageBoxOf(const char* image_name, DWORD* pid) {
  for (DWORD process : ProcessesOf(image_name)) {
    HWND found = FindMessageBox(process);
    if (found == NULL) continue;
    if (pid != NULL) *pid = process;
    return found;
  }
  return NULL;
}

BoxContent ReadMessageBox(HWND box) {
  BoxContent content;
  content.caption = WindowText(box);
  char text[1024] = {0};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  content.text = text;
  content.has_owner = GetWindow(box, GW_OWNER) != NULL;
  GetWindowRect(box, &content.rect);
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  PROCESS_MEMORY_COUNTERS memory;
  ZeroMemory(&memory, sizeof memory);
  if (process != NULL && GetProcessMemoryInfo(process, &memory, sizeof memory)) {
    content.peak_commit = memory.PeakPagefileUsage;
  }
  if (process != NULL) CloseHandle(process);
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&content));
  return content;
}

bool PressOk(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok == NULL) return false;
  // A posted command works whether or not the box is the active window,
  // which a simulated click (BM_CLICK) would need.
  return PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(ok)) != 0;
}

BoxedRun RunAndAnswer(const std::string& program, const std::string& working_dir, DWORD timeout_ms,
                      const char* environment, HANDLE token) {
  BoxedRun run;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  std::string command = "\"" + program + "\"";
  char* block = const_cast<char*>(environment);
  const BOOL started =
      token == NULL ? CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, block,
                                     working_dir.c_str(), &startup, &process)
                    : CreateProcessAsUserA(token, program.c_str(), &command[0], NULL, NULL, FALSE,
                                           0, block, working_dir.c_str(), &startup, &process);
  if (!started) return run;
  run.started = true;
  run.pid = process.dwProcessId;
  CloseHandle(process.hThread);
  const size_t slash = program.find_last_of("\\/");
  const std::string image = slash == std::string::npos ? program : program.substr(slash + 1);
  const DWORD start = GetTickCount();
  const DWORD waited = timeout_ms * WaitScale();
  HWND answered = NULL;
  while (GetTickCount() - start < waited) {
    if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
      run.exited = true;
      break;
    }
    NoteProcesses(image.c_str(), &run.processes);
    DWORD owner = 0;
    HWND box = FindMessageBoxOf(image.c_str(), &owner);
    // A box stays listed for a moment after OK; each one is counted once.
    if (box == NULL || box == answered) continue;
    run.boxes.push_back(ReadMessageBox(box));
    run.boxes.back().pid = owner;
    PressOk(box);
    answered = box;
  }
  if (run.exited) {
    GetExitCodeProcess(process.hProcess, &run.exit_code);
  } else {
    for (DWORD seen : run.processes) {
      HANDLE other = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, seen);
      if (other == NULL) continue;
      TerminateProcess(other, 255);
      WaitForSingleObject(other, 5000);
      CloseHandle(other);
    }
    TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  return run;
}

std::string BesideThisProgram(const char* file_name) {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(NULL, path, sizeof path);
  std::string folder = path;
  size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? "" : folder.substr(0, slash + 1);
  return folder + file_name;
}

std::string PatcherUnderTest(const char* built_name) {
  std::string path(32768, '\0');
  DWORD length =
      GetEnvironmentVariableA("ORVANE_PATCHER", &path[0], static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return BesideThisProgram(built_name);
  path.resize(length);
  return path;
}

}  // namespace e2e
