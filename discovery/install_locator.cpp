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

// What one step of the walk found: at an index, or at the end of the indices.
enum WalkStep {
  kTargetUpdated,
  kTargetFailed,
  kTargetSkipped,
  kTargetAbsent,
  kNoIndexLeft,
  // The indices left could not be listed: the rest of the walk is unknown.
  kIndicesUnknown
};

// The one place where a step meets the run's result. Returns 0 once the walk
// is over: a failed target or an unknown rest fails the run whatever came
// before, an updated target makes it a success unless a later one fails.
int Tally(WalkStep step, int* result) {
  switch (step) {
    case kTargetUpdated:
      *result = kRunUpdated;
      return 1;
    case kTargetSkipped:
    case kTargetAbsent:
      return 1;
    case kNoIndexLeft:
      return 0;
    default:
      *result = kRunFailed;
      return 0;
  }
}

// The indices below `end` that the walk visits, ascending: every one in turn
// while the record holds a value at each. A count may be far larger than the
// record (up to two billion queries): at the first missing index, once the
// indices left outnumber the record's values, one pass over those values
// tells which indices are worth a query.
class TargetIndexSource {
 public:
  TargetIndexSource(HKEY record, const char* prefix, int end)
      : record_(record),
        prefix_(prefix),
        end_(end),
        next_(0),
        gap_seen_(0),
        listed_(0),
        unknown_(0),
        at_(0) {}
  virtual ~TargetIndexSource() {}

  // Sets *index to the next index to visit and returns 1, or returns 0 when
  // none is left. `absent`: the index given last held no value.
  int Next(int absent, int* index) {
    if (!listed_ && absent && !gap_seen_) {
      // Only the first gap decides: past it the indices left only shrink.
      gap_seen_ = 1;
      DWORD values = ListableValues();
      if (static_cast<DWORD>(end_ - next_) > values) {
        listed_ = 1;
        unknown_ = !Collect(next_ - 1, values);
      }
    }
    if (listed_) {
      if (unknown_ || at_ == list_.size()) return 0;
      *index = list_.at(at_++);
      return 1;
    }
    if (next_ >= end_) return 0;
    *index = next_++;
    return 1;
  }

  // Why Next gave no index: the end, or a rest that could not be listed.
  WalkStep End() const { return unknown_ ? kIndicesUnknown : kNoIndexLeft; }

 private:
  // How many values the record holds, or MAXDWORD when the walk cannot list
  // them by name (a prefix that is not ASCII) or the count fails: the walk
  // then stays index by index, slow but not wrong.
  DWORD ListableValues() const {
    DWORD values = 0;
    if (!IsAscii(prefix_) || RegQueryInfoKeyA(record_, NULL, NULL, NULL, NULL, NULL, NULL, &values,
                                              NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
      return MAXDWORD;
    }
    return values;
  }

  // Lists the indices in (after, end_) at which the record holds a REG_SZ
  // value named as the walk names its targets, from one pass over its values
  // and with room for `capacity` of them. Returns 1 when the list is
  // complete; 0 when there is no memory for it, the record holds more values
  // than that or they cannot be listed to the end. The names are only
  // candidates: each is read again by its own spelling before use, so a name
  // that merely looks like one in the ANSI code page (a best-fit conversion)
  // does no harm.
  int Collect(int after, DWORD capacity) {
    if (!list_.Reserve(capacity)) return 0;
    for (DWORD index = 0;; ++index) {
      char name[kValueNameSize];
      DWORD name_size = sizeof name;
      DWORD type = 0;
      LONG status = RegEnumValueA(record_, index, name, &name_size, NULL, &type, NULL, NULL);
      if (status == ERROR_NO_MORE_ITEMS) break;
      // A name too long for the buffer cannot be one of ours.
      if (status == ERROR_MORE_DATA) continue;
      if (status != ERROR_SUCCESS) return 0;
      // The walk skips every other type unread, so the list need not hold it.
      if (type != REG_SZ) continue;
      int target = TargetIndexOf(name, prefix_);
      if (target <= after || target >= end_) continue;
      if (!list_.Add(target)) return 0;
    }
    // The registry promises no order (Wine sorts names as text: Target10
    // before Target2).
    list_.SortUnique();
    return 1;
  }

  HKEY record_;
  const char* prefix_;
  int end_;
  int next_;
  int gap_seen_;
  int listed_;
  int unknown_;
  DWORD at_;
  TargetIndexList list_;
};

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
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, record_path, 0, KEY_QUERY_VALUE, &record) !=
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
  TargetIndexSource indices(record, prefix, static_cast<int>(count));
  int result = kRunFailed;
  int index = 0;
  for (WalkStep step = kTargetSkipped; Tally(step, &result);) {
    step = indices.Next(step == kTargetAbsent, &index)
               ? VisitTarget(this, record, prefix, index, callback, context)
               : indices.End();
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
