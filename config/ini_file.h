// Writes string and integer values into one INI file through the platform's
// profile functions.
#ifndef CONFIG_INI_FILE_H_
#define CONFIG_INI_FILE_H_

#include <windows.h>

class IniFile {
 public:
  IniFile();

  // Replaces the file's path; a null or empty path keeps the previous one. A
  // path longer than 259 characters is cut to its first 259.
  virtual void SetPath(const char* new_path);

  virtual ~IniFile();

  // Sets key = value in section, creating the file, section and key as needed.
  // Returns nonzero on success, 0 when the platform refuses the write. With an
  // empty path nothing is written and the result is 1.
  int WriteString(const char* section, const char* key, const char* value);

  // As WriteString, with the value in signed decimal.
  int WriteInt(const char* section, const char* key, int value);

 protected:
  char path[MAX_PATH];
};

#endif  // CONFIG_INI_FILE_H_
