// The console layer: the screen, the keyboard and standard output. One
// contract, one implementation per platform: src/linux/ for terminals,
// src/windows/ for the Windows console.
//
// The screen is W columns by H rows, positions (x, y) counted from 1, (1, 1)
// top left. W and H are read once when the layer opens: on Linux the
// controlling terminal's size (80 x 24 when it cannot be read), on Windows
// the console buffer's whole size. Drawing (clearScreen, moveCursor,
// putChar) always goes to the console and keys always come from it,
// whatever standard input and output are redirected to. Without a console,
// drawing does nothing and readKey returns -1 on every call.
//
// Keys: readKey returns one code per call, the PC keyboard's (pckeys.h). A
// key without a character of its own gives 0 and then, on the next call,
// its extended code (Up 72, Down 80, Left 75, Right 77, Home 71, End 79,
// Page Up 73, Page Down 81, Insert 82, Delete 83). A character is its byte,
// 1-255. -1 means the console cannot be read. Keys the program does not
// read stay for the next reader: on Windows in the console's queue; on
// Linux the layer takes from the terminal only the bytes of the key it
// returns (the key decoder, linux/keys.h) and gives back those it holds at the
// end.
//
// Modes: while a call waits, Ctrl+C is the key 3; at any other time it ends
// the program the platform's way. Keys typed while no call waits are
// neither shown nor lost. The console's own mode comes back at every end.
// On Linux also: Ctrl+\ is the key 28 while a call waits; Ctrl+Z stops the
// program with the terminal as the user had it, and fg repaints what was
// drawn since the last clear; every end gives the terminal back:
// closeConsole, exit(), a failed assertion, and every signal that ends the
// process (it then dies by that signal).
//
// Standard output is in text mode ("\n" goes out as CR LF); unbuffered on a
// terminal or console, 512-byte buffered otherwise. The texts' single bytes
// are Latin-1 (Windows-1252): on a console they show as those characters
// (on Linux when the locale is UTF-8, in UTF-8; on Windows whatever the
// output code page); to a file or pipe every byte stays as it is.
// printText returns the number of characters produced, or -1 when writing
// failed; on Windows a text is cut after 4095 characters. On Linux drawing
// waits in a buffer that is written before every read, text, cursor shape and
// at the end.
//
// Cursor shapes: 0 hidden, 1 a solid block, 2 the normal cursor (Windows:
// a quarter of the cell; Linux: a steady underline); applied only when
// standard output is a terminal or console. On Linux the first clear asks
// the terminal (when standard output is the same terminal) for the user's
// cursor style, which comes back at every end and while the program is
// stopped; a run that never clears asks nothing, and one that never sets a
// shape sends no cursor sequence.
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
// The shapes setCursorShape takes.
constexpr int cursorHidden = 0;
constexpr int cursorSolid = 1;
constexpr int cursorNormal = 2;
void setCursorShape(int shape);
void ringBell();
int printText(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace quib
