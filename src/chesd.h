// The puzzle: grid model, placement rule, solver and grid file writer.
//
// A Grid is 81 cells, 0 for empty and 1-9 for a digit. A cell index is
// row * 9 + column (r = row, c = column, b = block, each 0-8). Row 0 is the
// bottom row of the puzzle as shown, row 8 the top row; column 0 is the left.
// Block b covers rows (b / 3) * 3.. and columns (b % 3) * 3..
//
// Results: firstEmpty gives -1 when no cell is empty; setVal gives false and
// leaves the grid unchanged when the digit already occurs in the cell's row,
// column or block (the cell's own value included); solve gives false, with
// the grid exactly as it was, when there is no completion or no empty cell;
// writeGrid gives false when the file could not be opened or written.
//
// Asserted: every cell index is valid ("isValidIndex(i)"); setVal's digit is
// valid ("isValidVal(val)").
#pragma once

#include <cstdint>

namespace quib {

class NeiDat;

struct Grid {
  Grid();
  std::int32_t cells[81];
};

Grid &clearGrid(Grid &grid);

bool isValidVal(int val);
bool isValidIndex(int i);

int rowOf(int i);
int colOf(int i);
int blockOf(int i);

int firstEmpty(const Grid &grid);
int countEmpty(const Grid &grid);

std::int32_t &cellAt(Grid &grid, int i);
std::int32_t cellAt(const Grid &grid, int i);

// Each clears set, adds the non-zero digits of the unit of cell i, sorts the
// set and returns its size.
int collectRow(const Grid &grid, NeiDat &set, int i);
int collectCol(const Grid &grid, NeiDat &set, int i);
int collectBlock(const Grid &grid, NeiDat &set, int i);

// The rule of the game: stores val in cell i unless it occurs in the cell's
// row, column or block.
bool setVal(Grid &grid, int i, int val);

// Plain depth-first search: cells in ascending index order, digits 1-9 in
// ascending order, so the completion found is the first in that order.
bool solve(Grid &grid);

// Writes the grid as text, top row first, each line ending in CR LF; an
// existing file is replaced.
bool writeGrid(const Grid &grid, const char *fileName);

} // namespace quib
