#include "chesd.h"

#include "NeiDat.h"
#include "check.h"

#include <cstdio>
#include <cstdlib>

namespace quib {

Grid::Grid() { clearGrid(*this); }

Grid &clearGrid(Grid &grid) {
  for (std::int32_t &cell : grid.cells)
    cell = 0;
  return grid;
}

bool isValidVal(int val) { return val > 0 && val < 10; }

bool isValidIndex(int i) { return i > -1 && i < 81; }

int rowOf(int i) {
  QUIB_CHECK(isValidIndex(i));
  return i / 9;
}

int colOf(int i) {
  QUIB_CHECK(isValidIndex(i));
  return i % 9;
}

int blockOf(int i) {
  QUIB_CHECK(isValidIndex(i));
  return (rowOf(i) / 3) * 3 + colOf(i) / 3;
}

namespace {

// The lowest index from `from` on whose cell holds 0; -1 when none does.
int firstEmptyFrom(const Grid &grid, int from) {
  for (int i = from; i < 81; ++i)
    if (grid.cells[i] == 0)
      return i;
  return -1;
}

} // namespace

int firstEmpty(const Grid &grid) { return firstEmptyFrom(grid, 0); }

int countEmpty(const Grid &grid) {
  int empty = 0;
  for (std::int32_t cell : grid.cells)
    if (cell == 0)
      ++empty;
  return empty;
}

std::int32_t &cellAt(Grid &grid, int i) {
  QUIB_CHECK(isValidIndex(i));
  return grid.cells[i];
}

std::int32_t cellAt(const Grid &grid, int i) {
  QUIB_CHECK(isValidIndex(i));
  return grid.cells[i];
}

namespace {

// How the search is compiled. The search spends its time in setVal, some
// 260 instructions for every digit it tries (under 12 times those of a
// search on bit masks that makes the same trials, bench/mask_search.h), most
// of them collecting a row. The code below is arranged for the code GCC
// makes of it. The numbers in parentheses are the instructions per trial
// each step saves, counted by make bench with GCC 12.2 on x86-64 at -O3 (the
// default build); the package's build, with Debian's flags (-g -O2
// -fstack-protector-strong -D_FORTIFY_SOURCE=2, build type None), counts
// within 2 of it, which make bench shows side by side.
//
// - Each cell of a unit is code of its own for every size the set may have
//   reached there (collectFrom), which adds the cell's digit with that size
//   and jumps on to the next cell's code for the new size. So the add's scan
//   is n comparisons in a row, the slot a constant, and the sort and the
//   look-up are those for that size (NeiDat::isAmongFirst, sortFirst) (78).
// - That code is a function of its own for every cell, never inlined, so
//   that passing on is one jump; the argument order keeps each argument in
//   its register along the chain.
// - A cell's value is first compared as unsigned with the digits 1-9, which
//   tells a digit from 0 and from a value that is none in one comparison;
//   0 and the failures are the rarer way (2 to 5).
// - The size is stored once, when the unit is collected, not at each add
//   (7); the look-up does not store it, nothing reads it after.
// - The sort branches to code that knows the slot of the smallest value, so
//   that the values stay in registers from one pass to the next (GCC's
//   partial-redundancy elimination carries them over the exchanges) (30).
// - A failed add ends the program through a jump to addFailed, the last step
//   of a cell's code: code that only jumps needs no stack frame, which GCC
//   on Windows sets up at the start of every function that calls (2 for
//   every cell). addFailed is opaque to the optimiser (noipa), so that GCC
//   neither learns that it never returns, which would make the jump a call,
//   nor passes its digit by value: the digit comes by reference, so that its
//   register is free for the caller's own values until then.
// - The core is built without link-time optimisation (CMakeLists.txt): the
//   counts here are those of each function compiled on its own (with it,
//   before addFailed was opaque, GCC passed its digit by value).
// - placeDigit is inlined into the search whatever the optimisation level:
//   GCC calls it at -O2 otherwise (47 in the package's build). Each level of
//   the search finds its cell's units once, checks its cell index once (2),
//   and uses one set for all its digits (3): the look-up reads only the
//   slots the chain has just written, so the set is neither made anew for
//   every digit nor cleared between the units. The digit is checked once,
//   by placeDigit; the look-up takes it as checked (with the clears between
//   the units and the size the look-up does not store, 5 to 6).

// The nine cells of each kind of unit, as offsets from its first cell, in
// the order they are collected.
constexpr int rowCells[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr int colCells[9] = {0, 9, 18, 27, 36, 45, 54, 63, 72};
constexpr int blockCells[9] = {0, 1, 2, 9, 10, 11, 18, 19, 20};

// What collecting does after the sort: nothing more (collectRow and the
// others read the size it stores), or look a digit up.
enum class End { sortOnly, lookUp };

// Ends the program with addVal's report for digit added to the set's first
// n digits, after a check of addAt failed. Never returns.
[[gnu::noipa]] bool addFailed(NeiDat &set, const std::int32_t &digit, int n) {
  set.size = n;
  set.addVal(digit); // one of its checks fails and ends the program
  std::abort();      // not reached
}

// Collects the cells from the unit's cell c on into a set that holds n
// digits, then sorts the set; with End::lookUp gives whether it holds val,
// a digit.
template <End end, const int (&cells)[9], int c, int n>
[[gnu::noinline]] bool collectFrom(NeiDat &set, const std::int32_t *first,
                                   int val) {
  if constexpr (c == 9) {
    set.sortFirst<n>();
    if constexpr (end == End::lookUp)
      return set.isAmongFirst<n>(val);
    set.size = n;
    return false;
  } else {
    const std::int32_t &cell = first[cells[c]];
    // addVal's checks, a digit and not held yet, for the digits first.
    if (static_cast<std::uint32_t>(cell) - 1 < 9 && !set.isAmongFirst<n>(cell))
        [[likely]] {
      set.values[n] = cell;
      return collectFrom<end, cells, c + 1, n + 1>(set, first, val);
    }
    if (cell == 0)
      return collectFrom<end, cells, c + 1, n>(set, first, val);
    return addFailed(set, cell, n);
  }
}

// Clears the set and collects the unit whose first cell is first.
template <const int (&cells)[9]>
void collect(NeiDat &set, const std::int32_t *first) {
  set.clear();
  collectFrom<End::sortOnly, cells, 0, 0>(set, first, 0);
}

// Collects the unit whose first cell is first into set and gives whether it
// holds val, a digit.
template <const int (&cells)[9]>
bool unitHolds(NeiDat &set, const std::int32_t *first, int val) {
  return collectFrom<End::lookUp, cells, 0, 0>(set, first, val);
}

const std::int32_t *rowStart(const Grid &grid, int i) {
  return &grid.cells[rowOf(i) * 9];
}

const std::int32_t *colStart(const Grid &grid, int i) {
  return &grid.cells[colOf(i)];
}

const std::int32_t *blockStart(const Grid &grid, int i) {
  const int b = blockOf(i);
  // First row (b / 3) * 3, first column (b % 3) * 3.
  return &grid.cells[(b / 3) * 27 + (b % 3) * 3];
}

// setVal with a set of the caller's, which the search inlines.
[[gnu::always_inline]] inline bool placeDigit(Grid &grid, int i, int val,
                                              NeiDat &set) {
  QUIB_CHECK(isValidIndex(i));
  QUIB_CHECK(isValidVal(val));
  if (unitHolds<rowCells>(set, rowStart(grid, i), val) ||
      unitHolds<colCells>(set, colStart(grid, i), val) ||
      unitHolds<blockCells>(set, blockStart(grid, i), val))
    return false;
  grid.cells[i] = val;
  return true;
}

} // namespace

int collectRow(const Grid &grid, NeiDat &set, int i) {
  collect<rowCells>(set, rowStart(grid, i));
  return set.size;
}

int collectCol(const Grid &grid, NeiDat &set, int i) {
  collect<colCells>(set, colStart(grid, i));
  return set.size;
}

int collectBlock(const Grid &grid, NeiDat &set, int i) {
  collect<blockCells>(set, blockStart(grid, i));
  return set.size;
}

bool setVal(Grid &grid, int i, int val) {
  NeiDat set;
  return placeDigit(grid, i, val, set);
}

namespace {

// One level of the search, on a grid whose first empty cell is a. The
// levels fill the cells in ascending index order and every level puts its
// cell back to 0 when it fails, so the cells below a hold digits throughout
// and those above a stay as they are while its digits are tried. Hence the
// next level's first empty cell is the first one above a, and a is the last
// empty cell (countEmpty is 1) exactly when there is none above it.
bool solveFrom(Grid &grid, int a) {
  // Checked once here, not for every digit.
  QUIB_CHECK(isValidIndex(a));
  const int next = firstEmptyFrom(grid, a + 1);
  NeiDat set; // for every digit tried here
  for (int val = 1; val <= 9; ++val) {
    // A trial digit stays in the cell until the next setVal overwrites it;
    // the cell's own value never blocks a different digit.
    if (placeDigit(grid, a, val, set) && (next == -1 || solveFrom(grid, next)))
      return true;
  }
  grid.cells[a] = 0;
  return false;
}

} // namespace

bool solve(Grid &grid) {
  const int a = firstEmpty(grid);
  return a != -1 && solveFrom(grid, a);
}

namespace {

// One row line, columns 0-8, groups of three; a band's last row also ends
// the band with an empty line. Text mode: every line end is CR LF.
bool writeRow(std::FILE *file, const Grid &grid, int r) {
  const std::int32_t *v = &grid.cells[r * 9];
  const char *end = r % 3 == 0 ? "\r\n\r\n" : "\r\n";
  return std::fprintf(file, "%d %d %d   %d %d %d   %d %d %d%s", v[0], v[1],
                      v[2], v[3], v[4], v[5], v[6], v[7], v[8], end) > 0;
}

} // namespace

bool writeGrid(const Grid &grid, const char *fileName) {
  std::FILE *file = std::fopen(fileName, "wb");
  if (file == nullptr)
    return false;
  bool written = true;
  for (int r = 8; r >= 0; --r)
    written = writeRow(file, grid, r) && written;
  // A write error may surface only when the buffer is written out at close.
  bool closed = std::fclose(file) == 0;
  return written && closed;
}

} // namespace quib
