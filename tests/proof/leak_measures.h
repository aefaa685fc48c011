// Measures that move when a run leaks: the value the next kernel handle gets
// and what the process heap holds.
#ifndef TESTS_PROOF_LEAK_MEASURES_H_
#define TESTS_PROOF_LEAK_MEASURES_H_

#include <windows.h>

namespace proof {

// The highest value of 256 event handles created together, then closed.
// Handles are given out lowest-free-first, so it grows with every kernel or
// registry handle left open (GetProcessHandleCount answers 0 under Wine).
UINT_PTR NextHandleValue();

// The busy blocks of the process heap, as HeapWalk lists them.
struct HeapUse {
  SIZE_T blocks;
  SIZE_T bytes;
};
HeapUse BusyHeap();

// Bytes in busy blocks of the process heap.
inline SIZE_T BusyHeapBytes() { return BusyHeap().bytes; }

}  // namespace proof

#endif  // TESTS_PROOF_LEAK_MEASURES_H_
