// Text helpers and the heap blocks they hand out.
#include "driver/text_helpers.h"

#include <windows.h>

namespace {

long g_fail_countdown = 0;
long g_allocated = 0;
long g_released = 0;

}  // namespace

void* AllocBlock(size_t size) {
  if (g_fail_countdown > 0 && --g_fail_countdown == 0) return NULL;
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (block != NULL) ++g_allocated;
  return block;
}

void ReleaseBlock(void* block) {
  if (block == NULL) return;
  HeapFree(GetProcessHeap(), 0, block);
  ++g_released;
}

long FailAllocation(long nth) {
  long left = g_fail_countdown;
  g_fail_countdown = nth > 0 ? nth : 0;
  return left;
}
long AllocatedBlocks() { return g_allocated; }
long ReleasedBlocks() { return g_released; }

char* JoinStrings(const char* first, const char* second, const char* third) {
  if (first == NULL || second == NULL || third == NULL) return NULL;
  int size = lstrlenA(first) + lstrlenA(second) + lstrlenA(third) + 1;
  if (size <= 1) return NULL;
  char* joined = static_cast<char*>(AllocBlock(size));
  if (joined == NULL) return NULL;
  ZeroMemory(joined, size);
  // wsprintfA stops at 1024 bytes; paths joined here are far shorter, but a
  // registry text is not, so copy longer inputs piecewise instead.
  if (size <= 1024) {
    wsprintfA(joined, "%s%s%s", first, second, third);
  } else {
    char* out = joined;
    const char* parts[3] = {first, second, third};
    for (const char* part : parts) {
      int length = lstrlenA(part);
      CopyMemory(out, part, length);
      out += length;
    }
  }
  return joined;
}

void ReleaseString(char* text) { ReleaseBlock(text); }

int TrimSpaces(char* text) {
  if (text == NULL) return -1;
  int length = lstrlenA(text);
  int first = 0;
  while (first < length && text[first] == ' ') ++first;
  if (first == length) {
    text[0] = '\0';
    return 0;
  }
  int last = length - 1;
  while (text[last] == ' ') --last;
  int kept = last - first + 1;
  if (first > 0) {
    for (int i = 0; i < kept; ++i) text[i] = text[first + i];
  }
  text[kept] = '\0';
  return kept;
}

char* FindLastChar(char* text, char ch) {
  if (text == NULL || text[0] == '\0') return NULL;
  for (char* at = text + lstrlenA(text) - 1; at >= text; --at) {
    if (*at == ch) return at;
  }
  return NULL;
}

int FitsWithin(const char* text, int size) {
  if (text == NULL) return 0;
  for (int i = 0; i < size; ++i) {
    if (text[i] == '\0') return 1;
  }
  return 0;
}
