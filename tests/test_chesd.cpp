#include "chesd.h"

#include "NeiDat.h"
#include "child_process.h"
#include "mask_search.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

using namespace quib;
using quib::testing::gridFromScreen;
using quib::testing::runInChild;

namespace {

std::string rowText(const Grid &grid, int r) {
  std::string text;
  for (int c = 0; c < 9; ++c)
    text += static_cast<char>('0' + grid.cells[r * 9 + c]);
  return text;
}

// Independent of the code under test: every row, column and block holds
// each digit 1-9 exactly once, and every given is kept.
::testing::AssertionResult isCompletionOf(const Grid &solved,
                                          const Grid &givens) {
  for (int unit = 0; unit < 9; ++unit) {
    std::array<int, 10> inRow{}, inCol{}, inBlock{};
    for (int k = 0; k < 9; ++k) {
      int blockCell = (unit / 3 * 3 + k / 3) * 9 + unit % 3 * 3 + k % 3;
      ++inRow.at(static_cast<size_t>(solved.cells[unit * 9 + k]));
      ++inCol.at(static_cast<size_t>(solved.cells[k * 9 + unit]));
      ++inBlock.at(static_cast<size_t>(solved.cells[blockCell]));
    }
    for (int d = 1; d <= 9; ++d)
      if (inRow[d] != 1 || inCol[d] != 1 || inBlock[d] != 1)
        return ::testing::AssertionFailure()
               << "digit " << d << " not exactly once in unit " << unit;
  }
  for (int i = 0; i < 81; ++i)
    if (givens.cells[i] != 0 && givens.cells[i] != solved.cells[i])
      return ::testing::AssertionFailure() << "given at " << i << " changed";
  return ::testing::AssertionSuccess();
}

bool referenceSolve(Grid &grid) {
  long trials = 0;
  return quib::testing::maskSolve(grid, trials);
}

bool sameCells(const Grid &a, const Grid &b) {
  return std::equal(std::begin(a.cells), std::end(a.cells),
                    std::begin(b.cells));
}

TEST(GridModel, NewGridIsEmpty) {
  Grid grid;
  EXPECT_EQ(countEmpty(grid), 81);
  EXPECT_EQ(firstEmpty(grid), 0);
  grid.cells[0] = 4;
  EXPECT_EQ(&clearGrid(grid), &grid);
  EXPECT_EQ(countEmpty(grid), 81);
}

TEST(GridModel, Predicates) {
  struct Case {
    int value;
    bool index, digit;
  };
  for (Case c :
       {Case{-1, false, false}, Case{0, true, false}, Case{1, true, true},
        Case{9, true, true}, Case{10, true, false}, Case{80, true, false},
        Case{81, false, false}}) {
    EXPECT_EQ(isValidIndex(c.value), c.index) << c.value;
    EXPECT_EQ(isValidVal(c.value), c.digit) << c.value;
  }
}

TEST(GridModel, IndexMapping) {
  struct Case {
    int i, row, col, block;
  };
  for (Case c : {Case{0, 0, 0, 0}, Case{8, 0, 8, 2}, Case{9, 1, 0, 0},
                 Case{27, 3, 0, 3}, Case{40, 4, 4, 4}, Case{53, 5, 8, 5},
                 Case{60, 6, 6, 8}, Case{72, 8, 0, 6}, Case{80, 8, 8, 8}}) {
    EXPECT_EQ(rowOf(c.i), c.row) << c.i;
    EXPECT_EQ(colOf(c.i), c.col) << c.i;
    EXPECT_EQ(blockOf(c.i), c.block) << c.i;
  }
}

TEST(GridModel, Scans) {
  Grid grid;
  for (int i = 0; i < 80; ++i)
    grid.cells[i] = 1 + i % 9;
  EXPECT_EQ(firstEmpty(grid), 80);
  EXPECT_EQ(countEmpty(grid), 1);
  grid.cells[80] = 9;
  EXPECT_EQ(firstEmpty(grid), -1);
  EXPECT_EQ(countEmpty(grid), 0);
  grid.cells[33] = 0;
  EXPECT_EQ(firstEmpty(grid), 33);
}

TEST(GridModel, CellAtGivesWriteAccess) {
  Grid grid;
  cellAt(grid, 80) = 7;
  EXPECT_EQ(grid.cells[80], 7);
  const Grid &view = grid;
  EXPECT_EQ(cellAt(view, 80), 7);
}

TEST(GridModel, InvalidIndicesEndTheProgram) {
  struct Case {
    const char *name;
    void (*misuse)();
  };
  const Case cases[] = {{"rowOf(-1)", [] { rowOf(-1); }},
                        {"colOf(81)", [] { colOf(81); }},
                        {"blockOf(81)", [] { blockOf(81); }},
                        {"cellAt(-1)",
                         [] {
                           Grid grid;
                           cellAt(grid, -1) = 1;
                         }},
                        {"setVal index", [] {
                           Grid grid;
                           setVal(grid, 81, 1);
                         }}};
  for (const Case &c : cases) {
    auto child = runInChild(c.misuse);
    EXPECT_EQ(child.exitCode(), 3) << c.name;
    EXPECT_NE(child.err.find("Assertion failed: isValidIndex(i), file "),
              std::string::npos)
        << c.name << ": " << child.err;
  }
  auto child = runInChild([] {
    Grid grid;
    setVal(grid, 0, 10);
  });
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_NE(child.err.find("Assertion failed: isValidVal(val), file "),
            std::string::npos)
      << child.err;
}

TEST(Collect, UnitsAreGatheredSortedAndCounted) {
  Grid grid = gridFromScreen("9.......1"
                             "........."
                             "..3......"
                             "........."
                             "....5...."
                             "........."
                             "7.......4"
                             ".2......."
                             "8......6.");
  NeiDat set;
  set.addVal(5); // collecting starts from a cleared set
  EXPECT_EQ(collectRow(grid, set, 5), 2); // row 0: 8 and 6
  EXPECT_EQ(set.values[0], 6);
  EXPECT_EQ(set.values[1], 8);
  EXPECT_EQ(collectCol(grid, set, 0), 3); // column 0: 8, 7, 9
  EXPECT_EQ(set.values[0], 7);
  EXPECT_EQ(set.values[2], 9);
  EXPECT_EQ(collectBlock(grid, set, 10), 3); // block 0: 8, 2, 7
  EXPECT_EQ(set.values[0], 2);
  EXPECT_EQ(set.values[1], 7);
  EXPECT_EQ(set.values[2], 8);
  EXPECT_EQ(collectBlock(grid, set, 80), 1); // block 8: 1
  EXPECT_EQ(collectBlock(grid, set, 40), 1); // block 4: 5
  EXPECT_EQ(set.values[0], 5);
  EXPECT_EQ(collectRow(grid, set, 45), 0); // row 5 is empty
}

TEST(SetVal, DigitMayNotRepeatInRowColumnOrBlock) {
  Grid grid;
  ASSERT_TRUE(setVal(grid, 0, 5));
  EXPECT_EQ(grid.cells[0], 5);
  struct Case {
    int i;
    bool accepted;
  };
  // same row, same column, same block, elsewhere
  for (Case c :
       {Case{1, false}, Case{8, false}, Case{9, false}, Case{72, false},
        Case{10, false}, Case{20, false}, Case{30, true}}) {
    Grid trial = grid;
    EXPECT_EQ(setVal(trial, c.i, 5), c.accepted) << c.i;
    EXPECT_EQ(trial.cells[c.i], c.accepted ? 5 : 0) << c.i;
    EXPECT_EQ(trial.cells[0], 5);
  }
}

TEST(SetVal, CellsOwnDigitBlocksOnlyItself) {
  Grid grid;
  grid.cells[0] = 5;
  EXPECT_FALSE(setVal(grid, 0, 5));
  EXPECT_TRUE(setVal(grid, 0, 6));
  EXPECT_EQ(grid.cells[0], 6);
  EXPECT_TRUE(setVal(grid, 1, 5)); // the replaced 5 no longer blocks
}

TEST(Solve, EmptyGridGivesTheFirstCompletionInSearchOrder) {
  Grid grid;
  ASSERT_TRUE(solve(grid));
  const char *rows[9] = {"123456789", "456789123", "789123456",
                         "214365897", "365897214", "897214365",
                         "531642978", "642978531", "978531642"};
  for (int r = 0; r < 9; ++r)
    EXPECT_EQ(rowText(grid, r), rows[r]) << "row " << r;
  EXPECT_TRUE(isCompletionOf(grid, Grid()));
}

struct PuzzleCase {
  const char *name;
  const char *screen;
  bool solvable;
};

void PrintTo(const PuzzleCase &puzzle, std::ostream *out) {
  *out << puzzle.name;
}

class SolvePuzzle : public ::testing::TestWithParam<PuzzleCase> {};

TEST_P(SolvePuzzle, CompletesOrLeavesTheGridAsItWas) {
  const PuzzleCase &puzzle = GetParam();
  const Grid givens = gridFromScreen(puzzle.screen);
  Grid grid = givens;
  Grid reference = givens;
  bool referenceFound = referenceSolve(reference);
  ASSERT_EQ(referenceFound, puzzle.solvable) << "the table is wrong";
  ASSERT_EQ(solve(grid), puzzle.solvable);
  if (puzzle.solvable) {
    EXPECT_TRUE(isCompletionOf(grid, givens));
    EXPECT_TRUE(sameCells(grid, reference)) << "not the first completion";
  } else {
    EXPECT_TRUE(sameCells(grid, givens));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SolvePuzzle,
    ::testing::Values(
        // One completion: a typical newspaper puzzle.
        PuzzleCase{"newspaper",
                   "53..7...."
                   "6..195..."
                   ".98....6."
                   "8...6...3"
                   "4..8.3..1"
                   "7...2...6"
                   ".6....28."
                   "...419..5"
                   "....8..79",
                   true},
        // Many completions: the same puzzle with most givens taken away.
        PuzzleCase{"few givens",
                   "53..7...."
                   "6..195..."
                   ".98......"
                   "........."
                   "........."
                   "........."
                   "........."
                   "........."
                   "........9",
                   true},
        // Two completions: the four empty cells hold 1 2 over 2 1 or
        // 2 1 over 1 2; the search must return the first, 1 2 at the bottom.
        PuzzleCase{"two completions",
                   "978531642"
                   "642978531"
                   "531642978"
                   "897214365"
                   "365897214"
                   "..4365897"
                   "789123456"
                   "456789123"
                   "..3456789",
                   true},
        // No completion: the bottom-left cell can hold no digit at all.
        PuzzleCase{"dead cell early",
                   "........."
                   "........."
                   "........."
                   "5........"
                   "6........"
                   "7........"
                   "8........"
                   "9........"
                   ".1234....",
                   false},
        // No completion, found only after trials: the last digit missing
        // in row 0 is blocked in both remaining cells by their columns.
        PuzzleCase{"blocked pair",
                   "........9"
                   "........."
                   "........."
                   "........."
                   "........."
                   "........."
                   "........."
                   "9........"
                   ".1234567.",
                   false}),
    [](const ::testing::TestParamInfo<PuzzleCase> &info) {
      std::string name = info.param.name;
      for (char &ch : name)
        if (ch == ' ')
          ch = '_';
      return name;
    });

TEST(Solve, FullGridIsReportedAsUnsolvedAndLeftAlone) {
  Grid grid;
  ASSERT_TRUE(solve(grid));
  const Grid full = grid;
  EXPECT_FALSE(solve(grid));
  EXPECT_TRUE(sameCells(grid, full));
}

TEST(Solve, SingleEmptyCell) {
  Grid full;
  ASSERT_TRUE(solve(full));
  for (int i : {0, 40, 80}) {
    Grid grid = full;
    grid.cells[i] = 0;
    ASSERT_TRUE(solve(grid)) << i;
    EXPECT_TRUE(sameCells(grid, full)) << i;
  }
  // One empty cell whose missing row digit is blocked by its column: the
  // row misses 1 at cell 0, and column 0 gets its 1 moved elsewhere.
  Grid blocked;
  for (int c = 1; c < 9; ++c)
    blocked.cells[c] = c + 1;
  for (int r = 1; r < 9; ++r)
    for (int c = 0; c < 9; ++c)
      blocked.cells[r * 9 + c] = full.cells[r * 9 + c];
  // full row 0 is 123456789, so cell 0 misses 1, which column 0 does not
  // hold; make it hold a 1 by changing row 3's column 0 (a 2 in full).
  blocked.cells[27] = 1;
  const Grid before = blocked;
  EXPECT_FALSE(solve(blocked));
  EXPECT_TRUE(sameCells(blocked, before));
  EXPECT_EQ(blocked.cells[0], 0);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

class WriteGrid : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/quib-writegrid-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::remove((dir + "/foo.dat").c_str());
    ::rmdir(dir.c_str());
  }
  std::string dir;
};

TEST_F(WriteGrid, ClearedGridBytes) {
  const std::string path = dir + "/foo.dat";
  ASSERT_TRUE(writeGrid(Grid(), path.c_str()));
  const std::string line = "0 0 0   0 0 0   0 0 0\r\n";
  const std::string band = line + line + line + "\r\n";
  const std::string expected = band + band + band;
  EXPECT_EQ(expected.size(), 213u);
  EXPECT_EQ(readFile(path), expected);
}

TEST_F(WriteGrid, TopRowFirstAndEmptyLineAfterEachBand) {
  Grid grid = gridFromScreen("5.......9"
                             "..3......"
                             "........."
                             ".4......."
                             "........."
                             "........."
                             "......7.."
                             "........."
                             "1.......2");
  const std::string path = dir + "/foo.dat";
  ASSERT_TRUE(writeGrid(grid, path.c_str()));
  const std::string z = "0 0 0   0 0 0   0 0 0\r\n";
  EXPECT_EQ(readFile(path), "5 0 0   0 0 0   0 0 9\r\n"
                            "0 0 3   0 0 0   0 0 0\r\n" +
                                z + "\r\n" + "0 4 0   0 0 0   0 0 0\r\n" + z +
                                z + "\r\n" + "0 0 0   0 0 0   7 0 0\r\n" + z +
                                "1 0 0   0 0 0   0 0 2\r\n\r\n");
}

TEST_F(WriteGrid, ExistingFileIsReplaced) {
  const std::string path = dir + "/foo.dat";
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(1000, 'x');
  }
  Grid grid;
  grid.cells[80] = 9;
  ASSERT_TRUE(writeGrid(grid, path.c_str()));
  const std::string written = readFile(path);
  EXPECT_EQ(written.size(), 213u);
  EXPECT_EQ(written.substr(0, 23), "0 0 0   0 0 0   0 0 9\r\n");
}

TEST_F(WriteGrid, UnwritablePathFailsAndCreatesNothing) {
  const std::string path = dir + "/missing/foo.dat";
  EXPECT_FALSE(writeGrid(Grid(), path.c_str()));
  struct stat info;
  EXPECT_NE(::stat((dir + "/missing").c_str(), &info), 0);
  EXPECT_FALSE(writeGrid(Grid(), dir.c_str())); // a directory
}

TEST_F(WriteGrid, FailedWriteIsNotReportedAsSuccess) {
  // /dev/full accepts the open and refuses every write.
  EXPECT_FALSE(writeGrid(Grid(), "/dev/full"));
}

} // namespace
