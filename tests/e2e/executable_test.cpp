// The patcher's file itself: a 32-bit GUI executable that needs no DLL beyond
// the system's and carries exactly one resource, its five-image icon.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/message_box_watcher.h"
#include "tests/support/fixtures.h"

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return text;
}

// The headers of a 32-bit image held in bytes, as the loader maps it, or null
// when bytes hold no such image or its section table lies past their end.
const IMAGE_NT_HEADERS32* NtHeaders(const std::string& bytes) {
  if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return nullptr;
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
      static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > bytes.size()) {
    return nullptr;
  }
  const IMAGE_NT_HEADERS32* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    return nullptr;
  }
  const size_t sections = reinterpret_cast<const char*>(IMAGE_FIRST_SECTION(nt)) - bytes.data();
  if (sections + nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER) > bytes.size()) {
    return nullptr;
  }
  return nt;
}

// The headers of the image as the loader maps it, read from the file.
class PatcherImage : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string patcher = e2e::PatcherUnderTest(PATCHER_EXE);
    // GoogleTest's XML report holds its properties in UTF-8; the kit's folder
    // may have any name.
    RecordProperty("patcher", testing_support::Narrow(testing_support::Widen(patcher), CP_UTF8));
    name_ = patcher.substr(patcher.find_last_of("\\/") + 1);
    bytes_ = testing_support::ReadWholeFile(patcher);
    ASSERT_NE(std::string(testing_support::kMissing), bytes_) << patcher << " cannot be read";
    nt_ = NtHeaders(bytes_);
    ASSERT_NE(nullptr, nt_) << patcher << " is no 32-bit program";
  }

  // File offset of a relative virtual address, or 0 outside every section.
  size_t Offset(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt_);
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress &&
          rva < section->VirtualAddress + section->SizeOfRawData) {
        return rva - section->VirtualAddress + section->PointerToRawData;
      }
    }
    return 0;
  }

  std::string name_;  // the file's name, without its folder
  std::string bytes_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

using ExecutableImage = PatcherImage;

TEST_F(ExecutableImage, IsStrippedThirtyTwoBitGuiProgramUnderFortyKibibytes) {
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt_->FileHeader.Machine);
  EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt_->OptionalHeader.Magic);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt_->OptionalHeader.Subsystem);
  EXPECT_TRUE(nt_->FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
  EXPECT_FALSE(nt_->FileHeader.Characteristics & IMAGE_FILE_DLL);
  EXPECT_EQ(0u, nt_->FileHeader.PointerToSymbolTable);
  EXPECT_EQ(0u, nt_->FileHeader.NumberOfSymbols);
  EXPECT_LT(bytes_.size(), 40u * 1024u);
}

// Every function the patcher imports, by DLL: no C or C++ runtime DLL
// (msvcrt, libstdc++, libgcc, winpthread), and each function one that
// docs/win32-behaviour.md lists with what it is relied on for and which
// Windows has it. scripts/lint holds that list to this table, so a new import
// fails here until both name it.
const char* const kImports[][2] = {
    {"ADVAPI32.DLL", "GetTokenInformation"},
    {"ADVAPI32.DLL", "OpenProcessToken"},
    {"ADVAPI32.DLL", "RegCloseKey"},
    {"ADVAPI32.DLL", "RegEnumKeyExA"},
    {"ADVAPI32.DLL", "RegEnumValueA"},
    {"ADVAPI32.DLL", "RegOpenKeyExA"},
    {"ADVAPI32.DLL", "RegQueryInfoKeyA"},
    {"ADVAPI32.DLL", "RegQueryValueExA"},
    {"ADVAPI32.DLL", "SetTokenInformation"},
    {"KERNEL32.DLL", "CloseHandle"},
    {"KERNEL32.DLL", "CreateMutexA"},
    {"KERNEL32.DLL", "ExitProcess"},
    {"KERNEL32.DLL", "FindClose"},
    {"KERNEL32.DLL", "FindFirstFileA"},
    {"KERNEL32.DLL", "FreeLibrary"},
    {"KERNEL32.DLL", "GetCurrentProcess"},
    {"KERNEL32.DLL", "GetLastError"},
    {"KERNEL32.DLL", "GetModuleFileNameW"},
    {"KERNEL32.DLL", "GetModuleHandleA"},
    {"KERNEL32.DLL", "GetProcAddress"},
    {"KERNEL32.DLL", "GetProcessHeap"},
    {"KERNEL32.DLL", "GetSystemDirectoryW"},
    {"KERNEL32.DLL", "GetTickCount"},
    {"KERNEL32.DLL", "HeapAlloc"},
    {"KERNEL32.DLL", "HeapFree"},
    {"KERNEL32.DLL", "LoadLibraryW"},
    {"KERNEL32.DLL", "SetFileAttributesA"},
    {"KERNEL32.DLL", "Sleep"},
    {"KERNEL32.DLL", "WaitForSingleObject"},
    {"KERNEL32.DLL", "WritePrivateProfileStringA"},
    {"KERNEL32.DLL", "lstrcmpA"},
    {"KERNEL32.DLL", "lstrcpynA"},
    {"KERNEL32.DLL", "lstrlenA"},
    {"USER32.DLL", "AllowSetForegroundWindow"},
    {"USER32.DLL", "CharPrevA"},
    {"USER32.DLL", "MessageBoxA"},
    {"USER32.DLL", "wsprintfA"},
};

TEST_F(ExecutableImage, ImportsOnlyKernelUserAndAdvapi) {
  const IMAGE_DATA_DIRECTORY& directory =
      nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  size_t at = Offset(directory.VirtualAddress);
  ASSERT_NE(0u, at);
  // "DLL function", or "DLL #ordinal" for an import by number.
  std::set<std::string> imports;
  for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    ASSERT_LE(at + sizeof(IMAGE_IMPORT_DESCRIPTOR), bytes_.size());
    const IMAGE_IMPORT_DESCRIPTOR* entry =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(bytes_.data() + at);
    if (entry->Name == 0) break;
    size_t name = Offset(entry->Name);
    ASSERT_NE(0u, name);
    const std::string dll = Upper(bytes_.c_str() + name);
    // The lookup table, or where a linker left none the address table, which
    // in the file holds the same entries.
    size_t thunk =
        Offset(entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk);
    ASSERT_NE(0u, thunk) << dll;
    for (;; thunk += sizeof(IMAGE_THUNK_DATA32)) {
      ASSERT_LE(thunk + sizeof(IMAGE_THUNK_DATA32), bytes_.size()) << dll;
      const IMAGE_THUNK_DATA32* data =
          reinterpret_cast<const IMAGE_THUNK_DATA32*>(bytes_.data() + thunk);
      if (data->u1.AddressOfData == 0) break;
      if (IMAGE_SNAP_BY_ORDINAL32(data->u1.Ordinal)) {
        imports.insert(dll + " #" + std::to_string(IMAGE_ORDINAL32(data->u1.Ordinal)));
        continue;
      }
      // The hint, then the name.
      const size_t by_name = Offset(data->u1.AddressOfData);
      ASSERT_NE(0u, by_name) << dll;
      imports.insert(dll + " " + (bytes_.c_str() + by_name + sizeof(WORD)));
    }
  }
  std::set<std::string> expected;
  for (const auto& import : kImports) expected.insert(std::string(import[0]) + " " + import[1]);
  EXPECT_EQ(expected, imports);
  // Nothing is loaded late behind the loader's back.
  EXPECT_EQ(0u, nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size);
}

// What the loader and Windows' binary checks (BinSkim) ask of every image
// that runs as administrator: the patcher, and the kit's programs, run from
// wherever the kit was unpacked. A base the loader may move (DYNAMIC_BASE,
// with the relocations that let it), data that is never executed (NX_COMPAT),
// no exception handler (NO_SEH: nothing in them raises or catches one, and a
// 32-bit image must say so or carry a SafeSEH table), no section that is both
// written and executed, and none shared between processes. Subsystem and OS
// version 6.0, Windows Vista and Server 2008: the oldest Windows that can limit
// the DLL search (KB2533623); the linker's default would be 4.0.
TEST_F(ExecutableImage, EachProgramKeepsTheLoadersHardeningAndAsksForWindowsVista) {
  typedef bool (*Holds)(const IMAGE_NT_HEADERS32&);
  static const struct {
    const char* property;
    Holds holds;
  } rows[] = {
      {"DYNAMIC_BASE",
       [](const IMAGE_NT_HEADERS32& nt) {
         return (nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) != 0;
       }},
      {"relocations kept",
       [](const IMAGE_NT_HEADERS32& nt) {
         return nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0 &&
                (nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) == 0;
       }},
      {"NX_COMPAT",
       [](const IMAGE_NT_HEADERS32& nt) {
         return (nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) != 0;
       }},
      {"NO_SEH",
       [](const IMAGE_NT_HEADERS32& nt) {
         return (nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH) != 0;
       }},
      {"no section both writable and executable",
       [](const IMAGE_NT_HEADERS32& nt) {
         const DWORD both = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE;
         const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&nt);
         for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i, ++section) {
           if ((section->Characteristics & both) == both) return false;
         }
         return true;
       }},
      {"no shared section",
       [](const IMAGE_NT_HEADERS32& nt) {
         const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&nt);
         for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i, ++section) {
           if (section->Characteristics & IMAGE_SCN_MEM_SHARED) return false;
         }
         return true;
       }},
      {"subsystem version 6.0",
       [](const IMAGE_NT_HEADERS32& nt) {
         return nt.OptionalHeader.MajorSubsystemVersion == 6 &&
                nt.OptionalHeader.MinorSubsystemVersion == 0;
       }},
      {"OS version 6.0",
       [](const IMAGE_NT_HEADERS32& nt) {
         return nt.OptionalHeader.MajorOperatingSystemVersion == 6 &&
                nt.OptionalHeader.MinorOperatingSystemVersion == 0;
       }},
  };
  char self[MAX_PATH] = {0};
  GetModuleFileNameA(NULL, self, sizeof self);
  const std::string testguard = e2e::BesideThisProgram("testguard.exe");
  const std::pair<std::string, std::string> programs[] = {
      {name_, bytes_},
      {self, testing_support::ReadWholeFile(self)},
      {testguard, testing_support::ReadWholeFile(testguard)}};
  for (const auto& program : programs) {
    const IMAGE_NT_HEADERS32* nt = NtHeaders(program.second);
    if (nt == nullptr) {
      ADD_FAILURE() << program.first << " is no 32-bit program";
      continue;
    }
    for (const auto& row : rows)
      EXPECT_TRUE(row.holds(*nt)) << program.first << ": " << row.property;
  }
}

// Windows' installer detection takes a program without a manifest whose file
// name holds one of these words for an installer and elevates it by itself;
// its Program Compatibility Assistant may then report a failed installation.
// It also reads the version resource, and a manifest naming an execution level
// turns it off: the resources test below shows there is neither. Wine has no
// such detection.
TEST_F(ExecutableImage, NameHasNoWordWindowsTakesForAnInstaller) {
  ASSERT_FALSE(name_.empty());
  for (const char* word : {"SETUP", "INSTALL", "UPDATE", "PATCH"}) {
    EXPECT_EQ(std::string::npos, Upper(name_).find(word)) << name_ << " holds " << word;
  }
}

// The module mapped as data, so its resources can be read without running it.
class ExecutableResources : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string patcher = e2e::PatcherUnderTest(PATCHER_EXE);
    // GoogleTest's XML report holds its properties in UTF-8; the kit's folder
    // may have any name.
    RecordProperty("patcher", testing_support::Narrow(testing_support::Widen(patcher), CP_UTF8));
    module_ = LoadLibraryExA(patcher.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_);
  }
  void TearDown() override {
    if (module_ != NULL) FreeLibrary(module_);
  }

  // Resource types, names and languages as "type/name/language" lines.
  static BOOL CALLBACK AddLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language,
                                   LONG_PTR param) {
    char line[64];
    wsprintfA(line, "%u/%u/%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(type)),
              static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)), language);
    // A named (string) type or name shows up as a large number; never expected.
    if (!IS_INTRESOURCE(type) || !IS_INTRESOURCE(name)) lstrcpyA(line, "named");
    reinterpret_cast<std::set<std::string>*>(param)->insert(line);
    return TRUE;
  }
  static BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    EnumResourceLanguagesA(module, type, name, AddLanguage, param);
    return TRUE;
  }
  static BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR param) {
    EnumResourceNamesA(module, type, AddName, param);
    return TRUE;
  }

  const BYTE* Resource(LPCSTR type, WORD id, DWORD* size) const {
    HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), 2052);
    if (found == NULL) return nullptr;
    *size = SizeofResource(module_, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
  }

  HMODULE module_ = NULL;
};

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ExecutableResources, HoldOnlyIconGroup101InChinesePrcWithItsImages) {
  std::set<std::string> resources;
  ASSERT_TRUE(EnumResourceTypesA(module_, AddType, reinterpret_cast<LONG_PTR>(&resources)));
  // Group 101 and its five images, all in language 2052 (Chinese, PRC): no
  // manifest, version, dialog, menu or string table.
  std::set<std::string> expected = {"14/101/2052"};
  DWORD size = 0;
  const BYTE* group = Resource(RT_GROUP_ICON, 101, &size);
  ASSERT_NE(nullptr, group);
  ASSERT_GE(size, 6u);
  const WORD count = reinterpret_cast<const WORD*>(group)[2];
  ASSERT_EQ(6u + count * sizeof(GroupIconEntry), size);
  const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group + 6);
  for (WORD i = 0; i < count; ++i) expected.insert("3/" + std::to_string(entries[i].id) + "/2052");
  EXPECT_EQ(expected, resources);
}

TEST_F(ExecutableResources, IconHasTheFiveImagesEachLoadable) {
  static const struct {
    int size, bit_count;
  } images[] = {{48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 24}};
  DWORD group_size = 0;
  const BYTE* group = Resource(RT_GROUP_ICON, 101, &group_size);
  ASSERT_NE(nullptr, group);
  const WORD count = reinterpret_cast<const WORD*>(group)[2];
  ASSERT_EQ(5u, count);
  const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group + 6);
  for (const auto& image : images) {
    SCOPED_TRACE(std::to_string(image.size) + "x" + std::to_string(image.size) + " at " +
                 std::to_string(image.bit_count) + " bits");
    const GroupIconEntry* entry = nullptr;
    for (WORD i = 0; i < count; ++i) {
      if (entries[i].width == image.size && entries[i].height == image.size &&
          entries[i].bit_count == image.bit_count) {
        entry = &entries[i];
      }
    }
    ASSERT_NE(nullptr, entry);
    DWORD size = 0;
    const BYTE* data = Resource(RT_ICON, entry->id, &size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(entry->bytes, size);
    ASSERT_GE(size, sizeof(BITMAPINFOHEADER));
    const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
    EXPECT_EQ(image.size, header->biWidth);
    EXPECT_EQ(2 * image.size, header->biHeight);  // colour rows, then the mask's
    EXPECT_EQ(image.bit_count, header->biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header->biCompression);
    // Uncompressed, so the size follows from the format: header, palette,
    // colour rows and the one-bit mask, rows padded to four bytes.
    const DWORD palette = image.bit_count == 8 ? 4 * 256 : 0;
    const DWORD colour_row = ((image.size * image.bit_count + 31) / 32) * 4;
    const DWORD mask_row = ((image.size + 31) / 32) * 4;
    EXPECT_EQ(sizeof(BITMAPINFOHEADER) + palette + image.size * (colour_row + mask_row), size);
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(data), size, TRUE, 0x00030000,
                                          image.size, image.size, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon);
    if (icon != NULL) DestroyIcon(icon);
  }
}

}  // namespace
