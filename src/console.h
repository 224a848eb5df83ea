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
// Modes: the terminal's own mode is untouched until the first readKey call.
// From then on, between calls, echo and line editing are off so that keys
// typed ahead stay queued as typed, while Ctrl+C and Ctrl+Z keep their
// signals; while a call waits the terminal is fully raw (Ctrl+C gives 3).
// The original mode comes back at closeConsole, at exit(), after a failed
// assertion, and when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the program
// (which then dies by that signal, with a visible cursor). Ctrl+Z stops the
// program with the original mode in force and takes the layer's mode back
// on fg.
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

// Keeps the layer open for the object's lifetime. The program holds one in
// static storage, so the layer opens before main's first statement and
// closes at normal program end, after main has returned.
struct ConsoleSession {
  ConsoleSession() { openConsole(); }
  ~ConsoleSession() { closeConsole(); }
  ConsoleSession(const ConsoleSession &) = delete;
  ConsoleSession &operator=(const ConsoleSession &) = delete;
};

void clearScreen();
void moveCursor(int x, int y);
int putChar(int c);
int readKey();
void setCursorShape(int shape);
void ringBell();
int printText(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The key decoder, a pure function over the bytes the terminal sent.
//
// bytes[0..len) are the bytes received and not yet decoded (len >= 1,
// asserted as "bytes != nullptr && len >= 1"). final tells that no further
// byte arrived within the short wait after the last one, so an incomplete
// escape sequence must be decided now (a lone Esc is Esc). The result says
// how many bytes the key used and which codes it gives: count 0 with
// consumed > 0 is a sequence that is skipped whole; consumed 0 means
// "incomplete, wait for more bytes" and happens only when final is false.
// codes[0] is 0 exactly when a two-code key was read, and codes[1] is then
// its extended code; codes the count does not cover are -1.
//
// What the bytes mean:
// - A byte on its own is its own code, except DEL (0x7f), which is
//   Backspace (8) like BS, and NUL (Ctrl+Space, Ctrl+2), which is 0, 3.
//   So Ctrl+A to Ctrl+Z give 1 to 26, Enter 13 and line feed (Ctrl+Enter,
//   Ctrl+J) 10.
// - CSI and SS3 sequences of the cursor, editing, keypad and function keys
//   in the xterm, VTE, urxvt, Linux console, tmux and screen forms give the
//   two-code results of the PC keyboard, with xterm's modifier parameter
//   (CSI 1;m X, CSI n;m ~) and urxvt's CSI n $ / n ^ / n @ choosing the
//   Shift, Ctrl or Alt column (Alt before Ctrl before Shift): Up 0, 72,
//   Ctrl+Up 0, 141, Alt+Up 0, 152, F1 0, 59, Shift+Tab (CSI Z) 0, 15 and
//   so on. The keypad in application mode (SS3 p to y, j to o, M) gives
//   its digits, operators and Enter.
// - Esc followed by a key is Alt with that key: Alt+letter 0 and the
//   letter's scan code (Alt+Q 0, 16), Alt+digit 0, 120 to 0, 129,
//   Alt+Backspace 0, 14, Alt+Enter 0, 166, Alt+Tab 0, 165, Esc Esc 0, 1,
//   Esc and a cursor key's sequence Alt with that key.
// - A UTF-8 character is one result: its Latin-1 code for U+00A0 to
//   U+00FF, '?' for every other; each byte that is not valid UTF-8 is one
//   '?'. A result is never 0 for such a character.
// - Sequences that are no key (focus and mouse reports, unknown CSI and
//   SS3 finals, OSC, DCS, APC, PM and SOS strings, a sequence cut off by
//   the end of the burst) are skipped whole: count 0.
struct DecodedKey {
  int consumed;
  int count;
  int codes[2];
};

DecodedKey decodeKey(const unsigned char *bytes, std::size_t len, bool final);

} // namespace quib
