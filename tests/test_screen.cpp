// The screen mapping of the grid: cell columns and rows to screen positions,
// cell values to glyphs, and the checks on their arguments.
#include "ConioChesd.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <string>

namespace quib {
namespace {

TEST(ScreenLayout, OriginIsFixed) {
  EXPECT_EQ(originX, 30);
  EXPECT_EQ(originY, 2);
}

TEST(ScreenLayout, ColumnsLeaveRoomForTheFrameBetweenBlocks) {
  const int expected[9] = {31, 33, 35, 39, 41, 43, 47, 49, 51};
  for (int c = 0; c < 9; ++c)
    EXPECT_EQ(screenCol(c), expected[c]) << "column " << c;
}

TEST(ScreenLayout, RowsCountUpFromTheBottomOfTheScreen) {
  const int expected[9] = {23, 21, 19, 15, 13, 11, 7, 5, 3};
  for (int r = 0; r < 9; ++r)
    EXPECT_EQ(screenRow(r), expected[r]) << "row " << r;
}

TEST(ScreenLayout, CellPositionsAtCornersAndCentre) {
  struct Case {
    int i, x, y;
  };
  const Case cases[] = {
      {0, 31, 23},  {8, 51, 23},  {72, 31, 3},  {80, 51, 3},
      {40, 41, 13}, {30, 39, 15}, {51, 47, 11}, {26, 51, 19},
  };
  for (const Case &c : cases) {
    int x = -1;
    int y = -1;
    screenPos(c.i, x, y);
    EXPECT_EQ(x, c.x) << "cell " << c.i;
    EXPECT_EQ(y, c.y) << "cell " << c.i;
  }
}

// Every cell gets a position of its own that avoids the frame lines
// (x 37 and 45, y 9 and 17) and stays inside x 31-51, y 3-23.
TEST(ScreenLayout, CellsAreDistinctAndOffTheFrame) {
  bool taken[80][25] = {};
  for (int i = 0; i < 81; ++i) {
    int x = 0;
    int y = 0;
    screenPos(i, x, y);
    ASSERT_TRUE(x >= 31 && x <= 51 && y >= 3 && y <= 23) << "cell " << i;
    EXPECT_TRUE(x != 37 && x != 45 && y != 9 && y != 17) << "cell " << i;
    EXPECT_FALSE(taken[x][y]) << "cell " << i;
    taken[x][y] = true;
  }
}

TEST(ScreenLayout, GlyphsShowEmptyAsDotAndDigitsAsThemselves) {
  const char expected[] = ".123456789";
  for (int v = 0; v < 10; ++v)
    EXPECT_EQ(digitGlyph(v), expected[v]) << "value " << v;
}

// Where the asserted calls of screenPos put their (never produced) result.
int sinkX = 0;
int sinkY = 0;

struct BadArgument {
  const char *name;
  void (*call)();
  const char *text;
};

// Each call must end the process with status 3 and report exactly the
// asserted expression, writing nothing to standard output.
TEST(ScreenLayout, ArgumentsOutsideTheGridAreAsserted) {
  const BadArgument cases[] = {
      {"screenCol(-1)", [] { screenCol(-1); }, "col >= 0 && col < 9"},
      {"screenCol(9)", [] { screenCol(9); }, "col >= 0 && col < 9"},
      {"screenRow(-1)", [] { screenRow(-1); }, "row >= 0 && row < 9"},
      {"screenRow(9)", [] { screenRow(9); }, "row >= 0 && row < 9"},
      {"screenPos(81)", [] { screenPos(81, sinkX, sinkY); },
       "row >= 0 && row < 9"},
      {"screenPos(-1)", [] { screenPos(-1, sinkX, sinkY); },
       "col >= 0 && col < 9"},
      {"digitGlyph(-1)", [] { digitGlyph(-1); }, "i >= 0 && i < 10"},
      {"digitGlyph(10)", [] { digitGlyph(10); }, "i >= 0 && i < 10"},
  };
  for (const BadArgument &c : cases) {
    testing::ChildResult result = testing::runInChild(c.call);
    EXPECT_EQ(result.exitCode(), 3) << c.name;
    EXPECT_EQ(result.out, "") << c.name;
    const std::string head =
        std::string("\r\nAssertion failed: ") + c.text + ", file ";
    EXPECT_EQ(result.err.substr(0, head.size()), head) << c.name;
    EXPECT_NE(result.err.find("ConioChesd.cpp, line "), std::string::npos)
        << c.name << ": " << result.err;
  }
}

} // namespace
} // namespace quib
