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

void addIfDigit(NeiDat &set, std::int32_t cell) {
  if (cell != 0)
    set.addVal(cell);
}

} // namespace

// The search collects up to three units for every digit it tries. Each unit
// is read through a pointer to its first cell, at fixed offsets, in loops
// the compiler unrolls completely.
int collectRow(const Grid &grid, NeiDat &set, int i) {
  set.clear();
  const std::int32_t *row = &grid.cells[rowOf(i) * 9];
#pragma GCC unroll 9
  for (int c = 0; c < 9; ++c)
    addIfDigit(set, row[c]);
  set.sortVals();
  return set.size;
}

int collectCol(const Grid &grid, NeiDat &set, int i) {
  set.clear();
  const std::int32_t *col = &grid.cells[colOf(i)];
#pragma GCC unroll 9
  for (int r = 0; r < 9; ++r)
    addIfDigit(set, col[r * 9]);
  set.sortVals();
  return set.size;
}

int collectBlock(const Grid &grid, NeiDat &set, int i) {
  set.clear();
  const int b = blockOf(i);
  // First row (b / 3) * 3, first column (b % 3) * 3.
  const std::int32_t *block = &grid.cells[(b / 3) * 27 + (b % 3) * 3];
#pragma GCC unroll 3
  for (int r = 0; r < 3; ++r)
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c)
      addIfDigit(set, block[r * 9 + c]);
  set.sortVals();
  return set.size;
}

bool setVal(Grid &grid, int i, int val) {
  QUIB_CHECK(isValidIndex(i));
  QUIB_CHECK(isValidVal(val));
  NeiDat set;
  collectRow(grid, set, i);
  if (set.isVal(val))
    return false;
  set.clear();
  collectCol(grid, set, i);
  if (set.isVal(val))
    return false;
  set.clear();
  collectBlock(grid, set, i);
  if (set.isVal(val))
    return false;
  grid.cells[i] = val;
  return true;
}

namespace {

// One level of the search, on a grid whose first empty cell is a. The
// levels fill the cells in ascending index order and every level puts its
// cell back to 0 when it fails, so the cells below a hold digits throughout
// and those above a stay as they are while its digits are tried. Hence the
// next level's first empty cell is the first one above a, and a is the last
// empty cell (countEmpty is 1) exactly when there is none above it.
bool solveFrom(Grid &grid, int a) {
  const int next = firstEmptyFrom(grid, a + 1);
  for (int val = 1; val <= 9; ++val) {
    // A trial digit stays in the cell until the next setVal overwrites it;
    // the cell's own value never blocks a different digit.
    if (setVal(grid, a, val) && (next == -1 || solveFrom(grid, next)))
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
