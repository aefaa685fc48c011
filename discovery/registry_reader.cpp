// InstallLocator's registry reads (QueryValue, ReadValue, ValueEquals), typed
// reads into caller buffers; its lookup and walk are in install_locator.cpp.
#include "discovery/install_locator.h"
#include "driver/text_helpers.h"

int InstallLocator::QueryValue(HKEY key, const char* value_name, BYTE* buffer, DWORD buffer_size) {
  if (key == NULL || value_name == NULL || buffer == NULL) return -1;
  DWORD type = 0;
  DWORD size = 0;
  // Without a data buffer the registry reports the type and the full size,
  // a string's stored terminator included.
  if (RegQueryValueExA(key, value_name, NULL, &type, NULL, &size) != ERROR_SUCCESS || size == 0) {
    return -1;
  }
  BYTE* block = static_cast<BYTE*>(AllocBlock(size));
  if (block == NULL) return -1;
  ZeroMemory(block, size);
  int result = -1;
  // A value that grew since the first query fails here with ERROR_MORE_DATA.
  if (RegQueryValueExA(key, value_name, NULL, &type, block, &size) == ERROR_SUCCESS) {
    CopyMemory(buffer, block, size < buffer_size ? size : buffer_size);
    result = static_cast<int>(type);
  }
  ReleaseBlock(block);
  return result;
}

int InstallLocator::ReadValue(HKEY root, const char* sub_key, const char* value_name, BYTE* buffer,
                              DWORD buffer_size) {
  if (root == NULL || value_name == NULL || buffer == NULL) return -1;
  HKEY key = NULL;
  if (RegOpenKeyExA(root, sub_key, 0, KEY_QUERY_VALUE | kRecordView, &key) != ERROR_SUCCESS) {
    return -1;
  }
  int result = QueryValue(key, value_name, buffer, buffer_size);
  RegCloseKey(key);
  return result;
}

int InstallLocator::ValueEquals(const char* sub_key, const char* value_name, const char* expected) {
  if (sub_key == NULL || value_name == NULL || expected == NULL) return 0;
  char text[kRegTextSize];
  ZeroMemory(text, sizeof text);
  int type = ReadValue(HKEY_LOCAL_MACHINE, sub_key, value_name, reinterpret_cast<BYTE*>(text),
                       sizeof text);
  // A text cut at the buffer's end is not the value and must not be compared
  // past it.
  if (type != REG_SZ || !FitsWithin(text, sizeof text)) return 0;
  // lstrcmpA is a locale word sort that treats some characters (the soft
  // hyphen under code page 1252) as absent; equal lengths keep it exact.
  return lstrlenA(text) == lstrlenA(expected) && lstrcmpA(text, expected) == 0;
}
