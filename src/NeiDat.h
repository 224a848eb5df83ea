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
// so they are defined below, where every caller can inline them.
#pragma once

#include "check.h"

#include <cstdint>
#include <utility>

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

  // The same for a caller that knows the set holds n digits: the scan and
  // the sort of the first n slots, each a fixed sequence of comparisons.
  // isAmongFirst takes a digit, checked by its caller.
  template <int n> bool isAmongFirst(int val) const;
  template <int n> void sortFirst();

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

// The sized operations are inlined wherever they are used, whatever the
// compiler's estimate of their size: each is a few instructions for its n.
template <int n>
[[gnu::always_inline]] inline bool NeiDat::isAmongFirst(int val) const {
  // values[0] == val || values[1] == val || ... for the first n slots.
  return [&]<int... k>(std::integer_sequence<int, k...>) {
    return ((values[k] == val) || ...);
  }
  (std::make_integer_sequence<int, n>{});
}

namespace sorting {

// The selection sort of the first n slots, every slot it compares a
// constant. Pass `pass` finds the smallest value from slot pass on: having
// looked at the slots before `slot`, it holds the smallest value so far,
// `least`, which is in slot `leastSlot`. Each comparison branches to the code
// that knows the slot of the smaller value, so that no index is kept.
template <int n, int pass, int slot, int leastSlot>
[[gnu::always_inline]] inline void scanPass(std::int32_t (&values)[9],
                                            std::int32_t least) {
  if constexpr (slot == n) {
    if constexpr (leastSlot != pass) { // not in its place yet: exchange
      values[leastSlot] = values[pass];
      values[pass] = least;
    }
  } else if (values[slot] < least) { // only a strictly smaller value wins
    scanPass<n, pass, slot + 1, slot>(values, values[slot]);
  } else {
    scanPass<n, pass, slot + 1, leastSlot>(values, least);
  }
}

// Passes pass..n-2; the last slot is then in order too.
template <int n, int pass>
[[gnu::always_inline]] inline void sortFrom(std::int32_t (&values)[9]) {
  if constexpr (pass < n - 1) {
    scanPass<n, pass, pass + 1, pass>(values, values[pass]);
    sortFrom<n, pass + 1>(values);
  }
}

} // namespace sorting

template <int n> [[gnu::always_inline]] inline void NeiDat::sortFirst() {
  sorting::sortFrom<n, 0>(values);
}

} // namespace quib
