// Settings and skin update of one target's config file.
#include "config/config_ini.h"

#include "driver/text_helpers.h"

namespace {

const char kSettingSection[] = "Setting Infor";
const char kSkinSection[] = "Skin Infor";
const char kSkinDirectory[] = "\\Bin\\Res\\";

// The index of each skin is its position here; it names its SkinConfig key.
const char* const kSkinFiles[] = {"skinSinE.ini", "skinCorE.ini", "skinSinC.ini", "skinCorC.ini"};

}  // namespace

ConfigIni::~ConfigIni() {}

int ConfigIni::ApplyUpdate(const char* directory) {
  if (directory == NULL) return 0;
  // Every write is made even after one failed, so that a failure leaves as
  // much written as it can; any failure fails the target.
  int result = 1;
  if (!WriteInt(kSettingSection, "UILangFlag", 2)) result = 0;
  if (!WriteInt(kSettingSection, "FollowReadNum", 3)) result = 0;
  if (!WriteInt(kSettingSection, "DelayPlayTimeInHearingMode", 1500)) result = 0;
  if (!WriteInt(kSkinSection, "UIStyleFlag", 0)) result = 0;
  for (int k = 0; k < 4; ++k) {
    char* probe = JoinStrings(directory, kSkinDirectory, kSkinFiles[k]);
    if (probe == NULL) {
      // This skin's entry cannot be written, so the target is not updated.
      result = 0;
      continue;
    }
    WIN32_FIND_DATAA found;
    // An exact name with no wildcard: anything of that name counts, a folder too.
    HANDLE search = FindFirstFileA(probe, &found);
    if (search == INVALID_HANDLE_VALUE) {
      result = 0;
    } else {
      char key[32];
      char value[32];
      ZeroMemory(key, sizeof key);
      ZeroMemory(value, sizeof value);
      wsprintfA(key, "SkinConfig%d", k);
      wsprintfA(value, "res\\%s", kSkinFiles[k]);
      if (!WriteString(kSkinSection, key, value)) result = 0;
      FindClose(search);
    }
    ReleaseString(probe);
  }
  return result;
}

int UpdateTargetConfig(const char* directory, const char* config_path, void* context) {
  if (directory == NULL || config_path == NULL || context == NULL) return 0;
  // SetPath would cut a longer path and send every value to another file.
  if (lstrlenA(config_path) >= MAX_PATH) return 0;
  // Clears every attribute the call can clear (read-only, hidden, system,
  // archive, not-content-indexed, temporary, offline); a missing file is
  // created later.
  SetFileAttributesA(config_path, FILE_ATTRIBUTE_NORMAL);
  ConfigIni* config = static_cast<ConfigIni*>(context);
  config->SetPath(config_path);
  return config->ApplyUpdate(directory);
}
