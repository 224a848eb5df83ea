#include "NeiDat.h"

namespace quib {
namespace {

// The selection sort of n held digits. With n a constant the compiler
// unrolls both loops completely (GCC only when asked to); the smallest value
// found so far stays in a register instead of being read again through its
// slot.
template <int n> void selectionSort(std::int32_t (&values)[9]) {
#pragma GCC unroll 8
  for (int p = 0; p < n - 1; ++p) {
    int smallest = p;
    std::int32_t least = values[p];
#pragma GCC unroll 8
    for (int k = p + 1; k < n; ++k)
      if (values[k] < least) { // only a strictly smaller value replaces it
        smallest = k;
        least = values[k];
      }
    if (smallest != p) {
      values[smallest] = values[p];
      values[p] = least;
    }
  }
}

} // namespace

void NeiDat::sortVals() {
  // A set of no digit or of one is in order already.
  switch (size) {
  case 2:
    return selectionSort<2>(values);
  case 3:
    return selectionSort<3>(values);
  case 4:
    return selectionSort<4>(values);
  case 5:
    return selectionSort<5>(values);
  case 6:
    return selectionSort<6>(values);
  case 7:
    return selectionSort<7>(values);
  case 8:
    return selectionSort<8>(values);
  case 9:
    return selectionSort<9>(values);
  }
}

} // namespace quib
