// libFuzzer target for the key decoder: its contract on every input, and
// the same codes however the bytes arrive.
#include "key_contract.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  quib::contract::require(quib::contract::decodeAll(bytes, true) ==
                              quib::contract::decodeAll(bytes, false),
                          "the codes depend on how the bytes arrive");
  return 0;
}
