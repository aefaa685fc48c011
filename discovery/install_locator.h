// Finds the product's installation record in HKEY_LOCAL_MACHINE (as a 32-bit
// process sees it), walks its target directories and hands each one, with the
// path of its config file, to a callback.
#ifndef DISCOVERY_INSTALL_LOCATOR_H_
#define DISCOVERY_INSTALL_LOCATOR_H_

#include <windows.h>

// Results of a run (Run, ForEachTarget), as the entry tells them to the user.
const int kRunUpdated = 1;    // at least one target updated, none failed
const int kRunFailed = -1;    // something the run needed failed
const int kNotInstalled = 0;  // no record, or no usable target count

// Per-target callback: the cleaned target directory, the path of its config
// file (valid only during the call) and the context given to Run. Returns
// nonzero when the target was updated, 0 when it failed.
typedef int (*TargetCallback)(const char* directory, const char* config_path, void* context);

// Size in bytes of the buffers that registry strings are read into.
const DWORD kRegTextSize = MAX_PATH;

// The registry view of every key opened: the 32-bit one, where the product's
// 32-bit installer writes its record. A 32-bit process on 64-bit Windows sees
// that view anyway and 32-bit Windows ignores the flag; it says so in the code
// and keeps a 64-bit build of the same sources on the same records.
const REGSAM kRecordView = KEY_WOW64_32KEY;

// All operations are read-only on the registry and close every key they open.
class InstallLocator {
 public:
  InstallLocator() {}
  virtual ~InstallLocator() {}

  // Finds the product's record and walks its targets. Returns kNotInstalled
  // when no record is the product's, else ForEachTarget's result.
  int Run(TargetCallback callback, void* context);

  // Returns the full path (under HKEY_LOCAL_MACHINE) of the first subkey of
  // parent_path whose REG_SZ value id_name equals expected_id, or null. A
  // subkey whose name takes 260 bytes or more in the ANSI code page is passed
  // over. The caller releases it with ReleaseString.
  char* FindProductKey(const char* parent_path, const char* id_name, const char* expected_id);

  // Hands the callback the targets prefix0, prefix1, ... below the record's
  // REG_DWORD count, in index order, until one fails. Missing targets, those
  // that are not a REG_SZ and those of size 0 are skipped. A target fails when
  // its text cannot be read (no memory, or it changed while read), arrives cut
  // at kRegTextSize bytes, names no full path or the callback answers 0.
  // Returns kRunUpdated when a target was updated and none failed.
  // Returns kNotInstalled when a name is null, the prefix is longer than 52
  // characters, or the count is missing, not a REG_DWORD, or 0.
  // Returns kRunFailed when the record cannot be opened, a target fails, no
  // target was updated (all of them missing or skipped, or the count is
  // 0x80000000 or more, which is negative), or, for a count that reaches past
  // the first missing target by more than the record has values, the values
  // cannot be listed to the end (no memory for the list, an error part way,
  // or values added while listed).
  int ForEachTarget(const char* record_path, const char* count_name, const char* prefix,
                    TargetCallback callback, void* context);

  // Drops one trailing '\' or '/' from directory (in place), builds its config
  // path and calls the callback. Returns the callback's answer, or 0 when the
  // directory is null or empty, is not a full path after the drop (a drive
  // and its root, or a UNC path), the callback is null or the path can't be
  // built.
  int ProcessTarget(char* directory, TargetCallback callback, void* context);

  // Reads value_name of an open key into buffer, copying at most buffer_size
  // bytes and nothing beyond them. Returns the value's registry type, or -1
  // when nothing was copied (buffer untouched).
  int QueryValue(HKEY key, const char* value_name, BYTE* buffer, DWORD buffer_size);

  // As QueryValue, for the value of sub_key under root.
  int ReadValue(HKEY root, const char* sub_key, const char* value_name, BYTE* buffer,
                DWORD buffer_size);

  // Returns 1 if value_name under HKEY_LOCAL_MACHINE\sub_key is a REG_SZ that
  // equals expected (case-sensitive) and fits its buffer whole, else 0.
  int ValueEquals(const char* sub_key, const char* value_name, const char* expected);
};

#endif  // DISCOVERY_INSTALL_LOCATOR_H_
