// Import entries of the test program, redirected for counting or refusing calls.
#include "tests/support/import_entry.h"

#include <string.h>
#include <windows.h>

namespace testing_support {

namespace {

// The slot of this program's import table that holds `name` from `dll_name`,
// or null when it imports no such function by name.
ULONG_PTR* FindImportSlot(const char* dll_name, const char* name) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(NULL));
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (const IMAGE_IMPORT_DESCRIPTOR* dll =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + dll->Name), dll_name) != 0) continue;
    const IMAGE_THUNK_DATA* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* entry =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(entry->Name), name) == 0) {
        return &slots->u1.Function;
      }
    }
  }
  return NULL;
}

// The import table is read-only once the loader has filled it.
bool WriteSlot(ULONG_PTR* slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
  *slot = reinterpret_cast<ULONG_PTR>(value);
  VirtualProtect(slot, sizeof *slot, old, &old);
  return true;
}

}  // namespace

RedirectedImports::RedirectedImports(std::initializer_list<ImportRedirection> entries) {
  for (const ImportRedirection& entry : entries) {
    ULONG_PTR* slot = FindImportSlot(entry.dll, entry.name);
    if (slot != NULL) *entry.real = reinterpret_cast<void*>(*slot);
    if (slot == NULL || !WriteSlot(slot, entry.forwarder)) {
      installed_ = false;
      continue;
    }
    changed_.push_back({slot, *entry.real});
  }
}

RedirectedImports::~RedirectedImports() {
  for (size_t k = changed_.size(); k-- > 0;) {
    WriteSlot(static_cast<ULONG_PTR*>(changed_[k].slot), changed_[k].previous);
  }
}

}  // namespace testing_support
