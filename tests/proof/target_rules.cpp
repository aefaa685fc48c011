// The walk's rules for one target text, restated.
#include "tests/proof/target_rules.h"

#include <windows.h>

namespace proof {

namespace {

bool IsLead936(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace

TargetOutcome ExpectedTarget(const std::string& stored, unsigned code_page) {
  TargetOutcome none = {false, "", ""};
  std::string view = stored.substr(0, stored.size() < MAX_PATH ? stored.size() : MAX_PATH);
  size_t zero = view.find('\0');
  if (zero == std::string::npos && stored.size() >= MAX_PATH) return none;
  std::string text = view.substr(0, zero);
  size_t comma = text.rfind(',');
  if (comma != std::string::npos) text.resize(comma);
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return none;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  size_t last = text.size() - 1;
  if (code_page == 936) {
    for (size_t at = 0; at < text.size();) {
      last = at;
      at += (IsLead936(text[at]) && at + 1 < text.size()) ? 2 : 1;
    }
  }
  if (last == text.size() - 1 && (text[last] == '\\' || text[last] == '/')) text.resize(last);
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  bool unc = text.size() >= 2 && separator(text[0]) && separator(text[1]);
  bool drive = text.size() >= 2 && letter(text[0]) && text[1] == ':' &&
               (text.size() == 2 || separator(text[2]));
  if (!unc && !drive) return none;
  return {true, text, text + "\\Bin\\config.ini"};
}

}  // namespace proof
