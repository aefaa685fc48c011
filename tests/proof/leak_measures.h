// A measure that moves when a run leaks: the value the next kernel handle gets.
#ifndef TESTS_PROOF_LEAK_MEASURES_H_
#define TESTS_PROOF_LEAK_MEASURES_H_

#include <windows.h>

namespace proof {

// The highest value of 256 event handles created together, then closed.
// Handles are given out lowest-free-first, so it grows with every kernel or
// registry handle left open (GetProcessHandleCount answers 0 under Wine).
UINT_PTR NextHandleValue();

}  // namespace proof

#endif  // TESTS_PROOF_LEAK_MEASURES_H_
