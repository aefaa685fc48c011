// INI file writer.
#include "config/ini_file.h"

IniFile::IniFile() { ZeroMemory(path, sizeof path); }

IniFile::~IniFile() {}

void IniFile::SetPath(const char* new_path) {
  if (new_path == NULL || new_path[0] == '\0') return;
  lstrcpynA(path, new_path, sizeof path);
}

int IniFile::WriteString(const char* section, const char* key, const char* value) {
  if (path[0] == '\0') return 1;
  return WritePrivateProfileStringA(section, key, value, path);
}

int IniFile::WriteInt(const char* section, const char* key, int value) {
  char text[32];
  ZeroMemory(text, sizeof text);
  wsprintfA(text, "%d", value);
  return WriteString(section, key, text);
}
