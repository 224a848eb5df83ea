// The terminal layer: the screen, the keyboard and standard output.
//
// The screen is W columns by H rows, positions (x, y) counted from 1, (1, 1)
// top left. W and H are read once from the controlling terminal (/dev/tty)
// when the layer opens; 80 x 24 when they cannot be read. Drawing (clearScreen,
// moveCursor, putChar) always goes to the terminal and keys always come from
// it, whatever standard input and output are redirected to. Without a
// terminal, drawing does nothing and readKey returns -1 on every call.
//
// Keys: readKey returns one code per call. A key without a character of its
// own (arrows, Home, Insert, Delete, function keys, Alt combinations) gives 0
// and then, on the next call, its extended code (Up 72, Down 80, Left 75,
// Right 77, Home 71, End 79, Page Up 73, Page Down 81, Insert 82, Delete 83).
// Backspace gives 8, Enter 13, Ctrl+Enter 10, Esc 27, Ctrl+C 3. A character
// outside 7-bit ASCII gives one nonzero code the editor never acts on. -1
// means the terminal cannot be read.
//
// Standard output is in text mode ("\n" goes out as CR LF); unbuffered on a
// terminal, 512-byte buffered otherwise. printText returns the number of
// characters produced, or -1 when writing failed.
//
// Cursor shapes: 0 hidden, 1 solid block, 2 the terminal's normal cursor;
// applied only when standard output is a terminal.
#pragma once

#include <cstddef>

namespace quib {

void openConsole();
void closeConsole();

void clearScreen();
void moveCursor(int x, int y);
int putChar(int c);
int readKey();
void setCursorShape(int shape);
void ringBell();
int printText(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The key decoder, a pure function over the bytes the terminal sent.
//
// bytes[0..len) are the bytes received and not yet decoded (len >= 1).
// final tells that no further byte arrived within the short wait after the
// last one, so an incomplete escape sequence must be decided now (a lone
// Esc is Esc). The result says how many bytes the key used and which codes
// it gives: count 0 with consumed > 0 is a sequence that is skipped whole;
// consumed 0 means "incomplete, wait for more bytes" and happens only when
// final is false. codes[0] is 0 exactly when a two-code key was read, and
// codes[1] is then its extended code.
struct DecodedKey {
  int consumed;
  int count;
  int codes[2];
};

DecodedKey decodeKey(const unsigned char *bytes, std::size_t len, bool final);

} // namespace quib
