// Writes string and integer values into one INI file through the platform's
// profile functions.
#ifndef CONFIG_INI_FILE_H_
#define CONFIG_INI_FILE_H_

#include <windows.h>

// How long the writes to one file may wait, in all, for another program to
// let go of it (a virus scanner or a backup agent that opened it just after a
// write), and the pause between two tries, in milliseconds.
const DWORD kBusyWaitLimit = 2000;
const DWORD kBusyRetryPause = 50;

class IniFile {
 public:
  IniFile();

  // Replaces the file's path and gives the new file the whole waiting time; a
  // null or empty path keeps the previous path and what is left of its time.
  // A path longer than 259 characters is cut to its first 259.
  virtual void SetPath(const char* new_path);

  virtual ~IniFile();

  // Sets key = value in section, creating the file, section and key as needed.
  // Returns nonzero on success, 0 when the platform refuses the write. A write
  // refused because another program holds the file (a sharing or lock
  // violation) is tried again until it succeeds or the file's waiting time is
  // spent; once spent, later writes to the file are tried once. With an empty
  // path nothing is written and the result is 1.
  int WriteString(const char* section, const char* key, const char* value);

  // As WriteString, with the value in signed decimal.
  int WriteInt(const char* section, const char* key, int value);

 protected:
  char path[MAX_PATH];

 private:
  // Milliseconds this file may still be waited for.
  DWORD wait_left_;
};

#endif  // CONFIG_INI_FILE_H_
