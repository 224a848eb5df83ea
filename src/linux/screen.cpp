// The terminal layer's output: the drawing's buffer, the cursor shapes'
// sequences, the shadow of the screen that a repaint draws again, and
// standard output in text mode, whose Latin-1 bytes go out in UTF-8 on a
// UTF-8 terminal.
#include "terminal.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

namespace quib::terminal {
namespace {

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

} // namespace

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

namespace {
std::size_t encodeText(unsigned char c, char *out);
} // namespace

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

// ===========================================================================
// Standard output in text mode
// ===========================================================================

// The terminal shows text in the locale's encoding: LC_ALL, LC_CTYPE or
// LANG, the first one set, names it after the dot ("de_DE.UTF-8").
bool localeIsUtf8() {
  for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char *locale = std::getenv(name);
    if (locale == nullptr || *locale == '\0')
      continue;
    const char *dot = std::strchr(locale, '.');
    return dot != nullptr && (::strncasecmp(dot + 1, "UTF-8", 5) == 0 ||
                              ::strncasecmp(dot + 1, "utf8", 4) == 0);
  }
  return false;
}

namespace {

// The cursor moves one column right; at the right edge the text continues
// on the next row. Returns true when it wrapped there.
bool advanceTextCursor() {
  if (console.x < console.width) {
    ++console.x;
    return false;
  }
  console.x = 1;
  downOneRow();
  return true;
}

// Follows the terminal's cursor through standard output text that goes to
// the layer's own terminal, one column per character. Returns true when
// the text filled the last column of a row.
bool followText(unsigned char c) {
  switch (c) {
  case '\n': // goes out as CR LF
    console.x = 1;
    downOneRow();
    return false;
  case '\r':
    console.x = 1;
    return false;
  case '\b':
    if (console.x > 1)
      --console.x;
    return false;
  case '\t': { // the terminal's tab stops every 8 columns; no wrap
    const int next = (console.x - 1) / 8 * 8 + 9;
    console.x = next < console.width ? next : console.width;
    return false;
  }
  default:
    if (c < 0x20 || c == 0x7F) // the bell and the like do not move
      return false;
    keepInShadow(static_cast<char>(c));
    return advanceTextCursor();
  }
}

// One byte of text as the terminal gets it: "\n" as CR LF; a byte above
// 127 as the Latin-1 character it is, in UTF-8 when that is the terminal's
// encoding (C1 controls, 0x80 to 0x9F, have no glyph and show as '?').
std::size_t encodeText(unsigned char c, char *out) {
  std::size_t n = 0;
  if (c == '\n')
    out[n++] = '\r';
  if (c >= 0x80 && console.latin1AsUtf8) {
    if (c < 0xA0)
      out[n++] = '?';
    else {
      out[n++] = static_cast<char>(0xC0 | c >> 6);
      out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    return n;
  }
  out[n++] = static_cast<char>(c);
  return n;
}

// The stream's write function. On the layer's own terminal a row filled to
// its last column also moves the cursor on to the next row at once, as the
// layer's screen model has it; a terminal would otherwise hold the cursor
// in the last column until the next character.
ssize_t writeText(void *, const char *data, std::size_t size) {
  char out[1024];
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (n + 8 > sizeof out) {
      if (!writeAll(1, out, n))
        return -1;
      n = 0;
    }
    const unsigned char c = static_cast<unsigned char>(data[i]);
    n += encodeText(c, out + n);
    if (console.stdoutIsConsole && followText(c)) {
      std::memcpy(out + n, "\r\033D", 3); // IND: down, scrolling at the bottom
      n += 3;
    }
  }
  if (n > 0 && !writeAll(1, out, n))
    return -1;
  return static_cast<ssize_t>(size);
}

} // namespace

FILE *textStream() {
  if (console.text == nullptr) {
    cookie_io_functions_t functions{nullptr, writeText, nullptr, nullptr};
    console.text = ::fopencookie(nullptr, "w", functions);
    if (console.text == nullptr)
      return nullptr;
    if (console.stdoutIsTerminal)
      std::setvbuf(console.text, nullptr, _IONBF, 0);
    else
      std::setvbuf(console.text, console.textBuffer, _IOFBF,
                   sizeof console.textBuffer);
  }
  return console.text;
}

} // namespace quib::terminal
