// Finds the product's installation record in HKEY_LOCAL_MACHINE (as a 32-bit
// process sees it), walks its target directories and hands each one, with the
// path of its config file, to a callback.
#ifndef DISCOVERY_INSTALL_LOCATOR_H_
#define DISCOVERY_INSTALL_LOCATOR_H_

#include <windows.h>

// Per-target callback: the cleaned target directory, the path of its config
// file (valid only during the call) and the context given to Run. Returns
// nonzero when the target was updated, 0 when it failed.
typedef int (*TargetCallback)(const char* directory, const char* config_path, void* context);

// Size in bytes of the buffers that registry strings are read into.
const DWORD kRegTextSize = MAX_PATH;

// All operations are read-only on the registry and close every key they open.
class InstallLocator {
 public:
  InstallLocator() {}
  virtual ~InstallLocator() {}

  // Finds the product's record and walks its targets. Returns 1 when at least
  // one target was updated and none failed, -1 on a failure, 0 when the
  // product is not installed or its record has no usable target count.
  int Run(TargetCallback callback, void* context);

  // Returns the full path (under HKEY_LOCAL_MACHINE) of the first subkey of
  // parent_path whose REG_SZ value id_name equals expected_id, or null. The
  // caller releases it with ReleaseString.
  char* FindProductKey(const char* parent_path, const char* id_name, const char* expected_id);

  // Reads the count value and the targets named prefix0, prefix1, ... of the
  // record and processes each target until one fails. Missing and non-string
  // targets are skipped; a string target that cannot be read, or arrives cut
  // at the buffer's end, fails. Returns 1, -1 or 0 as Run does; -1 also when
  // the record's values cannot be listed (no memory for the list) once a
  // count far larger than the record makes a walk index by index too long.
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

 private:
  // What the walk found at one index.
  enum TargetOutcome { kTargetUpdated, kTargetFailed, kTargetSkipped, kTargetAbsent };

  // Reads the value prefix<index> of the open record and, when it is a
  // non-empty REG_SZ, cleans it and processes it with ProcessTarget.
  TargetOutcome VisitTarget(HKEY record, const char* prefix, int index, TargetCallback callback,
                            void* context);
};

#endif  // DISCOVERY_INSTALL_LOCATOR_H_
