#include "NeiDat.h"

#include "check.h"

namespace quib {

NeiDat::NeiDat() {
  for (std::int32_t &slot : values)
    slot = 0;
  size = 0;
}

bool NeiDat::isVal(int val) const {
  QUIB_CHECK(val > 0 && val < 10);
  for (int k = 0; k < size; ++k)
    if (values[k] == val)
      return true;
  return false;
}

void NeiDat::clear() {
  for (int k = 0; k < size; ++k)
    values[k] = 0;
  size = 0;
}

int NeiDat::addVal(int val) {
  QUIB_CHECK(val > 0 && val < 10);
  QUIB_CHECK(!isVal(val));
  values[size] = val;
  return ++size;
}

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
