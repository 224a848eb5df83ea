// The console layer for the Windows console: kernel32's console functions
// on CONIN$ and CONOUT$, the key table (keytable.h) for presses without a
// character, and standard output in text mode with a buffer of its own,
// written with WriteFile, or WriteConsoleW when it is the console.
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// console buffer's width and height.
#include "console.h"

#include "keytable.h"
#include "pckeys.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  // Standard output is a character device (a console, or NUL): unbuffered.
  // Otherwise the text waits here, before its line ends become CR LF, and
  // goes out when the 512 bytes are full and at the program's normal end.
  bool stdoutIsDevice = false;
  char text[512]{};
  std::size_t textLen = 0;
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

void setUpStandardOutput() {
  console.stdOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  console.stdoutIsDevice = ::GetFileType(console.stdOut) == FILE_TYPE_CHAR;
  console.stdoutIsConsole =
      console.stdoutIsDevice && ::GetConsoleMode(console.stdOut, &mode);
  console.textLen = 0;
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

bool writeBytes(const char *bytes, DWORD len) {
  while (len > 0) {
    DWORD written = 0;
    if (!::WriteFile(console.stdOut, bytes, len, &written, nullptr) ||
        written == 0)
      return false;
    bytes += written;
    len -= written;
  }
  return true;
}

constexpr DWORD chunkSize = 256;

// On the console each byte as its Windows-1252 character, elsewhere the
// bytes as they are.
bool writeChunk(const char *bytes, DWORD len) {
  if (len == 0)
    return true;
  if (!console.stdoutIsConsole)
    return writeBytes(bytes, len);
  wchar_t wide[chunkSize];
  const int n = ::MultiByteToWideChar(1252, 0, bytes, static_cast<int>(len),
                                      wide, chunkSize);
  return n == static_cast<int>(len) && writeWide(wide, len);
}

// Text in text mode: each "\n" goes out as CR LF.
bool writeText(const char *text, std::size_t len) {
  char chunk[chunkSize];
  DWORD n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (n + 2 > chunkSize) {
      if (!writeChunk(chunk, n))
        return false;
      n = 0;
    }
    if (text[i] == '\n')
      chunk[n++] = '\r';
    chunk[n++] = text[i];
  }
  return writeChunk(chunk, n);
}

bool flushText() {
  const std::size_t len = console.textLen;
  console.textLen = 0;
  return writeText(console.text, len);
}

// Hands text to standard output, through the buffer unless standard output
// is a device.
bool putText(const char *text, std::size_t len) {
  if (console.stdoutIsDevice)
    return writeText(text, len);
  bool written = true;
  while (len > 0) {
    std::size_t room = sizeof console.text - console.textLen;
    const std::size_t n = len < room ? len : room;
    std::memcpy(console.text + console.textLen, text, n);
    console.textLen += n;
    text += n;
    len -= n;
    if (console.textLen == sizeof console.text)
      written = flushText() && written;
  }
  return written;
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
  flushText();
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
  // The part of the cell filled, and whether the cursor shows, for
  // cursorHidden, cursorSolid and cursorNormal in turn.
  static const CONSOLE_CURSOR_INFO shapes[3] = {
      {1, FALSE}, {99, TRUE}, {25, TRUE}};
  static_assert(cursorHidden == 0 && cursorSolid == 1 && cursorNormal == 2);
  if (shape < cursorHidden || shape > cursorNormal)
    return;
  ::SetConsoleCursorInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &shapes[shape]);
}

void ringBell() { putText("\a", 1); }

// The text is formatted into a buffer on the stack: the program allocates
// no memory of its own. A text longer than 4095 characters (none of the
// program's own comes near) is cut there, and the count says what went out.
int printText(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  char text[4096];
  int produced = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (produced >= static_cast<int>(sizeof text))
    produced = static_cast<int>(sizeof text) - 1;
  if (produced < 0 || !putText(text, static_cast<std::size_t>(produced)))
    return -1;
  return produced;
}

} // namespace quib
