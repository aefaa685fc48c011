// Registry calls of this program, counted and refused through its import entries.
#include "tests/support/registry_calls.h"

namespace testing_support {

namespace {

void* g_query = NULL;
void* g_enum = NULL;
void* g_info = NULL;
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
  return reinterpret_cast<decltype(&RegQueryValueExA)>(g_query)(key, name, reserved, type, data,
                                                                size);
}

LONG WINAPI CountEnum(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
  ++g_enumerations;
  if (g_active != NULL && g_active->before_enum) {
    LONG status = g_active->before_enum(key, index);
    if (status != ERROR_SUCCESS) return status;
  }
  return reinterpret_cast<decltype(&RegEnumValueA)>(g_enum)(key, index, name, name_size, reserved,
                                                            type, data, size);
}

LONG WINAPI CountInfo(HKEY key, LPSTR class_name, LPDWORD class_size, LPDWORD reserved,
                      LPDWORD subkeys, LPDWORD subkey_length, LPDWORD class_length, LPDWORD values,
                      LPDWORD value_name_length, LPDWORD value_length, LPDWORD security,
                      PFILETIME written) {
  ++g_infos;
  if (g_active != NULL && g_active->before_info) {
    LONG status = g_active->before_info(key);
    if (status != ERROR_SUCCESS) return status;
  }
  return reinterpret_cast<decltype(&RegQueryInfoKeyA)>(g_info)(
      key, class_name, class_size, reserved, subkeys, subkey_length, class_length, values,
      value_name_length, value_length, security, written);
}

}  // namespace

RegistryCalls::RegistryCalls()
    : imports_(
          {{"advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(CountQuery), &g_query},
           {"advapi32.dll", "RegEnumValueA", reinterpret_cast<void*>(CountEnum), &g_enum},
           {"advapi32.dll", "RegQueryInfoKeyA", reinterpret_cast<void*>(CountInfo), &g_info}}) {
  g_active = this;
  Reset();
}

RegistryCalls::~RegistryCalls() { g_active = NULL; }

void RegistryCalls::Reset() { g_queries = g_enumerations = g_infos = 0; }
long RegistryCalls::queries() const { return g_queries; }
long RegistryCalls::enumerations() const { return g_enumerations; }
long RegistryCalls::infos() const { return g_infos; }

}  // namespace testing_support
