// Text helpers shared by the discovery and the update: joining strings into an
// owned heap string, trimming blanks in place, finding the last occurrence of a
// byte. All strings are zero-terminated 8-bit text in the ANSI code page.
#ifndef DRIVER_TEXT_HELPERS_H_
#define DRIVER_TEXT_HELPERS_H_

#include <stddef.h>

// Joins three strings into a new heap string of exactly their joined length
// plus the terminator. Returns null if any argument is null, if all three are
// empty, or if the allocation fails. The caller releases it with ReleaseString.
char* JoinStrings(const char* first, const char* second, const char* third);

// Releases a string returned by JoinStrings. Null is ignored.
void ReleaseString(char* text);

// Removes blanks (0x20 only; tabs are text) from both ends of text, in place.
// Returns the new length, or -1 for a null text.
int TrimSpaces(char* text);

// Returns the last position in text holding ch, or null if there is none or
// text is null or empty. Every position is examined, the first one included.
// Meant for ASCII punctuation such as ',', which is never the trail byte of a
// double-byte character in the Windows DBCS code pages.
char* FindLastChar(char* text, char ch);

// Returns 1 if text holds a terminator within its first size bytes, else 0.
// Registry strings read into a fixed buffer may arrive cut, without one.
int FitsWithin(const char* text, int size);

// Heap blocks behind JoinStrings and the registry reader. Both come from and go
// back to the process heap. AllocBlock returns null on failure.
void* AllocBlock(size_t size);
void ReleaseBlock(void* block);

// Test hook for allocation failures. FailAllocation(n) makes the n-th call of
// AllocBlock from now fail (1 = the next one); 0 turns the hook off. Returns
// how many calls the countdown it replaces still had to go: 0 once that one
// fired, or when none was set. The counters tell how many blocks were handed
// out and released since start.
long FailAllocation(long nth);
long AllocatedBlocks();
long ReleasedBlocks();

#endif  // DRIVER_TEXT_HELPERS_H_
