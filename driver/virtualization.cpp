// UAC virtualization turned off for the patcher's own process.
#include "driver/virtualization.h"

#include <windows.h>

int EndVirtualization() {
  HANDLE token = NULL;
  // Opened for the change where the token allows it, else only to learn
  // whether virtualization is on: a change refused then is known to be needed.
  bool may_change = true;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token)) {
    may_change = false;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 1;
  }
  // A Windows that does not know the class (ERROR_INVALID_PARAMETER) has no
  // virtualization; any other failure leaves it unknown: the run goes on.
  DWORD enabled = 0;
  DWORD size = 0;
  int result = 1;
  if (GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size) &&
      enabled != 0) {
    DWORD off = 0;
    result = may_change && SetTokenInformation(token, TokenVirtualizationEnabled, &off, sizeof off)
                 ? 1
                 : 0;
  }
  CloseHandle(token);
  return result;
}
