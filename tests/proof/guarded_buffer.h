// A buffer that ends flush against a no-access page, so that a read or write
// one byte past it faults and the fault names the input being processed.
#ifndef TESTS_PROOF_GUARDED_BUFFER_H_
#define TESTS_PROOF_GUARDED_BUFFER_H_

#include <windows.h>

#include <string>

namespace proof {

// `size` bytes whose last byte is the last one before a PAGE_NOACCESS page.
// While one exists, an access violation is reported with the current row (set
// with SetRow) and ends the process.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(DWORD size = MAX_PATH);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  BYTE* data() const { return data_; }
  char* text() const { return reinterpret_cast<char*>(data_); }
  DWORD size() const { return size_; }
  void Fill(BYTE value) const;
  // Names the input being processed, for the fault report.
  static void SetRow(const std::string& row);

 private:
  BYTE* pages_ = nullptr;
  BYTE* data_ = nullptr;
  DWORD size_;
  void* handler_ = nullptr;
};

}  // namespace proof

#endif  // TESTS_PROOF_GUARDED_BUFFER_H_
