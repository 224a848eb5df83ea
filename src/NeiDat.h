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
  // comparisons in a row, the slot a constant, and size is neither read nor
  // written. addValOf leaves size to the caller, which sets it once, when
  // the unit is collected: one store per unit instead of one per digit, 7
  // instructions per trial of the search. It gives false, and stores
  // nothing, when one of addVal's checks fails; the caller then ends the
  // program with addValFailed.
  template <int n> bool isValOf(int val) const;
  template <int n> bool addValOf(const std::int32_t &digit);
  template <int n> void sortValsOf();

  // Ends the program with addVal's report for digit, added to the n digits
  // held. It never returns, but is not declared [[noreturn]], so that the
  // collecting of a unit can jump to it as its last step: code that only
  // jumps needs no stack frame, which GCC on Windows sets up at the start
  // of every function that calls (2 instructions for every cell). The digit
  // comes by reference, so that its register is free for the caller's own
  // values until then.
  bool addValFailed(const std::int32_t &digit, int n);
  // The same for isVal given a val that is no digit: ends the program with
  // isVal's report.
  bool isValFailed(int val) const;

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
[[gnu::always_inline]] inline bool NeiDat::addValOf(const std::int32_t &digit) {
  static_assert(n >= 0 && n < 9);
  const std::int32_t val = digit;
  // addVal's checks, in its order: a digit, and not held yet.
  if (!(val > 0 && val < 10) || isValOf<n>(val)) [[unlikely]]
    return false;
  values[n] = val;
  return true;
}

namespace sorting {

// The selection sort of n digits, with every slot it compares a constant:
// pass p has looked at slots p..k-1, the smallest value among them is least
// and s its slot. Each comparison is a branch to the code that knows the
// slot of the smaller value, so that no index of the smallest is kept and
// tested, and the values stay in registers from one pass to the next (GCC's
// partial-redundancy elimination carries them over the exchanges): 30
// instructions per trial fewer than loops over an index of the smallest.
template <int n, int p, int k, int s>
[[gnu::always_inline]] inline void scanFrom(std::int32_t (&values)[9],
                                            std::int32_t least) {
  if constexpr (k == n) {
    if constexpr (s != p) { // the smallest is not in slot p: exchange
      values[s] = values[p];
      values[p] = least;
    }
  } else if (values[k] < least) { // only a strictly smaller value replaces it
    scanFrom<n, p, k + 1, k>(values, values[k]);
  } else {
    scanFrom<n, p, k + 1, s>(values, least);
  }
}

template <int n, int p>
[[gnu::always_inline]] inline void sortFrom(std::int32_t (&values)[9]) {
  if constexpr (p < n - 1) {
    scanFrom<n, p, p + 1, p>(values, values[p]);
    sortFrom<n, p + 1>(values);
  }
}

} // namespace sorting

template <int n> [[gnu::always_inline]] inline void NeiDat::sortValsOf() {
  sorting::sortFrom<n, 0>(values);
}

} // namespace quib
