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
// so they are defined below, where every caller can inline them; the sort
// and the search use the forms for a known number of digits.
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

  // The same operations for a caller that knows the set holds n digits, as
  // the collecting of a unit does at every cell (chesd.cpp): each scan is n
  // comparisons in a row, the slot a constant, and size is never read.
  template <int n> bool isValOf(int val) const;
  template <int n> void addValOf(const std::int32_t &digit);
  template <int n> void sortValsOf();

  std::int32_t size;
  std::int32_t values[9];

private:
  // Ends the program with addVal's report for digit: addValOf's two checks have
  // one way out, so that the collecting of a unit, a chain of jumps, sets up no
  // stack frame for it (2 instructions per digit added). The digit comes by
  // reference, so that its register is free for the caller's own values until
  // then.
  [[noreturn]] void addValFailed(const std::int32_t &digit);
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
// compiler's estimate of their size: each of them is a few instructions for
// its n.
template <int n>
[[gnu::always_inline]] inline bool NeiDat::isValOf(int val) const {
  QUIB_CHECK(val > 0 && val < 10);
  // values[0] == val || values[1] == val || ... for the first n slots.
  return [&]<int... k>(std::integer_sequence<int, k...>) {
    return ((values[k] == val) || ...);
  }
  (std::make_integer_sequence<int, n>{});
}

template <int n>
[[gnu::always_inline]] inline void NeiDat::addValOf(const std::int32_t &digit) {
  static_assert(n >= 0 && n < 9);
  const std::int32_t val = digit;
  // addVal's checks, in its order: a digit, and not held yet.
  if (!(val > 0 && val < 10) || isValOf<n>(val)) [[unlikely]]
    addValFailed(digit);
  values[n] = val;
  size = n + 1;
}

// The selection sort of n held digits. With n a constant the compiler
// unrolls both loops completely (GCC only when asked to); the smallest value
// found so far stays in a register instead of being read again through its
// slot.
template <int n> [[gnu::always_inline]] inline void NeiDat::sortValsOf() {
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

} // namespace quib
