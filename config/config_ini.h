// The update this service pack applies to one installation's config file: fixed
// interface and playback settings and an entry per skin definition present.
#ifndef CONFIG_CONFIG_INI_H_
#define CONFIG_CONFIG_INI_H_

#include "config/ini_file.h"

class ConfigIni : public IniFile {
 public:
  ConfigIni() {}
  ~ConfigIni() override;

  // Writes the settings and, for each skin file found in directory\Bin\Res\,
  // its SkinConfig entry, into the file set with SetPath. Returns 1 when every
  // write succeeded and all four skins are found, else 0. Every write is made
  // even after one failed; entries of skins not found are left as they were.
  // A skin whose path is MAX_PATH characters or longer is not found, present
  // or not: from a directory of 239 single-byte characters on, none is.
  int ApplyUpdate(const char* directory);
};

// Per-target callback for InstallLocator::Run; context is the ConfigIni to
// write through. Makes the config file's attributes normal (every attribute
// SetFileAttributesA can clear: read-only, hidden, system, archive,
// not-content-indexed, temporary, offline), points the
// ConfigIni at it and applies the update. Returns ApplyUpdate's result, or 0
// for a null argument or a config path that does not fit in MAX_PATH (then
// nothing is touched).
int UpdateTargetConfig(const char* directory, const char* config_path, void* context);

#endif  // CONFIG_CONFIG_INI_H_
