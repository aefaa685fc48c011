// Generated inputs for the property tests.
#include "tests/proof/generated_inputs.h"

#include <stdlib.h>
#include <windows.h>

namespace proof {

unsigned Lcg::Next(unsigned bound) {
  state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<unsigned>(state_ >> 33) % bound;
}

namespace {

// The UTF-8 form of a code point below 0x110000 that is no surrogate.
std::string Utf8(unsigned point) {
  std::string bytes;
  if (point < 0x800) {
    bytes += static_cast<char>(0xC0 | point >> 6);
  } else if (point < 0x10000) {
    bytes += static_cast<char>(0xE0 | point >> 12);
    bytes += static_cast<char>(0x80 | (point >> 6 & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | point >> 18);
    bytes += static_cast<char>(0x80 | (point >> 12 & 0x3F));
    bytes += static_cast<char>(0x80 | (point >> 6 & 0x3F));
  }
  return bytes + static_cast<char>(0x80 | (point & 0x3F));
}

// A character of the code page: a GBK pair under 936, often with the trail
// byte 0x5C; under 65001 a code point of 2, 3 or 4 bytes, mostly Chinese.
std::string MultiByteCharacter(Lcg& random, unsigned code_page) {
  if (code_page == 65001) {
    unsigned pick = random.Next(10);
    if (pick < 2) return Utf8(0x80 + random.Next(0x800 - 0x80));
    if (pick < 7) return Utf8(0x4E00 + random.Next(0x9FFF - 0x4E00 + 1));
    if (pick < 9) {
      unsigned point = 0x800 + random.Next(0xFFFE - 0x800);
      return Utf8(point >= 0xD800 && point < 0xE000 ? point + 0x800 : point);
    }
    return Utf8(0x10000 + random.Next(0x110000 - 0x10000));
  }
  unsigned lead = random.Next(2) ? 0x81 + random.Next(0x20) : 0xB0 + random.Next(0x27);
  unsigned trail = 0x5C;
  if (random.Next(2)) {
    trail = 0x40 + random.Next(0xBE);
    if (trail >= 0x7F) ++trail;
  }
  return std::string(1, static_cast<char>(lead)) + static_cast<char>(trail);
}

}  // namespace

std::string MakeTargetText(Lcg& random, size_t length, unsigned code_page) {
  const bool multibyte = code_page == 936 || code_page == 65001;
  static const char kPlain[] = "aZ9:._-C";
  // Half the texts start as a full path would, or nearly so.
  static const char* const kStarts[] = {"C:\\", "c:/", "Z:",   "\\\\",  "//",   "\\/",
                                        "C:",   "\\",  "1:\\", " C:\\", "CC:\\"};
  std::string text;
  if (length >= 4 && random.Next(2)) text = kStarts[random.Next(sizeof kStarts / sizeof *kStarts)];
  while (text.size() < length) {
    unsigned pick = random.Next(100);
    if (multibyte && pick < 25) {
      text += MultiByteCharacter(random, code_page);
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
