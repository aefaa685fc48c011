// HeapAlloc and HeapFree of this program, watched through its import entries.
#include "tests/support/heap_calls.h"

#include "tests/support/import_entry.h"

namespace testing_support {

typedef LPVOID(WINAPI* AllocFunction)(HANDLE, DWORD, SIZE_T);
typedef BOOL(WINAPI* FreeFunction)(HANDLE, DWORD, LPVOID);

namespace {

AllocFunction g_alloc = NULL;
FreeFunction g_free = NULL;
HeapCalls* g_active = NULL;

void* Redirect(const char* name, void* function) {
  return RedirectImport("kernel32.dll", name, function);
}

}  // namespace

struct HeapForwarders {
  static LPVOID WINAPI Alloc(HANDLE heap, DWORD flags, SIZE_T size) {
    HeapCalls* calls = g_active;
    void* served = calls != NULL && calls->serve ? calls->serve(size) : NULL;
    void* block = served != NULL ? served : g_alloc(heap, flags, size);
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
    return g_free(heap, flags, block);
  }
};

HeapCalls::HeapCalls() {
  g_alloc = reinterpret_cast<AllocFunction>(
      Redirect("HeapAlloc", reinterpret_cast<void*>(HeapForwarders::Alloc)));
  g_free = reinterpret_cast<FreeFunction>(
      Redirect("HeapFree", reinterpret_cast<void*>(HeapForwarders::Free)));
  installed_ = g_alloc != NULL && g_free != NULL;
  g_active = this;
}

HeapCalls::~HeapCalls() {
  g_active = NULL;
  if (g_alloc != NULL) Redirect("HeapAlloc", reinterpret_cast<void*>(g_alloc));
  if (g_free != NULL) Redirect("HeapFree", reinterpret_cast<void*>(g_free));
}

}  // namespace testing_support
