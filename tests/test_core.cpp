// The puzzle core: the assertion report, the digit set, the grid model, the
// rule, the solver (against completions checked once by hand: every row,
// column and block holds each digit once, the givens kept) and the file
// bytes.
// A grid is written as 81 characters, the top row (row 8) first, '.' empty.
#include "NeiDat.h"
#include "check.h"
#include "chesd.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <numeric>

using namespace quib;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::ExitedWithCode;

namespace {

Grid gridOf(const std::string &screen) {
  Grid grid;
  for (int k = 0; k < 81; ++k)
    grid.cells[(8 - k / 9) * 9 + k % 9] =
        screen[k] == '.' ? 0 : screen[k] - '0';
  return grid;
}

// GoogleTest reads a death test's standard error in text mode on Windows,
// where CR LF then arrives as LF; the end-to-end tests see the bytes.
#ifdef _WIN32
const std::string crlf = "\n";
#else
const std::string crlf = "\r\n";
#endif

TEST(Check, ReportIsExactCutAt245AndEndsWithStatus3) {
  const std::string line = std::to_string(__LINE__ + 1);
  EXPECT_EXIT(QUIB_CHECK(1 + 1 == 3), ExitedWithCode(3),
              ::testing::StrEq(crlf + "Assertion failed: 1 + 1 == 3, file " +
                               std::string(__FILE__) + ", line " + line + crlf +
                               crlf + "Abnormal program termination" + crlf));
  EXPECT_EXIT(rowOf(81), ExitedWithCode(3), "failed: isValidIndex\\(i\\), ");
  for (std::size_t length : {205, 212, 213, 219, 220, 400}) {
    const std::string file(length, 'f');
    char out[300];
    const int n = formatCheckReport(out, "x > 0", file.c_str(), 1234);
    EXPECT_EQ(
        std::string(out, static_cast<std::size_t>(n)),
        ("Assertion failed: x > 0, file " + file + ", line ").substr(0, 245) +
            "1234");
  }
}

TEST(NeiDat, SortsEveryOrderOfEverySize) {
  // Size n holds the n largest digits, so that below size 9 no slot's
  // digit is its index plus one; every order of them is added and sorted.
  for (int n = 0; n <= 9; ++n) {
    std::array<std::int32_t, 9> sorted{};
    std::iota(sorted.begin(), sorted.begin() + n, 10 - n);
    std::array<std::int32_t, 9> order = sorted;
    do {
      NeiDat set;
      for (int k = 0; k < n; ++k)
        set.addVal(order[k]);
      set.sortVals();
      ASSERT_THAT(set.values, ElementsAreArray(sorted))
          << "added " << ::testing::PrintToString(order);
    } while (std::next_permutation(order.begin(), order.begin() + n));
  }
}

TEST(NeiDat, AddsLooksUpClearsAndGuardsItsDigits) {
  NeiDat set;
  EXPECT_THAT((std::array{set.addVal(7), set.addVal(3), set.addVal(9)}),
              ElementsAre(1, 2, 3));
  EXPECT_TRUE(set.isVal(3) && set.isVal(7) && set.isVal(9) && !set.isVal(8));
  EXPECT_EXIT(set.addVal(3), ExitedWithCode(3), "failed: !isVal\\(val\\), ");
  set.clear();
  EXPECT_THAT(set.values, ::testing::Each(0));
  EXPECT_TRUE(set.size == 0 && !set.isVal(9) && !set.isVal(7));
  EXPECT_EXIT(set.isVal(10), ExitedWithCode(3), "failed: val > 0 && val < 10");
}

TEST(Grid, IndicesAndScans) {
  const int cases[][4] = {{0, 0, 0, 0},  {8, 0, 8, 2},  {27, 3, 0, 3},
                          {40, 4, 4, 4}, {60, 6, 6, 8}, {80, 8, 8, 8}};
  for (const auto &c : cases)
    EXPECT_THAT((std::array{rowOf(c[0]), colOf(c[0]), blockOf(c[0])}),
                ElementsAre(c[1], c[2], c[3]));
  EXPECT_THAT((std::array{isValidIndex(-1), isValidIndex(0), isValidIndex(80),
                          isValidIndex(81), isValidVal(0), isValidVal(1),
                          isValidVal(9), isValidVal(10)}),
              ElementsAre(false, true, true, false, false, true, true, false));
  Grid grid = gridOf(std::string(8, '5') + "." + std::string(72, '5'));
  EXPECT_EQ(firstEmpty(grid), 80);
  EXPECT_EQ(countEmpty(grid), 1);
  cellAt(grid, 80) = 1;
  EXPECT_EQ(firstEmpty(grid), -1);
  EXPECT_EQ(countEmpty(grid), 0);
  EXPECT_THAT((std::array{countEmpty(clearGrid(grid)), firstEmpty(grid)}),
              ElementsAre(81, 0));
}

TEST(Rule, ADigitMayNotRepeatInItsRowColumnOrBlock) {
  // Cell 40 (row 4, column 4) holds 5, cell 0 holds 1: index, digit, stored.
  const int cases[][3] = {{36, 5, 0}, {44, 5, 0}, {4, 5, 0},  {76, 5, 0},
                          {30, 5, 0}, {50, 5, 0}, {40, 5, 0}, {40, 6, 1},
                          {20, 5, 1}, {1, 1, 0},  {9, 1, 0},  {20, 1, 0},
                          {30, 1, 1}, {80, 9, 1}};
  for (const auto &c : cases) {
    Grid grid;
    grid.cells[40] = 5;
    grid.cells[0] = 1;
    const int before = grid.cells[c[0]];
    EXPECT_EQ(setVal(grid, c[0], c[1]), c[2] == 1) << c[0] << ", " << c[1];
    EXPECT_EQ(grid.cells[c[0]], c[2] ? c[1] : before) << c[0];
  }
}

TEST(Rule, AUnitHoldingADigitTwiceOrANonDigitEndsWithAddValsReport) {
  // Cell, value written straight into an empty grid (with 5 in cells 2 and
  // 60), the unit collected through cell 0 or 80, and addVal's report.
  const char *const twice = "failed: !isVal\\(val\\), file .*NeiDat\\.h";
  const char *const range = "failed: val > 0 && val < 10, file .*NeiDat\\.h";
  const struct {
    int cell, value, through;
    int (*collect)(const Grid &, NeiDat &, int);
    const char *report;
  } cases[] = {
      {7, 5, 0, collectRow, twice},     {72, 10, 0, collectCol, range},
      {70, 5, 80, collectBlock, twice}, {8, -3, 0, collectRow, range},
      {80, 5, 80, nullptr, twice},      {45, 0x7fffffff, 0, nullptr, range}};
  for (const auto &c : cases) {
    Grid grid;
    grid.cells[2] = grid.cells[60] = 5;
    grid.cells[c.cell] = c.value;
    NeiDat set;
    EXPECT_EXIT(c.collect ? c.collect(grid, set, c.through)
                          : setVal(grid, c.through, 1),
                ExitedWithCode(3), c.report)
        << c.cell;
  }
}

TEST(Solve, FindsTheFirstCompletionOrLeavesTheGridAsItWas) {
  const std::string full = "978531642642978531531642978897214365365897214"
                           "214365897789123456456789123123456789";
  const std::string cases[][2] = {
      {std::string(81, '.'), full},
      {"53..7....6..195....98....6.8...6...34..8.3..17...2...6.6....28...."
       "419..5....8..79",
       "534678912672195348198342567859761423426853791713924856961537284287"
       "419635345286179"},
      {full.substr(0, 45) + "..4365897789123456456789123..3456789", full},
      {full.substr(0, 72) + ".23456789", full},
      {full, ""},
      {std::string(27, '.') + "5........6........7........8........9....."
                              "....1234....",
       ""},
      {"........9" + std::string(54, '.') + "9.........1234567.", ""}};
  for (const auto &[givens, solved] : cases) {
    Grid grid = gridOf(givens);
    EXPECT_EQ(solve(grid), !solved.empty()) << givens;
    EXPECT_THAT(
        grid.cells,
        ElementsAreArray(gridOf(solved.empty() ? givens : solved).cells));
  }
}

TEST(WriteGrid, WritesTheRowsTopFirstInBandsWithCrLf) {
  Grid grid = gridOf("5.......9" + std::string(36, '.') + "....7...." +
                     std::string(18, '.') + "1........");
  ASSERT_TRUE(writeGrid(grid, "foo.dat"));
  std::ifstream file("foo.dat", std::ios::binary);
  const std::string zeros = "0 0 0   0 0 0   0 0 0\r\n";
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}),
            "5 0 0   0 0 0   0 0 9\r\n" + zeros + zeros + "\r\n" + zeros +
                zeros + "0 0 0   0 7 0   0 0 0\r\n\r\n" + zeros + zeros +
                "1 0 0   0 0 0   0 0 0\r\n\r\n");
  EXPECT_FALSE(writeGrid(grid, "no-such-directory/foo.dat"));
}

} // namespace
