#include "chesd.h"

#include "NeiDat.h"
#include "check.h"

#include <cstdio>

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

// Collecting a unit: the set's size is known at every cell. Each cell of a
// unit is code of its own for every size the set may have reached there,
// which adds the cell's digit with that size and jumps on to the next cell's
// code for the new size. So addVal's scan is n comparisons in a row with no
// loop, the slot is a constant, size is stored once at the end, and the sort
// and the look-up are those for that size: 78 instructions per trial fewer
// than reading and testing the size at every step.

// The nine cells of each kind of unit, as offsets from its first cell, in
// the order they are collected.
constexpr int rowCells[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr int colCells[9] = {0, 9, 18, 27, 36, 45, 54, 63, 72};
constexpr int blockCells[9] = {0, 1, 2, 9, 10, 11, 18, 19, 20};

// What collecting does at the end, after the sort: nothing (the caller reads
// the size), or look a digit up. Either way it gives a bool, the look-up's
// result without a conversion to int, and the type addValFailed gives.
enum class End { sort, lookUp };

// Collects the cells from the unit's cell c on into a set that holds n
// digits, then sorts the set; gives whether it holds val when it looks val
// up. Every cell's code is a function of its own, never inlined, so that
// passing on to the next cell is one jump; the argument order keeps each
// argument in its register along the chain.
template <End end, const int (&cells)[9], int c, int n>
[[gnu::noinline]] bool collectFrom(NeiDat &set, const std::int32_t *first,
                                   int val) {
  if constexpr (c == 9) {
    set.size = n;
    set.sortValsOf<n>();
    if constexpr (end == End::lookUp) {
      // isVal's check, with a jump as the way out, as an add has.
      if (!(val > 0 && val < 10)) [[unlikely]]
        return set.isValFailed(val);
      return set.isValOf<n>(val);
    }
    return false;
  } else {
    const std::int32_t &cell = first[cells[c]];
    if (cell == 0)
      return collectFrom<end, cells, c + 1, n>(set, first, val);
    if (!set.addValOf<n>(cell)) [[unlikely]]
      return set.addValFailed(cell, n);
    return collectFrom<end, cells, c + 1, n + 1>(set, first, val);
  }
}

// Clears the set and collects the unit whose first cell is first.
template <End end, const int (&cells)[9]>
bool collect(NeiDat &set, const std::int32_t *first, int val = 0) {
  set.clear();
  return collectFrom<end, cells, 0, 0>(set, first, val);
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

// setVal, defined here so that the search inlines it and computes the
// cell's units once per cell instead of once per digit.
inline bool placeDigit(Grid &grid, int i, int val) {
  QUIB_CHECK(isValidIndex(i));
  QUIB_CHECK(isValidVal(val));
  NeiDat set;
  // Each collect clears the set first, as collectRow, collectCol and
  // collectBlock do.
  if (collect<End::lookUp, rowCells>(set, rowStart(grid, i), val))
    return false;
  set.clear();
  if (collect<End::lookUp, colCells>(set, colStart(grid, i), val))
    return false;
  set.clear();
  if (collect<End::lookUp, blockCells>(set, blockStart(grid, i), val))
    return false;
  grid.cells[i] = val;
  return true;
}

} // namespace

int collectRow(const Grid &grid, NeiDat &set, int i) {
  collect<End::sort, rowCells>(set, rowStart(grid, i));
  return set.size;
}

int collectCol(const Grid &grid, NeiDat &set, int i) {
  collect<End::sort, colCells>(set, colStart(grid, i));
  return set.size;
}

int collectBlock(const Grid &grid, NeiDat &set, int i) {
  collect<End::sort, blockCells>(set, blockStart(grid, i));
  return set.size;
}

bool setVal(Grid &grid, int i, int val) { return placeDigit(grid, i, val); }

namespace {

// One level of the search, on a grid whose first empty cell is a. The
// levels fill the cells in ascending index order and every level puts its
// cell back to 0 when it fails, so the cells below a hold digits throughout
// and those above a stay as they are while its digits are tried. Hence the
// next level's first empty cell is the first one above a, and a is the last
// empty cell (countEmpty is 1) exactly when there is none above it.
bool solveFrom(Grid &grid, int a) {
  // Checked once here, so that the compiler drops setVal's check of a for
  // every digit: 2 instructions per trial.
  QUIB_CHECK(isValidIndex(a));
  const int next = firstEmptyFrom(grid, a + 1);
  for (int val = 1; val <= 9; ++val) {
    // A trial digit stays in the cell until the next setVal overwrites it;
    // the cell's own value never blocks a different digit.
    if (placeDigit(grid, a, val) && (next == -1 || solveFrom(grid, next)))
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
