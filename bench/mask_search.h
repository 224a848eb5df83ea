// Puzzles as a user types them, and a reference search to check the solver
// against and to measure it by.
//
// gridFromScreen reads 81 characters, the top row (row 8) first, any
// character but '1'-'9' for an empty cell. maskSolve is a depth-first search
// with one bit per digit held in a cell's row, column and block, visiting
// cells and digits in the solver's order (cells ascending, digits 1-9), so
// it finds the same first completion; trials counts the digits considered.
#pragma once

#include "chesd.h"

namespace quib::testing {

inline Grid gridFromScreen(const char *screen) {
  Grid grid;
  for (int k = 0; k < 81; ++k) {
    char ch = screen[k];
    grid.cells[(8 - k / 9) * 9 + k % 9] = ch >= '1' && ch <= '9' ? ch - '0' : 0;
  }
  return grid;
}

inline bool maskSolve(Grid &grid, long &trials, int from = 0) {
  int i = from;
  while (i < 81 && grid.cells[i] != 0)
    ++i;
  if (i == 81)
    return true;
  int r = i / 9, c = i % 9, b = r / 3 * 3 + c / 3, used = 0;
  for (int k = 0; k < 9; ++k) {
    used |= 1 << grid.cells[r * 9 + k];
    used |= 1 << grid.cells[k * 9 + c];
    used |= 1 << grid.cells[(b / 3 * 3 + k / 3) * 9 + b % 3 * 3 + k % 3];
  }
  for (int d = 1; d <= 9; ++d) {
    ++trials;
    if ((used & (1 << d)) == 0) {
      grid.cells[i] = d;
      if (maskSolve(grid, trials, i + 1))
        return true;
    }
  }
  grid.cells[i] = 0;
  return false;
}

} // namespace quib::testing
