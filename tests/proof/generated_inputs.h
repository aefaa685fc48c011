// Reproducible generated inputs for the property tests, their sizes from the
// environment, and a printable form of the bytes for failure messages.
#ifndef TESTS_PROOF_GENERATED_INPUTS_H_
#define TESTS_PROOF_GENERATED_INPUTS_H_

#include <stddef.h>

#include <string>

namespace proof {

// Reproducible pseudo-random numbers (64-bit LCG), the same on every run.
class Lcg {
 public:
  explicit Lcg(unsigned long long seed) : state_(seed) {}
  unsigned Next(unsigned bound);  // 0 .. bound-1

 private:
  unsigned long long state_;
};

// Generates a target text of at least `length` bytes (up to 3 more when a
// multibyte character ends it): blanks, tabs, commas, '\' and '/', letters,
// digits and, for the ANSI code page code_page, its characters: under 936
// double-byte ones (lead bytes 0x81..0xA0 and 0xB0..0xD6, trails 0x40..0xFE
// but 0x7F, often 0x5C), all defined in GBK; under 65001 UTF-8 sequences of
// 2, 3 (often Chinese) and 4 bytes, all well formed. Any other code page gets
// ASCII alone. Half of those of 4 bytes or more start like a full path, or
// nearly.
std::string MakeTargetText(Lcg& random, size_t length, unsigned code_page);

// A size from the environment variable `name`, or `fallback`.
size_t SizeFromEnvironment(const char* name, size_t fallback);

// Printable form of a byte string for failure messages: \xNN for non-ASCII.
std::string Printable(const std::string& bytes);

}  // namespace proof

#endif  // TESTS_PROOF_GENERATED_INPUTS_H_
