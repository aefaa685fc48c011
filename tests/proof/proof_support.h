// Tools of the proof suites: a buffer that ends flush against a no-access
// page, a reproducible text generator, the expected outcome of a target text
// stated from the walk's rules, expected config files, and leak measures.
#ifndef TESTS_PROOF_PROOF_SUPPORT_H_
#define TESTS_PROOF_PROOF_SUPPORT_H_

#include <windows.h>

#include <string>
#include <vector>

namespace proof {

// 260 bytes whose last byte is the last one before a PAGE_NOACCESS page, so a
// read or write one byte past them faults. While one exists, such a fault is
// reported with the current row (set with SetRow) and ends the process.
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

// Reproducible pseudo-random numbers (64-bit LCG), the same on every run.
class Lcg {
 public:
  explicit Lcg(unsigned long long seed) : state_(seed) {}
  unsigned Next(unsigned bound);  // 0 .. bound-1

 private:
  unsigned long long state_;
};

// Generates a target text of at least `length` bytes (one more when a
// double-byte character ends it): blanks, tabs, commas, '\' and '/', letters,
// digits and, with dbcs, code-page-936 characters (lead bytes 0x81..0xA0 and
// 0xB0..0xD6, trails 0x40..0xFE but 0x7F, often 0x5C), all defined in GBK.
// Half of those of 4 bytes or more start like a full path, or nearly.
std::string MakeTargetText(Lcg& random, size_t length, bool dbcs);

// What the walk makes of a target text, stated from its rules: the text ends
// at its first zero; unless that lies within 260 bytes the target fails; the
// text is cut at its last comma, blanks (0x20 only) are trimmed from both
// ends; the target fails if that leaves nothing; one trailing '\' or '/' is
// dropped unless it is the trail byte of a double-byte character (dbcs);
// the target fails unless what is left is a full path (an ASCII letter, ':'
// and then '\', '/' or nothing; or two leading separators); else the
// callback gets the directory and directory + "\Bin\config.ini".
struct Expected {
  bool called;
  std::string directory;
  std::string config_path;
};
Expected ExpectedTarget(const std::string& stored, bool dbcs);

// The config file an update writes from nothing, with the entries of the
// skins whose bit is set in `skins` (bit k = skin k), byte for byte as the
// profile functions lay it out.
std::string FreshConfig(unsigned skins);
const unsigned kAllSkins = 0xF;

// Creates every folder of an absolute path, through the \\?\ form so that
// fixtures past the ANSI folder limit (248 characters on Windows) can exist.
bool MakeLongDir(const std::string& path);
bool WriteLongFile(const std::string& path, const std::string& content);

// Counts this program's calls of RegQueryValueExA, RegEnumValueA and
// RegQueryInfoKeyA while it exists: its import entries for them point at
// forwarders that count each call and pass it on to the real function.
class RegistryCalls {
 public:
  RegistryCalls();
  ~RegistryCalls();
  RegistryCalls(const RegistryCalls&) = delete;
  RegistryCalls& operator=(const RegistryCalls&) = delete;

  // Whether every entry was redirected (the counts are meaningful).
  bool installed() const { return installed_; }
  void Reset();
  long queries() const;
  long enumerations() const;
  long infos() const;

 private:
  bool installed_ = false;
};

// Every file and folder under an absolute path (past MAX_PATH too), as full
// paths, sorted.
std::vector<std::string> ListTree(const std::string& root);

// The highest value of 256 event handles created together, then closed.
// Handles are given out lowest-free-first, so it grows with every kernel or
// registry handle left open (GetProcessHandleCount answers 0 under Wine).
UINT_PTR NextHandleValue();

// Bytes in busy blocks of the process heap.
SIZE_T BusyHeapBytes();

// A size from the environment variable `name`, or `fallback`.
size_t SizeFromEnvironment(const char* name, size_t fallback);

// Printable form of a byte string for failure messages: \xNN for non-ASCII.
std::string Printable(const std::string& bytes);

}  // namespace proof

#endif  // TESTS_PROOF_PROOF_SUPPORT_H_
