// The key decoder's contract over arbitrary bytes, shared by the fuzz target
// and the decoder's table test.
//
// decodeAll decodes bytes as readKey meets them, one at a time (decoding
// after each, deciding the rest once no more come) or as one burst, and
// gives the codes in order, with cursorStyle(s) and attributes where the
// terminal's answers stood. On the way every result must keep the decoder's
// form (keys.h), and a byte below 0x80 other than Esc is a key of its own;
// a break of the contract aborts with its name.
#pragma once

#include "keys.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quib::contract {

constexpr int attributes = -2;
constexpr int cursorStyle(int s) { return -100 - s; }

inline void require(bool holds, const char *what) {
  if (!holds) {
    std::fprintf(stderr, "key decoder contract broken: %s\n", what);
    std::abort();
  }
}

inline std::vector<int> decodeAll(const std::string &bytes, bool oneAtATime) {
  std::string buffer;
  std::vector<int> codes;
  auto take = [&](bool final) {
    while (!buffer.empty()) {
      const auto *b = reinterpret_cast<const unsigned char *>(buffer.data());
      const DecodedKey k = decodeKey(b, buffer.size(), final);
      require(k.consumed >= (final ? 1 : 0) &&
                  k.consumed <= static_cast<int>(buffer.size()) &&
                  (k.consumed > 0 || k.count == 0),
              "consumed");
      require(k.count == 0 ? k.codes[0] == -1 && k.codes[1] == -1
              : k.count == 1
                  ? k.codes[0] >= 1 && k.codes[0] <= 255 && k.codes[1] == -1
                  : k.count == 2 && k.codes[0] == 0 && k.codes[1] >= 1 &&
                        k.codes[1] <= 166,
              "codes");
      require(b[0] >= 0x80 || b[0] == 0x1B || k.consumed == 1, "single byte");

      if (k.consumed == 0)
        return;
      codes.insert(codes.end(), k.codes, k.codes + k.count);
      if (k.report != Report::none)
        codes.push_back(k.report == Report::cursorStyle ? cursorStyle(k.style)
                                                        : attributes);
      buffer.erase(0, static_cast<std::size_t>(k.consumed));
    }
  };
  for (char b : bytes) {
    buffer += b;
    if (oneAtATime)
      take(false);
  }
  take(true);
  return codes;
}

} // namespace quib::contract
