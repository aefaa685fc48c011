// The first thing each of the project's programs does: keep the DLLs it loads
// by name out of the folder it was started from. A patcher runs as
// administrator from folders anyone can write to (Downloads, a USB stick, a
// share), where a file named like a system DLL would otherwise be loaded.
#ifndef DRIVER_DLL_SEARCH_H_
#define DRIVER_DLL_SEARCH_H_

// Limits every later search for a DLL by name to the system folder
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32). Returns 1 when
// the search is limited, 0 where the function is missing (Vista, Windows 7
// without KB2533623) or refused: then the search stays as it was, and nothing
// else changes. Call it before anything that may load a DLL.
int RestrictDllSearch();

#endif  // DRIVER_DLL_SEARCH_H_
