// The terminal layer's drawing: its buffer, the cursor shapes' sequences,
// the layer's cursor, and the shadow of the screen that a repaint draws
// again.
#include "terminal.h"

#include <unistd.h>

#include <cerrno>

namespace quib::terminal {

bool writeAll(int fd, const char *data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

void Output::put(const char *bytes, std::size_t n) {
  if (len + n > sizeof data)
    flush();
  std::memcpy(data + len, bytes, n);
  len += n;
}

void Output::number(int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0)
    put(&digits[--n], 1);
}

void Output::cursorAt(int x, int y) {
  put("\033[");
  number(y);
  put(";");
  number(x);
  put("H");
}

bool Output::flush() {
  const std::size_t n = len;
  len = 0;
  return n == 0 || fd < 0 || writeAll(fd, data, n);
}

void flushDrawing() { console.drawing.flush(); }

namespace {

// The sequences of setCursorShape, by family and shape, and those that
// give the user's cursor back.
constexpr const char *shapeSequences[3][3] = {
    // DECSCUSR 2 is a steady block, 4 a steady underline.
    {"\033[?25l", "\033[?25h\033[2 q", "\033[?25h\033[4 q"},
    // The Linux console's cursor sizes: 6 a full block, 2 an underline.
    {"\033[?25l", "\033[?25h\033[?6c", "\033[?25h\033[?2c"},
    // screen: CSI 34 l the very visible cursor, CSI 34 h the normal one.
    {"\033[?25l", "\033[?25h\033[34l", "\033[?25h\033[34h"}};

} // namespace

void putShape(Output &out, int shape) {
  out.put(shapeSequences[console.family][shape]);
}

// Puts the bytes that give the user's cursor back into console.cursorBack:
// shown, in the user's own style. The length goes last, so that an end
// that interrupts this writes the old bytes or none.
void prepareCursorBack() {
  Output out;
  if (console.family != decscusr) {
    out.put(console.family == linuxConsole ? "\033[?25h\033[?0c"
                                           : "\033[34h\033[?25h");
  } else {
    out.put("\033[?25h\033[");
    out.number(userStyle);
    out.put(" q");
  }
  console.cursorBackLen = 0;
  std::memcpy(console.cursorBack, out.data, out.len);
  console.cursorBackLen = static_cast<sig_atomic_t>(out.len);
}

// ===========================================================================
// The shadow of the screen, and repainting it
// ===========================================================================

void keepInShadow(char c) {
  if (console.y <= shadowRows && console.x <= shadowCols)
    console.shadow[console.y - 1][console.x - 1] = c;
}

void clearShadow() {
  std::memset(console.shadow, ' ', sizeof console.shadow);
  console.shadowActive = true;
}

// Down one row, scrolling the screen at its bottom row.
void downOneRow() {
  if (console.y < console.height) {
    ++console.y;
    return;
  }
  const int rows = console.height < shadowRows ? console.height : shadowRows;
  std::memmove(console.shadow[0], console.shadow[1],
               static_cast<std::size_t>(rows - 1) * shadowCols);
  std::memset(console.shadow[rows - 1], ' ', shadowCols);
}

// The cursor one column right after a character; at the right edge it goes
// to the start of the next row at once, scrolling at the bottom, where a
// terminal would hold it in the last column until the next character
// (deferred wrap). Returns true when it wrapped: the terminal's own cursor
// must then follow with CR IND.
bool stepCursorRight() {
  if (console.x < console.width) {
    ++console.x;
    return false;
  }
  console.x = 1;
  downOneRow();
  return true;
}

// Draws the screen again as it was (when a clear happened since the start),
// puts the cursor back and shows its shape. Async-signal-safe, for the
// handlers; they run only while the layer is idle.
void repaint() {
  Output out;
  out.fd = console.tty;
  if (console.shadowActive) {
    out.put("\033[H\033[2J");
    for (int y = 1; y <= console.height && y <= shadowRows; ++y) {
      int next = 0; // where the terminal's cursor stands after a character
      for (int x = 1; x <= console.width && x <= shadowCols; ++x) {
        const char &c = console.shadow[y - 1][x - 1];
        if (c == ' ')
          continue;
        if (x != next)
          out.cursorAt(x, y);
        char bytes[3];
        out.put(bytes, encodeText(static_cast<unsigned char>(c), bytes));
        next = x + 1;
      }
    }
    out.cursorAt(console.x, console.y);
  }
  out.flush();
  if (shapeInForce >= 0 && console.stdoutIsTerminal) {
    out.fd = 1;
    putShape(out, shapeInForce);
    out.flush();
  }
}

} // namespace quib::terminal
