#include "NeiDat.h"

#include <cstdlib>

namespace quib {

void NeiDat::sortVals() {
  // A set of no digit or of one is in order already.
  switch (size) {
  case 2:
    return sortValsOf<2>();
  case 3:
    return sortValsOf<3>();
  case 4:
    return sortValsOf<4>();
  case 5:
    return sortValsOf<5>();
  case 6:
    return sortValsOf<6>();
  case 7:
    return sortValsOf<7>();
  case 8:
    return sortValsOf<8>();
  case 9:
    return sortValsOf<9>();
  }
}

bool NeiDat::addValFailed(const std::int32_t &digit, int n) {
  // The set as addVal sees it: n digits held. One of its checks fails and
  // ends the program.
  size = n;
  addVal(digit);
  std::abort(); // not reached
}

bool NeiDat::isValFailed(int val) const {
  isVal(val);   // its check fails and ends the program
  std::abort(); // not reached
}

} // namespace quib
