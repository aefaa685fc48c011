// Target names, index lists and full paths.
#include "discovery/target_indices.h"

#include "driver/text_helpers.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

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

}  // namespace

// Registry value names match case-insensitively; only ASCII letters fold
// here, since other letters fold by rules this does not know (and the walk
// lists no names for a prefix that is not ASCII).
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

int IsAscii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return 0;
  }
  return 1;
}

// 'C:' is what the separator drop leaves of 'C:\'. Win32 resolves anything
// else against the current folder or drive, so an update would land wherever
// the patcher was started from. Each byte looked at starts the text or
// follows a single-byte character, so in the Windows DBCS code pages it is
// never a trail byte.
int IsFullPath(const char* directory) {
  char first = directory[0];
  if (first == '\\' || first == '/') return directory[1] == '\\' || directory[1] == '/';
  char drive = AsciiUpper(first);
  if (drive < 'A' || drive > 'Z' || directory[1] != ':') return 0;
  return directory[2] == '\\' || directory[2] == '/' || directory[2] == '\0';
}

TargetIndexList::~TargetIndexList() { ReleaseBlock(indices_); }

int TargetIndexList::Reserve(DWORD capacity) {
  if (indices_ != NULL || capacity > MAXDWORD / sizeof(int)) return 0;
  indices_ = static_cast<int*>(AllocBlock((capacity > 0 ? capacity : 1) * sizeof(int)));
  if (indices_ == NULL) return 0;
  capacity_ = capacity;
  return 1;
}

int TargetIndexList::Add(int index) {
  if (size_ == capacity_) return 0;
  indices_[size_++] = index;
  return 1;
}

void TargetIndexList::SortUnique() {
  SortIndices(indices_, size_);
  DWORD kept = 0;
  for (DWORD k = 0; k < size_; ++k) {
    if (kept == 0 || indices_[k] != indices_[kept - 1]) indices_[kept++] = indices_[k];
  }
  size_ = kept;
}

int TargetIndexSource::Next(int* index) {
  if (listed_) {
    if (at_ == list_.size()) return 0;
    *index = list_.at(at_++);
    return 1;
  }
  if (next_ >= end_) return 0;
  *index = next_++;
  return 1;
}

DWORD TargetIndexSource::Gap() {
  if (gap_seen_) return 0;
  gap_seen_ = 1;
  return static_cast<DWORD>(end_ - next_);
}

TargetIndexList* TargetIndexSource::ListInstead() {
  listed_ = 1;
  return &list_;
}
