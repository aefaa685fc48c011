// A seam for the tests: this program's own import entries can be pointed at a
// forwarder, which counts calls or refuses them and otherwise passes them on
// to the real Win32 function. The product itself gains no test branch.
#ifndef TESTS_SUPPORT_IMPORT_ENTRY_H_
#define TESTS_SUPPORT_IMPORT_ENTRY_H_

#include <initializer_list>
#include <vector>

namespace testing_support {

// One import entry to redirect: the function `name` this program imports from
// `dll` (e.g. "advapi32.dll"), the forwarder to point it at, and where to keep
// the real function the forwarder passes calls on to.
struct ImportRedirection {
  const char* dll;
  const char* name;
  void* forwarder;
  void** real;
};

// While it exists, each entry it was given points at its forwarder. Each *real
// is set before its entry changes, so the forwarder can pass on the first call
// already; every entry changed is restored when it goes. One owner per entry
// at a time.
class RedirectedImports {
 public:
  explicit RedirectedImports(std::initializer_list<ImportRedirection> entries);
  virtual ~RedirectedImports();
  RedirectedImports(const RedirectedImports&) = delete;
  RedirectedImports& operator=(const RedirectedImports&) = delete;

  // Whether every entry was found and redirected.
  bool installed() const { return installed_; }

 private:
  struct Changed {
    void* slot;  // where the entry is, in the import table
    void* previous;
  };
  std::vector<Changed> changed_;
  bool installed_ = true;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_IMPORT_ENTRY_H_
