// The patcher's entry: find the installation, update each target's config
// file, and tell the user how it went.
#include <windows.h>

#include "config/config_ini.h"
#include "discovery/install_locator.h"
#include "driver/elevation.h"
#include "driver/virtualization.h"

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
  // Decided before virtualization is turned off, which would hide a standard
  // user's need of it. The relaunch shows the one box.
  if (RelaunchElevated()) return 0;
  InstallLocator locator;
  ConfigIni config;
  // Virtualized, every write would succeed into the user's VirtualStore and
  // the box would report an update nobody else sees: nothing is read or
  // written then, and the run fails.
  const int result = EndVirtualization() ? locator.Run(UpdateTargetConfig, &config) : kRunFailed;
  const char* text = OutcomeText(result);
  if (text != NULL) MessageBoxA(NULL, text, kCaption, MB_OK);
  return 0;
}
