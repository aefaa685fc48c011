// The patcher's entry: find the installation, update each target's config
// file, and tell the user how it went.
#include <windows.h>

#include "config/config_ini.h"
#include "discovery/install_locator.h"

namespace {

const char kCaption[] = "Varnex";

// Message for a run result, or null for a result Run never returns.
const char* OutcomeText(int result) {
  switch (result) {
    case kRunUpdated:
      return "Orvane SP1 Run Successfully.";
    case kRunFailed:
      return "Orvane SP1 Run failed.";
    case kNotInstalled:
      return "Please install Orvane Business Series.Then run this program again.";
    default:
      return NULL;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InstallLocator locator;
  ConfigIni config;
  const char* text = OutcomeText(locator.Run(UpdateTargetConfig, &config));
  if (text != NULL) MessageBoxA(NULL, text, kCaption, MB_OK);
  return 0;
}
