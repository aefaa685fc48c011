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

int IsAscii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return 0;
  }
  return 1;
}

// Returns the index that name carries when it is spelled exactly as "%s%d"
// would spell it from prefix and a non-negative int, or -1. Registry value
// names match case-insensitively, so the prefix does too (ASCII prefixes
// only: other letters fold by rules this does not know).
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

// Sorts ascending in place, in O(n log n) whatever the input (a heap sort:
// the C++ library's sort would bring in the C runtime's memmove).
void SortIndices(int* items, DWORD size) {
  for (DWORD built = 1; built < size; ++built) {
    for (DWORD child = built; child > 0 && items[(child - 1) / 2] < items[child];) {
      DWORD parent = (child - 1) / 2;
      int swap = items[parent];
      items[parent] = items[child];
      items[child] = swap;
      child = parent;
    }
  }
  for (DWORD last = size; last > 1;) {
    --last;
    int top = items[0];
    items[0] = items[last];
    items[last] = top;
    for (DWORD parent = 0;;) {
      DWORD child = 2 * parent + 1;
      if (child >= last) break;
      if (child + 1 < last && items[child + 1] > items[child]) ++child;
      if (items[parent] >= items[child]) break;
      int swap = items[parent];
      items[parent] = items[child];
      items[child] = swap;
      parent = child;
    }
  }
}

// The indices in (after, end) at which a record holds a REG_SZ value named
// as the walk names its targets, ascending and each once, from one pass over
// the record's values. The names are only candidates: each is read again by
// its own spelling before use, so a name that merely looks like one in the
// ANSI code page (a best-fit conversion) does no harm.
class TargetIndexList {
 public:
  TargetIndexList() : indices_(NULL), size_(0) {}
  virtual ~TargetIndexList() { ReleaseBlock(indices_); }

  // Lists the record's candidates, with room for `capacity` of them. Returns
  // 1 when the list is complete; 0 when there is no memory for it, the record
  // holds more values than that or its values cannot be listed to the end.
  int Collect(HKEY record, const char* prefix, int after, int end, DWORD capacity) {
    if (capacity > MAXDWORD / sizeof(int)) return 0;
    indices_ = static_cast<int*>(AllocBlock((capacity > 0 ? capacity : 1) * sizeof(int)));
    if (indices_ == NULL) return 0;
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
      if (size_ == capacity) return 0;
      indices_[size_++] = target;
    }
    // The registry promises no order (Wine sorts names as text: Target10
    // before Target2).
    SortIndices(indices_, size_);
    DWORD kept = 0;
    for (DWORD k = 0; k < size_; ++k) {
      if (kept == 0 || indices_[k] != indices_[kept - 1]) indices_[kept++] = indices_[k];
    }
    size_ = kept;
    return 1;
  }

  DWORD size() const { return size_; }
  int at(DWORD k) const { return indices_[k]; }

 private:
  int* indices_;
  DWORD size_;
};

// How many values the open record holds, or MAXDWORD when the walk cannot
// list them by name (a prefix that is not ASCII) or the count fails: the walk
// then stays index by index, slow but not wrong.
DWORD ListableValues(HKEY record, const char* prefix) {
  DWORD values = 0;
  if (!IsAscii(prefix) || RegQueryInfoKeyA(record, NULL, NULL, NULL, NULL, NULL, NULL, &values,
                                           NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
    return MAXDWORD;
  }
  return values;
}

// 1 if directory is a full path: a drive and its root ('C:\App', 'C:/App',
// or 'C:', which the separator drop leaves of 'C:\') or a UNC or device path
// (two leading separators). Win32 resolves anything else against the current
// folder or drive, so the update would land wherever the patcher was started
// from. Each byte looked at starts the text or follows a single-byte
// character, so in the Windows DBCS code pages it is never a trail byte.
int IsFullPath(const char* directory) {
  char first = directory[0];
  if (first == '\\' || first == '/') return directory[1] == '\\' || directory[1] == '/';
  char drive = AsciiUpper(first);
  if (drive < 'A' || drive > 'Z' || directory[1] != ':') return 0;
  return directory[2] == '\\' || directory[2] == '/' || directory[2] == '\0';
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

InstallLocator::TargetOutcome InstallLocator::VisitTarget(HKEY record, const char* prefix,
                                                          int index, TargetCallback callback,
                                                          void* context) {
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
  int type = QueryValue(record, name, reinterpret_cast<BYTE*>(text), sizeof text);
  // The target is there but could not be read (no memory for the read, or it
  // changed meanwhile): it is not updated, so it must not pass as done.
  if (type == -1) return kTargetFailed;
  if (type != REG_SZ) return kTargetSkipped;
  // A text cut at the buffer's end names no directory we could trust.
  if (!FitsWithin(text, sizeof text)) return kTargetFailed;
  char* comma = FindLastChar(text, ',');
  if (comma != NULL) *comma = '\0';
  TrimSpaces(text);
  return ProcessTarget(text, callback, context) ? kTargetUpdated : kTargetFailed;
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
  const int end = static_cast<int>(count);
  // Index by index while the record holds a value at each. A count may be
  // far larger than the record (up to two billion queries): past a missing
  // index, once the indices left outnumber the record's values, one pass over
  // those values tells which indices are worth a query.
  DWORD values = 0;
  int gap_seen = 0;
  int i = 0;
  TargetOutcome outcome = kTargetSkipped;
  for (; i < end; ++i) {
    outcome = VisitTarget(record, prefix, i, callback, context);
    if (outcome == kTargetFailed) break;
    if (outcome == kTargetUpdated) result = 1;
    if (outcome != kTargetAbsent || gap_seen) continue;
    // Only the first gap decides: past it the indices left only shrink.
    gap_seen = 1;
    values = ListableValues(record, prefix);
    if (static_cast<DWORD>(end - 1 - i) > values) break;
  }
  if (outcome == kTargetFailed) {
    result = -1;
  } else if (i < end) {
    TargetIndexList later;
    // Without the list the rest of the walk is unknown: not a success.
    int complete = later.Collect(record, prefix, i, end, values);
    if (!complete) result = -1;
    for (DWORD k = 0; complete && k < later.size(); ++k) {
      outcome = VisitTarget(record, prefix, later.at(k), callback, context);
      if (outcome == kTargetFailed) {
        result = -1;
        break;
      }
      if (outcome == kTargetUpdated) result = 1;
    }
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
