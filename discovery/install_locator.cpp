// Product lookup and target walk.
#include "discovery/install_locator.h"

#include "driver/text_helpers.h"

namespace {

const char kInstalledPath[] = "SOFTWARE\\Varnex\\SoftWareInstalled";
const char kIdName[] = "SoftWareID";
const char kProductId[] = "Varnex_Quendal";
const char kCountName[] = "TargetNum";
const char kTargetPrefix[] = "Target";
const char kConfigSuffix[] = "\\Bin\\config.ini";

// Size of the value-name buffer; "%s%d" adds at most 11 characters to the prefix.
const int kValueNameSize = 64;
const int kMaxPrefixLength = kValueNameSize - 12;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Returns the index that name carries when it is spelled exactly as "%s%d"
// would spell it from prefix and a non-negative int, or -1. Registry value
// names match case-insensitively, so the prefix does too.
int TargetIndexOf(const char* name, const char* prefix) {
  int at = 0;
  for (; prefix[at] != '\0'; ++at) {
    if (AsciiUpper(name[at]) != AsciiUpper(prefix[at])) return -1;
  }
  const char* digits = name + at;
  if (digits[0] < '0' || digits[0] > '9') return -1;
  if (digits[0] == '0' && digits[1] != '\0') return -1;
  long long index = 0;
  for (const char* d = digits; *d != '\0'; ++d) {
    if (*d < '0' || *d > '9') return -1;
    index = index * 10 + (*d - '0');
    if (index > 0x7FFFFFFF) return -1;
  }
  return static_cast<int>(index);
}

}  // namespace

int InstallLocator::Run(TargetCallback callback, void* context) {
  char* record = FindProductKey(kInstalledPath, kIdName, kProductId);
  if (record == NULL) return 0;
  int result = ForEachTarget(record, kCountName, kTargetPrefix, callback, context);
  ReleaseString(record);
  return result;
}

char* InstallLocator::FindProductKey(const char* parent_path, const char* id_name,
                                     const char* expected_id) {
  if (parent_path == NULL || id_name == NULL || expected_id == NULL) return NULL;
  HKEY parent = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent_path, 0, KEY_ENUMERATE_SUB_KEYS, &parent) !=
      ERROR_SUCCESS) {
    return NULL;
  }
  char* found = NULL;
  for (DWORD index = 0;; ++index) {
    char name[MAX_PATH];
    ZeroMemory(name, sizeof name);
    DWORD name_size = sizeof name;
    FILETIME written;
    if (RegEnumKeyExA(parent, index, name, &name_size, NULL, NULL, NULL, &written) !=
        ERROR_SUCCESS) {
      break;
    }
    char* candidate = JoinStrings(parent_path, "\\", name);
    // Out of memory: stop rather than let a later record win over this one.
    if (candidate == NULL) break;
    if (ValueEquals(candidate, id_name, expected_id)) {
      found = candidate;
      break;
    }
    ReleaseString(candidate);
  }
  RegCloseKey(parent);
  return found;
}

int InstallLocator::HoldsText(HKEY record, const char* value_name) {
  DWORD type = 0;
  DWORD size = 0;
  return RegQueryValueExA(record, value_name, NULL, &type, NULL, &size) == ERROR_SUCCESS &&
         type == REG_SZ && size > 0;
}

int InstallLocator::NextTargetIndex(HKEY record, const char* prefix, int after) {
  int next = -1;
  for (DWORD index = 0;; ++index) {
    char name[kValueNameSize];
    DWORD name_size = sizeof name;
    LONG status = RegEnumValueA(record, index, name, &name_size, NULL, NULL, NULL, NULL);
    // A name too long for the buffer cannot be one of ours; skip it.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    int target = TargetIndexOf(name, prefix);
    if (target > after && (next < 0 || target < next)) next = target;
  }
  return next;
}

int InstallLocator::ForEachTarget(const char* record_path, const char* count_name,
                                  const char* prefix, TargetCallback callback, void* context) {
  if (record_path == NULL || count_name == NULL || prefix == NULL) return 0;
  if (lstrlenA(prefix) > kMaxPrefixLength) return 0;
  HKEY record = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, record_path, 0, KEY_QUERY_VALUE, &record) !=
      ERROR_SUCCESS) {
    return -1;
  }
  DWORD count = 0;
  if (QueryValue(record, count_name, reinterpret_cast<BYTE*>(&count), sizeof count) != REG_DWORD ||
      count == 0) {
    RegCloseKey(record);
    return 0;
  }
  int result = -1;
  // A count of 0x80000000 or more is negative and visits nothing.
  int end = static_cast<int>(count);
  for (int i = 0; i < end; ++i) {
    char name[kValueNameSize];
    ZeroMemory(name, sizeof name);
    wsprintfA(name, "%s%d", prefix, i);
    char text[kRegTextSize];
    ZeroMemory(text, sizeof text);
    int type = QueryValue(record, name, reinterpret_cast<BYTE*>(text), sizeof text);
    if (type == -1 && HoldsText(record, name)) {
      // The target is there but could not be read (no memory for the read, or
      // it changed meanwhile): it is not updated, so it must not pass as done.
      result = -1;
      break;
    }
    if (type == -1) {
      // Nothing to read at i, and maybe for a long way: a count may be far
      // larger than the record's targets. Go on at the next index the record
      // holds a value for, instead of querying up to two billion names.
      int next = NextTargetIndex(record, prefix, i);
      if (next < 0) break;
      i = next - 1;
      continue;
    }
    if (type != REG_SZ) continue;
    int updated = 0;
    // A text cut at the buffer's end names no directory we could trust.
    if (FitsWithin(text, sizeof text)) {
      char* comma = FindLastChar(text, ',');
      if (comma != NULL) *comma = '\0';
      TrimSpaces(text);
      updated = ProcessTarget(text, callback, context);
    }
    if (!updated) {
      result = -1;
      break;
    }
    result = 1;
  }
  RegCloseKey(record);
  return result;
}

int InstallLocator::ProcessTarget(char* directory, TargetCallback callback, void* context) {
  if (directory == NULL || directory[0] == '\0') return 0;
  if (callback == NULL) return 0;
  // CharPrevA steps over a double-byte character as a whole, so a trail byte
  // 0x5C (U+4E57 is 81 5C in code page 936) is not taken for a separator.
  char* end = directory + lstrlenA(directory);
  char* last = CharPrevA(directory, end);
  if (*last == '\\' || *last == '/') *last = '\0';
  // '\' alone would leave the root of the current drive.
  if (directory[0] == '\0') return 0;
  char* config_path = JoinStrings(directory, "", kConfigSuffix);
  if (config_path == NULL) return 0;
  int result = callback(directory, config_path, context);
  ReleaseString(config_path);
  return result;
}
