// The grid on the screen and the grid editor.
//
// Layout: the cells stand at x = screenCol(c), y = screenRow(r); row 8 at the
// top (y 3), row 0 at the bottom (y 23), column 0 at x 31, column 8 at x 51.
// The frame is two '|' lines (x 37 and 45) and two '-' lines (y 9 and 17).
// A cell holding 0 is shown as '.', 1-9 as the digit.
//
// editGrid returns true when the user ended with Return (solve the grid) and
// false for Esc, 'Q' or 'q', or when the terminal can no longer be read; the
// screen is cleared and the cursor normal on both exits. The grid never
// holds a conflict, and the screen always shows what the grid holds.
//
// Asserted: "col >= 0 && col < 9", "row >= 0 && row < 9",
// "i >= 0 && i < 10" (digitGlyph), and valid cell indices through cellAt.
#pragma once

#include "chesd.h"

namespace quib {

extern int originX;
extern int originY;

int screenCol(int col);
int screenRow(int row);
void screenPos(int i, int &x, int &y);
char digitGlyph(int i);

void drawFrame();
void drawCell(int i, int value);
// Draws the completed grid with the cursor hidden and waits for one key;
// leaves the screen cleared and the cursor normal.
void showSolution(const Grid &grid);

bool editGrid(Grid &grid);
// The cursor step after an accepted digit or a blank.
void advanceCursor(bool advance, int &col, int &row, int &x, int &y);
// The second code of a two-code key (Delete is handled by editGrid).
void handleExtendedKey(int code, bool &advance, int &col, int &row, int &x,
                       int &y);

} // namespace quib
