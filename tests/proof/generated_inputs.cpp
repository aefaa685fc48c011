// Generated inputs for the property tests.
#include "tests/proof/generated_inputs.h"

#include <stdlib.h>
#include <windows.h>

namespace proof {

unsigned Lcg::Next(unsigned bound) {
  state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<unsigned>(state_ >> 33) % bound;
}

std::string MakeTargetText(Lcg& random, size_t length, bool dbcs) {
  static const char kPlain[] = "aZ9:._-C";
  // Half the texts start as a full path would, or nearly so.
  static const char* const kStarts[] = {"C:\\", "c:/", "Z:",   "\\\\",  "//",   "\\/",
                                        "C:",   "\\",  "1:\\", " C:\\", "CC:\\"};
  std::string text;
  if (length >= 4 && random.Next(2)) text = kStarts[random.Next(sizeof kStarts / sizeof *kStarts)];
  while (text.size() < length) {
    unsigned pick = random.Next(100);
    if (dbcs && pick < 25) {
      unsigned lead = random.Next(2) ? 0x81 + random.Next(0x20) : 0xB0 + random.Next(0x27);
      unsigned trail = 0x5C;
      if (random.Next(2)) {
        trail = 0x40 + random.Next(0xBE);
        if (trail >= 0x7F) ++trail;
      }
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
    } else if (pick < 45) {
      text += ' ';
    } else if (pick < 55) {
      text += ',';
    } else if (pick < 68) {
      text += '\\';
    } else if (pick < 76) {
      text += '/';
    } else if (pick < 80) {
      text += '\t';
    } else {
      text += kPlain[random.Next(sizeof kPlain - 1)];
    }
  }
  return text;
}

size_t SizeFromEnvironment(const char* name, size_t fallback) {
  char value[32] = {0};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return fallback;
  size_t parsed = static_cast<size_t>(strtoul(value, NULL, 10));
  return parsed > 0 ? parsed : fallback;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      wsprintfA(hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace proof
