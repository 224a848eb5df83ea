#include "NeiDat.h"

namespace quib {

void NeiDat::sortVals() {
  for (int p = 0; p < size - 1; ++p) {
    int smallest = p;
    for (int k = p + 1; k < size; ++k)
      if (values[k] < values[smallest])
        smallest = k;
    if (smallest != p) {
      std::int32_t held = values[p];
      values[p] = values[smallest];
      values[smallest] = held;
    }
  }
}

} // namespace quib
