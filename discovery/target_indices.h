// The walk's pure pieces, kept apart from the registry so that each can be
// tested alone: how a value name spells a target's index, the list of the
// indices a record holds, the order in which the walk visits indices, and
// which directory texts are full paths.
#ifndef DISCOVERY_TARGET_INDICES_H_
#define DISCOVERY_TARGET_INDICES_H_

#include <windows.h>

// Size of the value-name buffer; "%s%d" adds at most 11 characters to the prefix.
const int kValueNameSize = 64;
// The longest prefix whose every target name fits the value-name buffer.
const int kMaxPrefixLength = kValueNameSize - 12;

// Returns the index that name carries when it is spelled exactly as "%s%d"
// would spell it from prefix and a non-negative int, or -1. The prefix
// matches in any ASCII letter case, as registry value names do.
int TargetIndexOf(const char* name, const char* prefix);

// Returns 1 when every byte of text is below 0x80, else 0.
int IsAscii(const char* text);

// Returns 1 if directory is a full path: a drive letter, ':' and then '\',
// '/' or nothing, or two leading separators (UNC or device path); else 0.
int IsFullPath(const char* directory);

// A list of target indices in one heap block of a fixed capacity. The block
// is released with the list.
class TargetIndexList {
 public:
  TargetIndexList() : indices_(NULL), capacity_(0), size_(0) {}
  virtual ~TargetIndexList();

  // Makes room for `capacity` indices (once). Returns 1, or 0 when there is
  // no memory for them (the list stays empty).
  int Reserve(DWORD capacity);
  // Appends index. Returns 1, or 0 when the list is full (nothing written).
  int Add(int index);
  // Sorts the indices ascending and keeps each once.
  void SortUnique();

  DWORD size() const { return size_; }
  int at(DWORD k) const { return indices_[k]; }

  TargetIndexList(const TargetIndexList&) = delete;
  TargetIndexList& operator=(const TargetIndexList&) = delete;

 private:
  int* indices_;
  DWORD capacity_;
  DWORD size_;
};

// The indices below `end` that the walk visits, ascending: each in turn until
// the first that holds no value (the first gap). Past it the walk may list
// the record's values once instead, and then visits only the indices listed:
// a count may be far larger than the record (up to two billion queries).
class TargetIndexSource {
 public:
  explicit TargetIndexSource(int end) : end_(end), next_(0), gap_seen_(0), listed_(0), at_(0) {}
  virtual ~TargetIndexSource() {}

  // Sets *index to the next index to visit and returns 1, or returns 0 when
  // none is left. An end of 0 or less gives none.
  int Next(int* index);
  // Tells that the index given last held no value. Returns how many indices
  // are left past it when it is the first gap, else 0: only the first gap
  // decides, since past it the indices left only shrink.
  DWORD Gap();
  // From now on Next gives the indices of the list returned, and no other.
  // The caller fills it (ascending, each once, all past the gap) before the
  // next call of Next.
  TargetIndexList* ListInstead();

  TargetIndexSource(const TargetIndexSource&) = delete;
  TargetIndexSource& operator=(const TargetIndexSource&) = delete;

 private:
  int end_;
  int next_;
  int gap_seen_;
  int listed_;
  DWORD at_;
  TargetIndexList list_;
};

#endif  // DISCOVERY_TARGET_INDICES_H_
