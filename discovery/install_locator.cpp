// Product lookup and target walk.
#include "discovery/install_locator.h"

#include "discovery/target_indices.h"
#include "driver/text_helpers.h"

namespace {

const char kInstalledPath[] = "SOFTWARE\\Varnex\\SoftWareInstalled";
const char kIdName[] = "SoftWareID";
const char kProductId[] = "Varnex_Quendal";
const char kCountName[] = "TargetNum";
const char kTargetPrefix[] = "Target";
const char kConfigSuffix[] = "\\Bin\\config.ini";

// What the walk found at one index.
enum WalkStep { kTargetUpdated, kTargetFailed, kTargetSkipped, kTargetAbsent };

// How many values the record holds, or MAXDWORD when the walk cannot list
// them by name (a prefix that is not ASCII) or the count fails: the walk
// then stays index by index, slow but not wrong.
DWORD ListableValues(HKEY record, const char* prefix) {
  DWORD values = 0;
  if (!IsAscii(prefix) || RegQueryInfoKeyA(record, NULL, NULL, NULL, NULL, NULL, NULL, &values,
                                           NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
    return MAXDWORD;
  }
  return values;
}

// Lists into `list` the indices in (after, end) at which the record holds a
// REG_SZ value named as the walk names its targets, from one pass over its
// values and with room for `capacity` of them. Returns 1 when the list is
// complete; 0 when there is no memory for it, the record holds more values
// than that or they cannot be listed to the end. The names are only
// candidates: each is read again by its own spelling before use, so a name
// that merely looks like one in the ANSI code page (a best-fit conversion)
// does no harm.
int ListTargets(HKEY record, const char* prefix, int after, int end, DWORD capacity,
                TargetIndexList* list) {
  if (!list->Reserve(capacity)) return 0;
  for (DWORD index = 0;; ++index) {
    char name[kValueNameSize];
    DWORD name_size = sizeof name;
    DWORD type = 0;
    LONG status = RegEnumValueA(record, index, name, &name_size, NULL, &type, NULL, NULL);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // A name too long for the buffer cannot be one of ours.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return 0;
    // The walk skips every other type unread, so the list need not hold it.
    if (type != REG_SZ) continue;
    int target = TargetIndexOf(name, prefix);
    if (target <= after || target >= end) continue;
    if (!list->Add(target)) return 0;
  }
  // The registry promises no order (Wine sorts names as text: Target10
  // before Target2).
  list->SortUnique();
  return 1;
}

// Called at each index that held no value, `gap`. At the first, where the
// indices left outnumber the record's values, one pass over those tells which
// indices are worth a query, and only those are visited from then on.
// Returns 0 when they could not be listed, else 1.
int ListPastFirstGap(HKEY record, const char* prefix, int gap, int end,
                     TargetIndexSource* indices) {
  DWORD left = indices->Gap();
  if (left == 0) return 1;
  DWORD values = ListableValues(record, prefix);
  return left <= values || ListTargets(record, prefix, gap, end, values, indices->ListInstead());
}

// Reads the value prefix<index> of the open record and, when it is a
// non-empty REG_SZ, cleans it and processes it with ProcessTarget.
WalkStep VisitTarget(InstallLocator* locator, HKEY record, const char* prefix, int index,
                     TargetCallback callback, void* context) {
  char name[kValueNameSize];
  ZeroMemory(name, sizeof name);
  wsprintfA(name, "%s%d", prefix, index);
  // The type first, so that a value the walk skips (of any size) is not read.
  DWORD stored_type = 0;
  DWORD stored_size = 0;
  if (RegQueryValueExA(record, name, NULL, &stored_type, NULL, &stored_size) != ERROR_SUCCESS) {
    return kTargetAbsent;
  }
  if (stored_type != REG_SZ || stored_size == 0) return kTargetSkipped;
  char text[kRegTextSize];
  ZeroMemory(text, sizeof text);
  int type = locator->QueryValue(record, name, reinterpret_cast<BYTE*>(text), sizeof text);
  // The target is there but could not be read (no memory for the read, or it
  // changed meanwhile): it is not updated, so it must not pass as done.
  if (type == -1) return kTargetFailed;
  if (type != REG_SZ) return kTargetSkipped;
  // A text cut at the buffer's end names no directory we could trust.
  if (!FitsWithin(text, sizeof text)) return kTargetFailed;
  char* comma = FindLastChar(text, ',');
  if (comma != NULL) *comma = '\0';
  TrimSpaces(text);
  return locator->ProcessTarget(text, callback, context) ? kTargetUpdated : kTargetFailed;
}

}  // namespace

int InstallLocator::Run(TargetCallback callback, void* context) {
  char* record = FindProductKey(kInstalledPath, kIdName, kProductId);
  if (record == NULL) return kNotInstalled;
  int result = ForEachTarget(record, kCountName, kTargetPrefix, callback, context);
  ReleaseString(record);
  return result;
}

char* InstallLocator::FindProductKey(const char* parent_path, const char* id_name,
                                     const char* expected_id) {
  if (parent_path == NULL || id_name == NULL || expected_id == NULL) return NULL;
  HKEY parent = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent_path, 0, KEY_ENUMERATE_SUB_KEYS | kRecordView,
                    &parent) != ERROR_SUCCESS) {
    return NULL;
  }
  char* found = NULL;
  for (DWORD index = 0;; ++index) {
    char name[MAX_PATH];
    ZeroMemory(name, sizeof name);
    DWORD name_size = sizeof name;
    FILETIME written;
    LONG status = RegEnumKeyExA(parent, index, name, &name_size, NULL, NULL, NULL, &written);
    // A name of at most 255 characters may still take more than 259 bytes in
    // a multibyte ANSI code page (3 a Chinese character under 65001): that
    // record cannot be named here, but later ones can.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
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

int InstallLocator::ForEachTarget(const char* record_path, const char* count_name,
                                  const char* prefix, TargetCallback callback, void* context) {
  if (record_path == NULL || count_name == NULL || prefix == NULL) return kNotInstalled;
  if (lstrlenA(prefix) > kMaxPrefixLength) return kNotInstalled;
  HKEY record = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, record_path, 0, KEY_QUERY_VALUE | kRecordView, &record) !=
      ERROR_SUCCESS) {
    return kRunFailed;
  }
  DWORD count = 0;
  if (QueryValue(record, count_name, reinterpret_cast<BYTE*>(&count), sizeof count) != REG_DWORD ||
      count == 0) {
    RegCloseKey(record);
    return kNotInstalled;
  }
  // A count of 0x80000000 or more is negative: no index lies below it.
  const int end = static_cast<int>(count);
  TargetIndexSource indices(end);
  int result = kRunFailed;
  for (int index = 0; indices.Next(&index);) {
    WalkStep step = VisitTarget(this, record, prefix, index, callback, context);
    // A rest that cannot be listed is unknown: the run fails, whatever came before.
    if (step == kTargetAbsent && !ListPastFirstGap(record, prefix, index, end, &indices)) {
      step = kTargetFailed;
    }
    if (step == kTargetFailed) {
      result = kRunFailed;
      break;
    }
    if (step == kTargetUpdated) result = kRunUpdated;
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
  if (!IsFullPath(directory)) return 0;
  char* config_path = JoinStrings(directory, "", kConfigSuffix);
  if (config_path == NULL) return 0;
  int result = callback(directory, config_path, context);
  ReleaseString(config_path);
  return result;
}
