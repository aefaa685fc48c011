// Watches, and on request serves, this program's HeapAlloc and HeapFree calls.
// The product is linked into this program and takes its blocks through them
// (AllocBlock, ReleaseBlock), so a test sees every block a run takes and what
// it held when released; the product itself gains no test branch.
#ifndef TESTS_SUPPORT_HEAP_CALLS_H_
#define TESTS_SUPPORT_HEAP_CALLS_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/import_entry.h"

namespace testing_support {

// While one exists, the import entries point at forwarders that record each
// block, ask the hooks below, and pass the call on. One at a time.
class HeapCalls {
 public:
  struct Block {
    SIZE_T size;
    bool released;
    std::string content;  // its bytes when released
  };

  HeapCalls();
  ~HeapCalls();
  HeapCalls(const HeapCalls&) = delete;
  HeapCalls& operator=(const HeapCalls&) = delete;

  // Whether both entries were redirected (the record and hooks are live).
  bool installed() const { return imports_.installed(); }
  // Every block handed out since the start or the last Clear, in order.
  const std::vector<Block>& blocks() const { return blocks_; }
  void Clear() { blocks_.clear(); }

  // Asked before a block of `size` is taken from the heap: a non-null answer
  // is handed out instead, and its release is not passed on. Empty: none.
  std::function<void*(SIZE_T size)> serve;

 private:
  friend struct HeapForwarders;
  RedirectedImports imports_;
  std::vector<Block> blocks_;
  std::vector<void*> live_;   // addresses of blocks_ not yet released
  std::vector<bool> served_;  // whether blocks_[k] came from serve
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_HEAP_CALLS_H_
