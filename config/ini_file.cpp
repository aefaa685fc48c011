// INI file writer.
#include "config/ini_file.h"

IniFile::IniFile() : wait_left_(kBusyWaitLimit) { ZeroMemory(path, sizeof path); }

IniFile::~IniFile() {}

void IniFile::SetPath(const char* new_path) {
  if (new_path == NULL || new_path[0] == '\0') return;
  lstrcpynA(path, new_path, sizeof path);
  wait_left_ = kBusyWaitLimit;
}

int IniFile::WriteString(const char* section, const char* key, const char* value) {
  if (path[0] == '\0') return 1;
  for (;;) {
    DWORD started = GetTickCount();
    int written = WritePrivateProfileStringA(section, key, value, path);
    if (written) return written;
    // Another program has the file open without sharing it for writing, or
    // holds a lock on part of it: both pass, so wait. Any other refusal (no
    // folder, no access, a folder in its place) would not go away by waiting.
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || wait_left_ == 0) {
      return 0;
    }
    Sleep(wait_left_ < kBusyRetryPause ? wait_left_ : kBusyRetryPause);
    // At least the pause counts, however coarse the tick (10 to 16 ms on
    // Windows), so the waiting ends.
    DWORD spent = GetTickCount() - started;
    if (spent < kBusyRetryPause) spent = kBusyRetryPause;
    wait_left_ = spent < wait_left_ ? wait_left_ - spent : 0;
  }
}

int IniFile::WriteInt(const char* section, const char* key, int value) {
  char text[32];
  ZeroMemory(text, sizeof text);
  wsprintfA(text, "%d", value);
  return WriteString(section, key, text);
}
