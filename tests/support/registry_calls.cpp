// Registry calls of this program, counted and refused through its import entries.
#include "tests/support/registry_calls.h"

#include "tests/support/import_entry.h"

namespace testing_support {

namespace {

typedef LONG(WINAPI* QueryFunction)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI* EnumFunction)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI* InfoFunction)(HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                   LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME);
QueryFunction g_query = NULL;
EnumFunction g_enum = NULL;
InfoFunction g_info = NULL;
long g_queries = 0;
long g_enumerations = 0;
long g_infos = 0;
const RegistryCalls* g_active = NULL;

LONG WINAPI CountQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                       LPDWORD size) {
  ++g_queries;
  if (g_active != NULL && g_active->before_query) {
    LONG status = g_active->before_query(key, name, data != NULL);
    if (status != ERROR_SUCCESS) return status;
  }
  return g_query(key, name, reserved, type, data, size);
}

LONG WINAPI CountEnum(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
  ++g_enumerations;
  if (g_active != NULL && g_active->before_enum) {
    LONG status = g_active->before_enum(key, index);
    if (status != ERROR_SUCCESS) return status;
  }
  return g_enum(key, index, name, name_size, reserved, type, data, size);
}

LONG WINAPI CountInfo(HKEY key, LPSTR class_name, LPDWORD class_size, LPDWORD reserved,
                      LPDWORD subkeys, LPDWORD subkey_length, LPDWORD class_length, LPDWORD values,
                      LPDWORD value_name_length, LPDWORD value_length, LPDWORD security,
                      PFILETIME written) {
  ++g_infos;
  return g_info(key, class_name, class_size, reserved, subkeys, subkey_length, class_length, values,
                value_name_length, value_length, security, written);
}

void* Redirect(const char* name, void* function) {
  return RedirectImport("advapi32.dll", name, function);
}

}  // namespace

RegistryCalls::RegistryCalls() {
  g_query = reinterpret_cast<QueryFunction>(
      Redirect("RegQueryValueExA", reinterpret_cast<void*>(CountQuery)));
  g_enum =
      reinterpret_cast<EnumFunction>(Redirect("RegEnumValueA", reinterpret_cast<void*>(CountEnum)));
  g_info = reinterpret_cast<InfoFunction>(
      Redirect("RegQueryInfoKeyA", reinterpret_cast<void*>(CountInfo)));
  installed_ = g_query != NULL && g_enum != NULL && g_info != NULL;
  g_active = this;
  Reset();
}

RegistryCalls::~RegistryCalls() {
  g_active = NULL;
  if (g_query != NULL) Redirect("RegQueryValueExA", reinterpret_cast<void*>(g_query));
  if (g_enum != NULL) Redirect("RegEnumValueA", reinterpret_cast<void*>(g_enum));
  if (g_info != NULL) Redirect("RegQueryInfoKeyA", reinterpret_cast<void*>(g_info));
}

void RegistryCalls::Reset() { g_queries = g_enumerations = g_infos = 0; }
long RegistryCalls::queries() const { return g_queries; }
long RegistryCalls::enumerations() const { return g_enumerations; }
long RegistryCalls::infos() const { return g_infos; }

}  // namespace testing_support
