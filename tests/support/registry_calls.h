// Counts, and on request refuses or alters, this program's calls of
// RegQueryValueExA, RegEnumValueA and RegQueryInfoKeyA. The product is linked
// into this program, so its calls pass through the same import entries; the
// product itself gains no test branch.
#ifndef TESTS_SUPPORT_REGISTRY_CALLS_H_
#define TESTS_SUPPORT_REGISTRY_CALLS_H_

#include <windows.h>

#include <functional>

#include "tests/support/import_entry.h"

namespace testing_support {

// While one exists, the import entries point at forwarders that count each
// call, ask the hooks below, and pass it on to the real function. One at a
// time.
class RegistryCalls {
 public:
  RegistryCalls();
  ~RegistryCalls();
  RegistryCalls(const RegistryCalls&) = delete;
  RegistryCalls& operator=(const RegistryCalls&) = delete;

  // Whether every entry was redirected (the counts and hooks are live).
  bool installed() const { return imports_.installed(); }
  void Reset();
  long queries() const;
  long enumerations() const;
  long infos() const;

  // Asked before a query passes on, with its value name and whether it
  // reads the data. An answer other than ERROR_SUCCESS is the call's result
  // and the real function is not called. Empty: every query passes.
  std::function<LONG(HKEY key, const char* name, bool reads_data)> before_query;
  // The same for each listing of a value by its index.
  std::function<LONG(HKEY key, DWORD index)> before_enum;
  // The same for each question about a key's size (its values counted).
  std::function<LONG(HKEY key)> before_info;

 private:
  RedirectedImports imports_;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_REGISTRY_CALLS_H_
