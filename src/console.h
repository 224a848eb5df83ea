// The terminal layer: the screen, the keyboard and standard output.
//
// The screen is W columns by H rows, positions (x, y) counted from 1, (1, 1)
// top left. W and H are read once from the controlling terminal (/dev/tty)
// when the layer opens; 80 x 24 when they cannot be read. Drawing (clearScreen,
// moveCursor, putChar) always goes to the terminal and keys always come from
// it, whatever standard input and output are redirected to. Without a
// terminal, drawing does nothing and readKey returns -1 on every call.
//
// Keys: readKey returns one code per call, as the key decoder (keys.h) reads
// them. A key without a character of its own gives 0 and then, on the next
// call, its extended code (Up 72, Down 80, Left 75, Right 77, Home 71, End
// 79, Page Up 73, Page Down 81, Insert 82, Delete 83). -1 means the terminal
// cannot be read. readKey takes from the terminal only the bytes of the key
// it returns; every key the program does not read stays in the terminal's
// queue for the next reader, and keys the layer holds at the end go back
// there.
//
// Modes: from the layer's start on, between readKey calls, echo and line
// editing are off, so that keys typed ahead stay queued as typed and are not
// shown; the terminal's own mode comes back at every end. While a call waits,
// Ctrl+C and Ctrl+\ are keys (3 and 28). Ctrl+Z stops the program with the
// terminal as the user had it, and fg repaints what was drawn since the last
// clear. Every end gives the terminal back: closeConsole, exit(), a failed
// assertion, and every signal that ends the process (it then dies by that
// signal).
//
// Standard output is in text mode ("\n" goes out as CR LF); unbuffered on a
// terminal, 512-byte buffered otherwise. On a terminal whose locale is UTF-8
// a byte above 127 goes out as the Latin-1 character it is, in UTF-8; to a
// file or pipe every byte stays as it is. printText returns the number of
// characters produced, or -1 when writing failed. Drawing waits in a buffer
// that is written before every read, text, cursor shape and at the end.
//
// Cursor shapes: 0 hidden, 1 a steady block, 2 a steady underline; applied
// only when standard output is a terminal. The first clear asks the terminal
// (when standard output is the same terminal) for the user's cursor style,
// which comes back at every end and while the program is stopped; a run
// that never clears asks nothing, and one that never sets a shape sends no
// cursor sequence.
#pragma once

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

} // namespace quib
