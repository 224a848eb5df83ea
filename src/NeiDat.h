// NeiDat: a fixed-capacity set of the digits 1-9, held in insertion order.
//
// The placement rule fills one with the digits of a row, column or block and
// asks whether a candidate digit is among them. Slots 0..size-1 hold the
// digits; the slots from size on hold 0 after construction or clear(). It
// never allocates and owns nothing.
//
// Asserted: isVal and addVal take a digit ("val > 0 && val < 10"); addVal
// never adds a digit already held ("!isVal(val)"), so size stays 0-9.
#pragma once

#include <cstdint>

namespace quib {

class NeiDat {
public:
  NeiDat();

  // True when val is one of the digits held.
  bool isVal(int val) const;
  // Empties the set: every used slot back to 0, size 0.
  void clear();
  // Appends val and returns the new size.
  int addVal(int val);
  // Orders the held digits ascending (selection sort, in place).
  void sortVals();

  std::int32_t size;
  std::int32_t values[9];
};

} // namespace quib
