// testguard: the test kit's checks around a run of the suite on a Windows
// machine, whose HKEY_LOCAL_MACHINE\SOFTWARE\Varnex may hold a real
// installation record that the tests' fixtures would delete.
//   testguard check  exit 0 when this process runs with administrator rights,
//                    HKLM\SOFTWARE\Varnex exists in neither registry view,
//                    and the ANSI code page can name the current folder (the
//                    kit's); otherwise prints why the run must not start, exit 1
//   testguard clean  deletes HKLM\SOFTWARE\Varnex in both views (only what a
//                    run that passed "check" made); exit 0 when none is left
//   testguard count XML  prints "PASSED FAILED SKIPPED", the test counts of a
//                    GoogleTest XML report (cmd.exe cannot read them itself
//                    the same way on Windows and Wine); exit 1 when the report
//                    cannot be read
// Exit code 2 for a bad command line. Built apart from the test program.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const char kVarnexKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnex";

struct View {
  REGSAM flag;
  const char* name;
};
const View kBothViews[] = {{KEY_WOW64_64KEY, "the 64-bit registry view"},
                           {KEY_WOW64_32KEY, "the 32-bit registry view"}};
// 32-bit Windows has one view, which both flags name.
const View kOneView[] = {{0, "the registry"}};

// The registry views of this system and their number: two on 64-bit Windows,
// one on 32-bit.
int Views(const View** views) {
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  bool one = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL;
  *views = one ? kOneView : kBothViews;
  return one ? 1 : 2;
}

bool VarnexExists(REGSAM view) {
  HKEY key = NULL;
  LONG status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varnex", 0, KEY_QUERY_VALUE | view, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  // A key this user may not open still exists.
  return status != ERROR_FILE_NOT_FOUND;
}

// Under UAC an administrator's unelevated token holds the Administrators group
// for denying only, and CheckTokenMembership answers FALSE for it.
bool IsElevatedAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID administrators = NULL;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!CheckTokenMembership(NULL, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

// The tests, like the patcher, name their files in the ANSI code page, and
// their files lie under the kit's folder: a name that code page cannot hold
// (Chinese characters under 1252) would fail nearly every test.
bool CodePageNamesThisFolder() {
  std::wstring folder(32768, L'\0');
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), &folder[0]);
  if (length == 0 || length >= folder.size()) return false;
  folder.resize(length);
  // Flags 0, as code page 65001 requires: a character the code page lacks
  // comes back as another.
  int size = WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, NULL, 0, NULL, NULL);
  if (size <= 0) return false;
  std::string ansi(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, &ansi[0], size, NULL, NULL);
  std::wstring back(length + 1, L'\0');
  int got = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &back[0], length + 1);
  return got == static_cast<int>(length) + 1 && back.compare(0, length, folder) == 0;
}

int Check() {
  const View* views = NULL;
  int count = Views(&views);
  int refusals = 0;
  for (int i = 0; i < count; ++i) {
    if (!VarnexExists(views[i].flag)) continue;
    printf(
        "testguard: %s exists in %s.\n"
        "testguard: The tests delete and recreate that key, where the product keeps its\n"
        "testguard: installation record: run them on a machine or VM without the product.\n",
        kVarnexKey, views[i].name);
    ++refusals;
  }
  if (!CodePageNamesThisFolder()) {
    printf(
        "testguard: the name of this kit's folder holds characters that this system's ANSI\n"
        "testguard: code page (%u) cannot write; the tests, like the patcher, name files in\n"
        "testguard: it. Unpack the kit into a folder whose name it can write.\n",
        GetACP());
    ++refusals;
  }
  if (!IsElevatedAdministrator()) {
    printf(
        "testguard: the tests need administrator rights (they write HKEY_LOCAL_MACHINE):\n"
        "testguard: start run-tests.cmd with \"Run as administrator\".\n");
    ++refusals;
  }
  return refusals == 0 ? 0 : 1;
}

int Clean() {
  const View* views = NULL;
  int count = Views(&views);
  int left = 0;
  for (int i = 0; i < count; ++i) {
    const View& view = views[i];
    HKEY software = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view.flag, &software) ==
        ERROR_SUCCESS) {
      RegDeleteTreeA(software, "Varnex");
      RegDeleteKeyExA(software, "Varnex", view.flag, 0);
      RegCloseKey(software);
    }
    if (VarnexExists(view.flag)) {
      printf("testguard: cannot delete %s in %s\n", kVarnexKey, view.name);
      ++left;
    }
  }
  return left == 0 ? 0 : 1;
}

// The text of attribute="..." in the start tag that begins at element, or "".
std::string Attribute(const std::string& xml, size_t element, const char* attribute) {
  size_t end = xml.find('>', element);
  size_t at = xml.find(std::string(" ") + attribute + "=\"", element);
  if (end == std::string::npos || at == std::string::npos || at > end) return "";
  size_t value = at + strlen(attribute) + 3;
  size_t close = xml.find('"', value);
  return close == std::string::npos ? "" : xml.substr(value, close - value);
}

int Count(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 1;
  std::string xml;
  char chunk[4096];
  size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) xml.append(chunk, got);
  fclose(file);
  // Each test that ran, by its own element: failed when it holds a failure
  // (a failure in a fixture's set-up may come with a skip), else skipped when
  // it holds a skip, else passed. Disabled tests are listed but never run.
  // The root element's totals must agree, or the report is not whole.
  size_t root = xml.find("<testsuites ");
  if (root == std::string::npos) return 1;
  long tests = strtol(Attribute(xml, root, "tests").c_str(), NULL, 10);
  long failures = strtol(Attribute(xml, root, "failures").c_str(), NULL, 10);
  long passed = 0, failed = 0, skipped = 0, disabled = 0;
  for (size_t at = xml.find("<testcase ", root); at != std::string::npos;
       at = xml.find("<testcase ", at + 1)) {
    size_t tag_end = xml.find('>', at);
    if (tag_end == std::string::npos) return 1;
    size_t end = tag_end;
    if (xml[tag_end - 1] != '/') {
      end = xml.find("</testcase>", tag_end);
      if (end == std::string::npos) return 1;
    }
    std::string body = xml.substr(tag_end, end - tag_end);
    if (Attribute(xml, at, "status") == "notrun") {
      ++disabled;
    } else if (body.find("<failure") != std::string::npos) {
      ++failed;
    } else if (body.find("<skipped") != std::string::npos) {
      ++skipped;
    } else {
      ++passed;
    }
  }
  if (passed + failed + skipped + disabled != tests || failed != failures) return 1;
  printf("%ld %ld %ld\n", passed, failed, skipped);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "check") == 0) return Check();
  if (argc == 2 && strcmp(argv[1], "clean") == 0) return Clean();
  if (argc == 3 && strcmp(argv[1], "count") == 0) return Count(argv[2]);
  fprintf(stderr, "usage: testguard check | testguard clean | testguard count XML\n");
  return 2;
}
