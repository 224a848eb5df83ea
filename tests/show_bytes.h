// Bytes made readable for test messages: printable ASCII as itself, every
// other byte (blank and control bytes included) as <hh>.
#pragma once

#include <cstdio>
#include <string>

namespace quib::testing {

inline std::string show(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c >= 0x21 && c < 0x7F ? "%c" : "<%02x>", c);
    out += hex;
  }
  return out;
}

} // namespace quib::testing
