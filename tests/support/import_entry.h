// A seam for the tests: this program's own import entries can be pointed at a
// forwarder, which counts calls or refuses them and otherwise passes them on
// to the real Win32 function. The product itself gains no test branch.
#ifndef TESTS_SUPPORT_IMPORT_ENTRY_H_
#define TESTS_SUPPORT_IMPORT_ENTRY_H_

namespace testing_support {

// Sets this program's import entry for `name` from `dll` (e.g. "advapi32.dll")
// to `function` and returns what it held, or null when there is no such entry
// (then nothing changed). Restore by calling it again with the returned value.
void* RedirectImport(const char* dll, const char* name, void* function);

}  // namespace testing_support

#endif  // TESTS_SUPPORT_IMPORT_ENTRY_H_
