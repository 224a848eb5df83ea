// libFuzzer target for the key decoder: every input is decoded in every way
// of arrival that readKey can meet, and any break of the decoder's contract
// ends the run with a description and the input bytes.
#include "decoder_contract.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string violation =
      quib::fuzz::findViolation(quib::decodeKey, data, size);
  if (!violation.empty()) {
    std::fprintf(stderr, "%s\n", violation.c_str());
    std::abort();
  }
  return 0;
}
