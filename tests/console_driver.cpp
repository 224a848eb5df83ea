// Drives the console layer for the end-to-end tests, one operation per
// argument: c clearScreen, m:X:Y moveCursor, p:N putChar, t:TEXT printText
// (a wrong result of either ends the driver with status 4),
// s:N setCursorShape, b ringBell, z:N sleeps N ms, a fails an assertion
// inside the layer; on Windows k prints the console's cursor as
// "[size,visible]", which Wine's drawing on a terminal does not show.
#include "console.h"
#include "keys.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

namespace {
void reportCursor() {
  CONSOLE_CURSOR_INFO info{};
  GetConsoleCursorInfo(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr),
                       &info);
  quib::printText("[%d,%d]", int(info.dwSize), int(info.bVisible));
}
} // namespace
#endif

namespace {
quib::ConsoleSession session;
}

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const char op = argv[i][0];
    const char *arg = op != '\0' && argv[i][1] == ':' ? argv[i] + 2 : "";
    const int n = std::atoi(arg);
    if (op == 'c')
      quib::clearScreen();
    if (op == 'm')
      quib::moveCursor(n, std::atoi(std::strchr(arg, ':') + 1));
    if (op == 'p' && quib::putChar(n) != (n & 0xFF))
      return 4;
    if (op == 't' && quib::printText("%s", arg) != int(std::strlen(arg)))
      return 4;
    if (op == 's')
      quib::setCursorShape(n);
    if (op == 'b')
      quib::ringBell();
    if (op == 'z')
      std::this_thread::sleep_for(std::chrono::milliseconds(n));
#ifdef _WIN32
    if (op == 'k')
      reportCursor();
#endif
    if (op == 'a')
      quib::decodeKey(nullptr, 0, true);
  }
}
