// Measures that move when a run leaks.
#include "tests/proof/leak_measures.h"

namespace proof {

UINT_PTR NextHandleValue() {
  // One event alone would fill the lowest hole: a key leaked above a handle
  // that was closed later (the parent key of a search) would go unseen.
  HANDLE events[256];
  UINT_PTR highest = 0;
  for (HANDLE& event : events) {
    event = CreateEventA(NULL, TRUE, FALSE, NULL);
    UINT_PTR value = reinterpret_cast<UINT_PTR>(event);
    if (value > highest) highest = value;
  }
  for (HANDLE event : events) CloseHandle(event);
  return highest;
}

}  // namespace proof
