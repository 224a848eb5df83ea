#include "NeiDat.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

using quib::NeiDat;
using quib::testing::runInChild;

namespace {

std::array<int, 9> slots(const NeiDat &set) {
  std::array<int, 9> held{};
  std::copy(std::begin(set.values), std::end(set.values), held.begin());
  return held;
}

TEST(NeiDat, NewSetIsEmpty) {
  NeiDat set;
  EXPECT_EQ(set.size, 0);
  EXPECT_EQ(slots(set), (std::array<int, 9>{}));
  for (int v = 1; v <= 9; ++v)
    EXPECT_FALSE(set.isVal(v)) << v;
}

TEST(NeiDat, AddKeepsInsertionOrderUntilSorted) {
  NeiDat set;
  EXPECT_EQ(set.addVal(7), 1);
  EXPECT_EQ(set.addVal(3), 2);
  EXPECT_EQ(set.addVal(9), 3);
  EXPECT_EQ(slots(set), (std::array<int, 9>{7, 3, 9}));
  set.sortVals();
  EXPECT_EQ(slots(set), (std::array<int, 9>{3, 7, 9}));
  for (int v = 1; v <= 9; ++v)
    EXPECT_EQ(set.isVal(v), v == 3 || v == 7 || v == 9) << v;
}

TEST(NeiDat, SortingAnyOrderOfAllNineGivesOneToNine) {
  std::array<int, 9> order{1, 2, 3, 4, 5, 6, 7, 8, 9};
  int permutations = 0;
  do {
    NeiDat set;
    for (int v : order)
      set.addVal(v);
    set.sortVals();
    ASSERT_EQ(set.size, 9);
    ASSERT_EQ(slots(set), (std::array<int, 9>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  } while (std::next_permutation(order.begin(), order.end()) &&
           ++permutations < 5000);
}

TEST(NeiDat, ClearEmptiesEverySlot) {
  NeiDat set;
  for (int v : {4, 8, 1, 6})
    set.addVal(v);
  set.clear();
  EXPECT_EQ(set.size, 0);
  EXPECT_EQ(slots(set), (std::array<int, 9>{}));
  for (int v = 1; v <= 9; ++v)
    EXPECT_FALSE(set.isVal(v)) << v;
  EXPECT_EQ(set.addVal(4), 1); // a cleared digit can be added again
}

TEST(NeiDat, PreconditionViolationsEndTheProgram) {
  struct Case {
    const char *name;
    void (*misuse)();
    const char *text;
  };
  const Case cases[] = {
      {"isVal(0)", [] { NeiDat().isVal(0); }, "val > 0 && val < 10"},
      {"isVal(10)", [] { NeiDat().isVal(10); }, "val > 0 && val < 10"},
      {"addVal(0)", [] { NeiDat().addVal(0); }, "val > 0 && val < 10"},
      {"addVal twice",
       [] {
         NeiDat set;
         set.addVal(5);
         set.addVal(5);
       },
       "!isVal(val)"},
  };
  for (const Case &c : cases) {
    auto child = runInChild(c.misuse);
    EXPECT_EQ(child.exitCode(), 3) << c.name;
    EXPECT_NE(
        child.err.find(std::string("Assertion failed: ") + c.text + ", file "),
        std::string::npos)
        << c.name << ": " << child.err;
    EXPECT_NE(child.err.find("NeiDat.cpp, line "), std::string::npos)
        << c.name << ": " << child.err;
  }
}

} // namespace
