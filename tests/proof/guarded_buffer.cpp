// Buffers that fault one byte past their end.
#include "tests/proof/guarded_buffer.h"

#include <stdio.h>
#include <stdlib.h>

namespace proof {

namespace {

std::string g_row;

LONG CALLBACK ReportFault(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  fprintf(stderr, "access violation at %p (%s of %p) while processing: %s\n",
          info->ExceptionRecord->ExceptionAddress,
          info->ExceptionRecord->ExceptionInformation[0] ? "write" : "read",
          reinterpret_cast<void*>(info->ExceptionRecord->ExceptionInformation[1]), g_row.c_str());
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

GuardedBuffer::GuardedBuffer(DWORD size) : size_(size) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  DWORD page = system.dwPageSize;
  DWORD span = (size + page - 1) / page * page;
  pages_ = static_cast<BYTE*>(VirtualAlloc(NULL, span + page, MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  if (pages_ == NULL || !VirtualProtect(pages_ + span, page, PAGE_NOACCESS, &old)) abort();
  data_ = pages_ + span - size;
  handler_ = AddVectoredExceptionHandler(1, ReportFault);
}

GuardedBuffer::~GuardedBuffer() {
  RemoveVectoredExceptionHandler(handler_);
  VirtualFree(pages_, 0, MEM_RELEASE);
}

void GuardedBuffer::Fill(BYTE value) const { FillMemory(data_, size_, value); }

void GuardedBuffer::SetRow(const std::string& row) { g_row = row; }

}  // namespace proof
