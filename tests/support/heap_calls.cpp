// HeapAlloc and HeapFree of this program, watched through its import entries.
#include "tests/support/heap_calls.h"

namespace testing_support {

namespace {

void* g_alloc = NULL;
void* g_free = NULL;
HeapCalls* g_active = NULL;

}  // namespace

struct HeapForwarders {
  static LPVOID WINAPI Alloc(HANDLE heap, DWORD flags, SIZE_T size) {
    HeapCalls* calls = g_active;
    void* served = calls != NULL && calls->serve ? calls->serve(size) : NULL;
    void* block = served != NULL
                      ? served
                      : reinterpret_cast<decltype(&HeapAlloc)>(g_alloc)(heap, flags, size);
    if (calls != NULL && block != NULL) {
      calls->blocks_.push_back({size, false, ""});
      calls->live_.push_back(block);
      calls->served_.push_back(served != NULL);
    }
    return block;
  }

  static BOOL WINAPI Free(HANDLE heap, DWORD flags, LPVOID block) {
    HeapCalls* calls = g_active;
    for (size_t k = 0; calls != NULL && block != NULL && k < calls->live_.size(); ++k) {
      if (calls->live_[k] != block) continue;
      HeapCalls::Block& entry = calls->blocks_[k];
      entry.released = true;
      entry.content.assign(static_cast<const char*>(block), entry.size);
      calls->live_[k] = NULL;
      if (calls->served_[k]) return TRUE;
      break;
    }
    return reinterpret_cast<decltype(&HeapFree)>(g_free)(heap, flags, block);
  }
};

HeapCalls::HeapCalls()
    : imports_(
          {{"kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(HeapForwarders::Alloc), &g_alloc},
           {"kernel32.dll", "HeapFree", reinterpret_cast<void*>(HeapForwarders::Free), &g_free}}) {
  g_active = this;
}

HeapCalls::~HeapCalls() { g_active = NULL; }

}  // namespace testing_support
