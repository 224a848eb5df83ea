// The grid on the screen and the grid editor (r = row, c = column, x and y
// the screen column and row counted from 1).
#include "ConioChesd.h"

#include "check.h"
#include "console.h"
#include "pckeys.h"

namespace quib {

int originX = 30;
int originY = 2;

namespace {

constexpr int lastCol = 8;
constexpr int topRow = 8;

const char *const gridFileName = "foo.dat";

// Each band of three cells after the first is pushed on by two more
// characters, which leaves room for the frame line between the bands.
int bandGap(int k) { return (k / 3) * 2; }

void putAt(int x, int y, char c) {
  moveCursor(x, y);
  putChar(c);
}

// One band's piece of the two '|' lines, rows top to bottom inclusive.
void drawBars(int top, int bottom) {
  for (int y = top; y <= bottom; ++y) {
    putAt(originX + 7, y, '|');
    putAt(originX + 15, y, '|');
  }
}

// A '-' line across the whole grid, through both '|' lines.
void drawRule(int y) {
  for (int x = originX + 1; x <= originX + 21; ++x)
    putAt(x, y, '-');
}

// What the editor does next after a key.
enum class Outcome { carryOn, solve, leave };

// The editor's cursor: the cell (col, row), its screen position (x, y) and
// whether an accepted digit moves on.
struct Cursor {
  bool advance;
  int col;
  int row;
  int x;
  int y;
};

int cellIndex(const Cursor &cur) { return cur.row * 9 + cur.col; }

// Both screens start alike: cleared, the cursor hidden while drawing, the
// frame.
void startGridScreen() {
  clearScreen();
  setCursorShape(cursorHidden);
  drawFrame();
}

// Every cell as '.', without looking at the grid, in index order (row by
// row from the bottom, left to right).
void drawEmptyGrid() {
  startGridScreen();
  for (int i = 0; i < 81; ++i)
    drawCell(i, 0);
}

void goToCol(int col, int &curCol, int &x, int y) {
  curCol = col;
  x = screenCol(col);
  moveCursor(x, y);
}

void goToRow(int row, int &curRow, int x, int &y) {
  curRow = row;
  y = screenRow(row);
  moveCursor(x, y);
}

// One column left or right; the edge of the grid rings instead of wrapping.
void stepCol(int delta, int &col, int &x, int y) {
  int next = col + delta;
  if (next < 0 || next > lastCol) {
    ringBell();
    return;
  }
  goToCol(next, col, x, y);
}

// One row up (+1) or down (-1); the edge of the grid rings.
void stepRow(int delta, int &row, int x, int &y) {
  int next = row + delta;
  if (next < 0 || next > topRow) {
    ringBell();
    return;
  }
  goToRow(next, row, x, y);
}

// The cursor shape shows the mode: normal while advancing, solid while not.
void toggleAdvance(bool &advance) {
  advance = !advance;
  setCursorShape(advance ? cursorNormal : cursorSolid);
}

void clearCell(Grid &grid, const Cursor &cur) {
  cellAt(grid, cellIndex(cur)) = 0;
  putChar('.');
  moveCursor(cur.x, cur.y);
}

void stepCursor(Cursor &cur) {
  advanceCursor(cur.advance, cur.col, cur.row, cur.x, cur.y);
}

// A rejected digit redraws what the cell holds, which may be a digit of its
// own, so that the screen keeps showing the grid.
void typeDigit(Grid &grid, int key, Cursor &cur) {
  int i = cellIndex(cur);
  if (setVal(grid, i, key - '0')) {
    putChar(key);
    stepCursor(cur);
    return;
  }
  ringBell();
  putChar(digitGlyph(cellAt(grid, i)));
  moveCursor(cur.x, cur.y);
}

// Backspace clears the cell to the left; it does not wrap to another row.
void eraseLeft(Grid &grid, Cursor &cur) {
  if (cur.col == 0) {
    ringBell();
    return;
  }
  goToCol(cur.col - 1, cur.col, cur.x, cur.y);
  clearCell(grid, cur);
}

Outcome handleTwoCodeKey(Grid &grid, Cursor &cur) {
  int code = readKey();
  if (code == pc::readError)
    return Outcome::leave;
  if (code == pc::secondCode(pc::deleteKey.plain))
    clearCell(grid, cur);
  else
    handleExtendedKey(code, cur.advance, cur.col, cur.row, cur.x, cur.y);
  return Outcome::carryOn;
}

// A terminal that can no longer be read ends the editor like Esc: otherwise
// every further read would fail again and ring the bell without end.
Outcome handleKey(Grid &grid, int key, Cursor &cur) {
  if (key >= '1' && key <= '9') {
    typeDigit(grid, key, cur);
    return Outcome::carryOn;
  }
  switch (key) {
  case pc::enterKey.plain:
  case pc::enterKey.ctrl: // line feed
    return Outcome::solve;
  case pc::escKey.plain:
  case 'Q':
  case 'q':
  case pc::readError:
    return Outcome::leave;
  case pc::twoCodeKey:
    return handleTwoCodeKey(grid, cur);
  case pc::backspaceKey.plain:
    eraseLeft(grid, cur);
    break;
  case ',':
    clearCell(grid, cur);
    break;
  case ' ':
    stepCursor(cur);
    break;
  case 'W':
  case 'w':
    // A failed save shows nothing; the editor carries on either way.
    writeGrid(grid, gridFileName);
    break;
  default:
    ringBell();
    break;
  }
  return Outcome::carryOn;
}

} // namespace

int screenCol(int col) {
  QUIB_CHECK(col >= 0 && col < 9);
  return originX + 1 + 2 * col + bandGap(col);
}

// Row 8 is the top row on the screen, so the screen counts k = 8 - row down.
int screenRow(int row) {
  QUIB_CHECK(row >= 0 && row < 9);
  int k = 8 - row;
  return originY + 1 + 2 * k + bandGap(k);
}

void screenPos(int i, int &x, int &y) {
  x = screenCol(i % 9);
  y = screenRow(i / 9);
}

char digitGlyph(int i) {
  QUIB_CHECK(i >= 0 && i < 10);
  return i == 0 ? '.' : static_cast<char>('0' + i);
}

void drawFrame() {
  drawBars(originY + 1, originY + 6);
  drawBars(originY + 8, originY + 14);
  drawBars(originY + 16, originY + 21);
  drawRule(originY + 7);
  drawRule(originY + 15);
}

void drawCell(int i, int value) {
  int x = 0;
  int y = 0;
  screenPos(i, x, y);
  putAt(x, y, digitGlyph(value));
}

void showSolution(const Grid &grid) {
  startGridScreen();
  for (int i = 0; i < 81; ++i)
    drawCell(i, cellAt(grid, i));
  // Any key ends the display; the second code of a two-code key stays unread.
  readKey();
  clearScreen();
  setCursorShape(cursorNormal);
}

bool editGrid(Grid &grid) {
  drawEmptyGrid();
  Cursor cur{true, 0, topRow, screenCol(0), screenRow(topRow)};
  moveCursor(cur.x, cur.y);
  setCursorShape(cursorNormal);
  Outcome outcome = Outcome::carryOn;
  while (outcome == Outcome::carryOn)
    outcome = handleKey(grid, readKey(), cur);
  clearScreen();
  setCursorShape(cursorNormal);
  return outcome == Outcome::solve;
}

// Reading order from the top left: along the screen row, then to the start
// of the row below; the bottom right cell is the end and the cursor stays.
void advanceCursor(bool advance, int &col, int &row, int &x, int &y) {
  if (advance && col < lastCol) {
    goToCol(col + 1, col, x, y);
  } else if (advance && row > 0) {
    --row;
    y = screenRow(row);
    col = 0;
    x = screenCol(0);
    moveCursor(x, y);
  }
  moveCursor(x, y);
}

void handleExtendedKey(int code, bool &advance, int &col, int &row, int &x,
                       int &y) {
  switch (code) {
  case pc::secondCode(pc::homeKey.plain):
    goToCol(0, col, x, y);
    break;
  case pc::secondCode(pc::endKey.plain):
    goToCol(lastCol, col, x, y);
    break;
  case pc::secondCode(pc::pageUpKey.plain):
    goToRow(topRow, row, x, y);
    break;
  case pc::secondCode(pc::pageDownKey.plain):
    goToRow(0, row, x, y);
    break;
  case pc::secondCode(pc::upKey.plain):
    stepRow(+1, row, x, y);
    break;
  case pc::secondCode(pc::downKey.plain):
    stepRow(-1, row, x, y);
    break;
  case pc::secondCode(pc::leftKey.plain):
    stepCol(-1, col, x, y);
    break;
  case pc::secondCode(pc::rightKey.plain):
    stepCol(+1, col, x, y);
    break;
  case pc::secondCode(pc::insertKey.plain):
    toggleAdvance(advance);
    break;
  default:
    ringBell();
    break;
  }
}

} // namespace quib
