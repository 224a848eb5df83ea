#include "NeiDat.h"

namespace quib {

void NeiDat::sortVals() {
  // A set of no digit or of one is in order already.
  switch (size) {
  case 2:
    return sortFirst<2>();
  case 3:
    return sortFirst<3>();
  case 4:
    return sortFirst<4>();
  case 5:
    return sortFirst<5>();
  case 6:
    return sortFirst<6>();
  case 7:
    return sortFirst<7>();
  case 8:
    return sortFirst<8>();
  case 9:
    return sortFirst<9>();
  }
}

} // namespace quib
