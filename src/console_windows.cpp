// The console layer for the Windows console: kernel32's console functions
// on CONIN$ and CONOUT$, the key table (keytable.h) for presses without a
// character, and standard output in text mode through the C runtime.
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// console buffer's width and height.
#include "console.h"

#include "keytable.h"
#include "pckeys.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace quib {
namespace {

// ===========================================================================
// Process-wide state
// ===========================================================================

struct Console {
  HANDLE in = nullptr; // nullptr: no console
  HANDLE out = nullptr;
  // The whole buffer, read once: Windows 10 starts with 9001 rows, which
  // the front end's clear must cover.
  int width = 0;
  int height = 0;
  WORD textAttribute = 0;
  int pendingKeyCode = -1;
  HANDLE stdOut = nullptr;
  // Standard output is a console screen buffer: text goes there as UTF-16,
  // so that its single bytes show as the Windows-1252 characters they are,
  // whatever the console's output code page.
  bool stdoutIsConsole = false;
  char textBuffer[512]{};
};

// constinit: the layer is opened from a static constructor in another
// source, which may run before this file's dynamic initialisers would.
constinit Console console;

HANDLE openDevice(const char *name) {
  HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

COORD positionOf(int x, int y) {
  return COORD{static_cast<SHORT>(x - 1), static_cast<SHORT>(y - 1)};
}

// Standard output in text mode: unbuffered on a character device (the
// console, or NUL), else fully buffered in 512 bytes, written out when
// full and at the program's normal end.
void setUpStandardOutput() {
  console.stdOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  const bool device = ::GetFileType(console.stdOut) == FILE_TYPE_CHAR;
  console.stdoutIsConsole = device && ::GetConsoleMode(console.stdOut, &mode);
  if (device)
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    std::setvbuf(stdout, console.textBuffer, _IOFBF, sizeof console.textBuffer);
}

// ===========================================================================
// Drawing
// ===========================================================================

void writeCell(int x, int y, unsigned char b) {
  CHAR_INFO cell;
  cell.Char.AsciiChar = static_cast<CHAR>(b);
  cell.Attributes = console.textAttribute;
  SMALL_RECT area{static_cast<SHORT>(x - 1), static_cast<SHORT>(y - 1),
                  static_cast<SHORT>(x - 1), static_cast<SHORT>(y - 1)};
  ::WriteConsoleOutputA(console.out, &cell, COORD{1, 1}, COORD{0, 0}, &area);
}

// Row 1 is lost, rows 2..H move up one, row H becomes blanks.
void scrollUp() {
  SMALL_RECT rows{0, 1, static_cast<SHORT>(console.width - 1),
                  static_cast<SHORT>(console.height - 1)};
  CHAR_INFO blank;
  blank.Char.AsciiChar = ' ';
  blank.Attributes = console.textAttribute;
  ::ScrollConsoleScreenBufferA(console.out, &rows, nullptr, COORD{0, 0},
                               &blank);
}

// ===========================================================================
// Keys
// ===========================================================================

// The next key press as one code, the second code of a two-code key held
// back; -1 when the input cannot be read. Releases, other events and keys
// without a result are passed over.
int readKeyPress() {
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!::ReadConsoleInputA(console.in, &record, 1, &read))
      return -1;
    if (read != 1 || record.EventType != KEY_EVENT ||
        !record.Event.KeyEvent.bKeyDown)
      continue;
    const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
    // AsciiChar is signed: the character 255 must not come back as -1.
    const auto character = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (character != 0)
      return character;
    const int value = lookUpKey(key.wVirtualKeyCode, key.dwControlKeyState);
    if (value == pc::none)
      continue;
    if (value < pc::extendedBase)
      return value;
    console.pendingKeyCode = value - pc::extendedBase;
    return 0;
  }
}

// ===========================================================================
// Standard output
// ===========================================================================

bool writeWide(const wchar_t *text, DWORD len) {
  while (len > 0) {
    DWORD written = 0;
    if (!::WriteConsoleW(console.stdOut, text, len, &written, nullptr) ||
        written == 0)
      return false;
    text += written;
    len -= written;
  }
  return true;
}

// Text on the console: each "\n" as CR LF, each byte as its Windows-1252
// character.
bool showOnConsole(const char *text, int len) {
  wchar_t wide[256];
  DWORD n = 0;
  for (int i = 0; i < len; ++i) {
    if (n + 2 > sizeof wide / sizeof wide[0]) {
      if (!writeWide(wide, n))
        return false;
      n = 0;
    }
    const char c = text[i];
    if (c == '\n')
      wide[n++] = L'\r';
    if (::MultiByteToWideChar(1252, 0, &c, 1, &wide[n], 1) != 1)
      wide[n] = L'?';
    ++n;
  }
  return writeWide(wide, n);
}

// The C runtime's stream, in text mode; -1 when writing failed.
int printOnStream(const char *format, std::va_list args) {
  const int produced = std::vfprintf(stdout, format, args);
  if (produced < 0 || std::ferror(stdout) != 0) {
    std::clearerr(stdout);
    return -1;
  }
  return produced;
}

} // namespace

// ===========================================================================
// The operations
// ===========================================================================

void openConsole() {
  console.in = openDevice("CONIN$");
  console.out = openDevice("CONOUT$");
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console.out != nullptr &&
      ::GetConsoleScreenBufferInfo(console.out, &info)) {
    console.width = info.dwSize.X;
    console.height = info.dwSize.Y;
    console.textAttribute = info.wAttributes & 0xFF;
  }
  console.pendingKeyCode = -1;
  setUpStandardOutput();
}

void closeConsole() {
  if (console.in != nullptr)
    ::CloseHandle(console.in);
  if (console.out != nullptr)
    ::CloseHandle(console.out);
  console.in = console.out = nullptr;
}

void clearScreen() {
  if (console.out == nullptr)
    return;
  const DWORD cells =
      static_cast<DWORD>(console.width) * static_cast<DWORD>(console.height);
  DWORD done = 0;
  ::FillConsoleOutputCharacterA(console.out, ' ', cells, COORD{0, 0}, &done);
  ::FillConsoleOutputAttribute(console.out, console.textAttribute, cells,
                               COORD{0, 0}, &done);
  moveCursor(1, 1);
}

void moveCursor(int x, int y) {
  if (console.out == nullptr || x < 1 || x > console.width || y < 1 ||
      y > console.height)
    return;
  ::SetConsoleCursorPosition(console.out, positionOf(x, y));
}

// The cursor is read from the console on every call: printText moves it.
int putChar(int c) {
  const auto b = static_cast<unsigned char>(c & 0xFF);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console.out == nullptr ||
      !::GetConsoleScreenBufferInfo(console.out, &info))
    return b;
  int x = info.dwCursorPosition.X + 1;
  int y = info.dwCursorPosition.Y + 1;
  switch (b) {
  case 7:
    ::Beep(3000, 100);
    break;
  case 8: // left without erasing
    if (x > 1)
      --x;
    break;
  case 10:
    ++y;
    break;
  case 13:
    x = 1;
    break;
  default:
    writeCell(x, y, b);
    ++x;
    break;
  }
  if (x > console.width) {
    x = 1;
    ++y;
  }
  if (y > console.height) {
    scrollUp();
    y = console.height;
  }
  ::SetConsoleCursorPosition(console.out, positionOf(x, y));
  return b;
}

// The input is raw only while a key is awaited: between calls the console's
// own mode holds, so Ctrl+C ends the program the console's way, and keys
// typed meanwhile wait in the console's queue. Nothing discards them.
int readKey() {
  if (console.pendingKeyCode != -1) {
    const int code = console.pendingKeyCode;
    console.pendingKeyCode = -1;
    return code;
  }
  DWORD saved = 0;
  if (console.in == nullptr || !::GetConsoleMode(console.in, &saved) ||
      !::SetConsoleMode(console.in, 0))
    return -1;
  const int result = readKeyPress();
  if (!::SetConsoleMode(console.in, saved))
    return -1;
  return result;
}

void setCursorShape(int shape) {
  // The part of the cell filled, and whether the cursor shows.
  static const CONSOLE_CURSOR_INFO shapes[3] = {
      {1, FALSE}, {99, TRUE}, {25, TRUE}};
  if (shape < 0 || shape > 2)
    return;
  ::SetConsoleCursorInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &shapes[shape]);
}

void ringBell() {
  if (console.stdoutIsConsole)
    showOnConsole("\a", 1);
  else
    std::fputc('\a', stdout);
}

int printText(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  int produced = -1;
  if (console.stdoutIsConsole) {
    // Longer texts than this (none of the program's own) go through the
    // stream unconverted.
    char text[4096];
    std::va_list again;
    va_copy(again, args);
    produced = std::vsnprintf(text, sizeof text, format, args);
    if (produced >= 0 && produced < static_cast<int>(sizeof text))
      produced = showOnConsole(text, produced) ? produced : -1;
    else
      produced = printOnStream(format, again);
    va_end(again);
  } else {
    produced = printOnStream(format, args);
  }
  va_end(args);
  return produced;
}

} // namespace quib
