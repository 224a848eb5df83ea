// Drives the terminal layer for the end-to-end tests, one operation per
// argument: c clearScreen, m:X:Y moveCursor, p:N putChar, t:TEXT printText
// (a wrong result of either ends the driver with status 4),
// s:N setCursorShape, b ringBell, z:N sleeps N ms, a fails an assertion
// inside the layer.
#include "console.h"
#include "keys.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

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
      ::usleep(static_cast<useconds_t>(n) * 1000);
    if (op == 'a')
      quib::decodeKey(nullptr, 0, true);
  }
}
