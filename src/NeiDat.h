// NeiDat: a fixed-capacity set of the digits 1-9, held in insertion order.
//
// The placement rule fills one with the digits of a row, column or block and
// asks whether a candidate digit is among them. Slots 0..size-1 hold the
// digits; the slots from size on hold 0 after construction or clear(). It
// never allocates and owns nothing.
//
// Asserted: isVal and addVal take a digit ("val > 0 && val < 10"); addVal
// never adds a digit already held ("!isVal(val)"), so size stays 0-9.
//
// The search runs these operations several times for every digit it tries,
// so all but the sort are defined below, where every caller can inline them.
#pragma once

#include "check.h"

#include <cstdint>

namespace quib {

class NeiDat {
public:
  NeiDat();

  // True when val is one of the digits held.
  bool isVal(int val) const;
  // Empties the set: every slot back to 0, size 0.
  void clear();
  // Appends val and returns the new size.
  int addVal(int val);
  // Orders the held digits ascending (selection sort, in place).
  void sortVals();

  std::int32_t size;
  std::int32_t values[9];
};

inline NeiDat::NeiDat() {
  for (std::int32_t &slot : values)
    slot = 0;
  size = 0;
}

inline bool NeiDat::isVal(int val) const {
  QUIB_CHECK(val > 0 && val < 10);
  // At most nine rounds, so the compiler unrolls the scan.
  const int n = size;
  for (int k = 0; k < n; ++k)
    if (values[k] == val)
      return true;
  return false;
}

inline void NeiDat::clear() {
  // The slots from size on hold 0 already, so clearing all nine gives the
  // same set, in three stores instead of a loop over the used ones.
  for (std::int32_t &slot : values)
    slot = 0;
  size = 0;
}

inline int NeiDat::addVal(int val) {
  QUIB_CHECK(val > 0 && val < 10);
  QUIB_CHECK(!isVal(val));
  values[size] = val;
  return ++size;
}

} // namespace quib
