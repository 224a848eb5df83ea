// Standard output in text mode: "\n" goes out as CR LF, and a byte above
// 127 as the Latin-1 character it is, in UTF-8 on a UTF-8 terminal. Text
// that goes to the layer's own terminal moves the layer's cursor with it.
#include "terminal.h"

#include <strings.h>

#include <cstdlib>
#include <initializer_list>

namespace quib::terminal {

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
    return stepCursorRight();
  }
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
