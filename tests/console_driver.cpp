// Drives the console layer for the end-to-end tests, one operation per
// argument: c clearScreen, m:X:Y moveCursor, p:N putChar, t:TEXT printText
// (a wrong result of either ends the driver with status 4),
// s:N setCursorShape, b ringBell, w reads a key, z:N sleeps N ms, a fails
// an assertion inside the layer. On Linux g:N prints on standard error
// whether the layer takes descriptor N for its terminal, as "FC": F by the
// full check (the device where the kernel tells it), C by the controlling
// terminal alone, the check without the device. On Windows, whose console
// Wine's drawing on a
// terminal shows without colours or the cursor's size, o:N opens the layer
// again in a console of the attribute N, and these print what the console
// holds: k the cursor as "[size,visible]"; r reads a key while a second thread
// notes the input's mode and then types Ctrl+C, as "[processed, line and echo
// input before,while waiting,the key,1 when the mode came back]"; d, on
// standard error, the 80 x 25 cells, each row's characters and then their
// attributes in hex.
#include "console.h"
#include "keys.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>

namespace {
HANDLE openDevice(const char *name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

void dumpScreen() {
  CHAR_INFO cells[25][80];
  SMALL_RECT all{0, 0, 79, 24};
  ReadConsoleOutputA(openDevice("CONOUT$"), cells[0], COORD{80, 25},
                     COORD{0, 0}, &all);
  for (const auto &row : cells) {
    for (const CHAR_INFO &cell : row)
      std::fputc(cell.Char.AsciiChar, stderr);
    for (const CHAR_INFO &cell : row)
      std::fprintf(stderr, "%02x", cell.Attributes);
    std::fputc('\n', stderr);
  }
}

void readKeyWatched() {
  const HANDLE in = openDevice("CONIN$");
  DWORD before = 0, during = 0, after = 0;
  GetConsoleMode(in, &before);
  // Until readKey has switched the mode (ten seconds at most), then Ctrl+C
  // as the console's keyboard gives it.
  std::thread typist([&] {
    for (int i = 0; i < 1000 && GetConsoleMode(in, &during) && during == before;
         ++i)
      Sleep(10);
    INPUT_RECORD key{KEY_EVENT, {}};
    key.Event.KeyEvent = {TRUE, 1, 'C', 0, {3}, LEFT_CTRL_PRESSED};
    DWORD written = 0;
    WriteConsoleInputA(in, &key, 1, &written);
  });
  const int key = quib::readKey();
  typist.join();
  GetConsoleMode(in, &after);
  const DWORD raw =
      ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  quib::printText("[%lx,%lx,%d,%d]", before & raw, during & raw, key,
                  after == before);
}
} // namespace
#else
#include "terminal.h"
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
    if (op == 'w')
      quib::readKey();
    if (op == 'z')
      std::this_thread::sleep_for(std::chrono::milliseconds(n));
#ifdef _WIN32
    if (op == 'k') {
      CONSOLE_CURSOR_INFO info{};
      GetConsoleCursorInfo(openDevice("CONOUT$"), &info);
      quib::printText("[%d,%d]", int(info.dwSize), int(info.bVisible));
    }
    if (op == 'd')
      dumpScreen();
    if (op == 'r')
      readKeyWatched();
    if (op == 'o') { // as if started in a console of the attribute n
      quib::closeConsole();
      SetConsoleTextAttribute(openDevice("CONOUT$"), WORD(n));
      quib::openConsole();
    }
#else
    if (op == 'g')
      std::fprintf(stderr, "%d%d", quib::terminal::isControllingTerminal(n),
                   quib::terminal::isCallersTerminal(n));
#endif
    if (op == 'a')
      quib::decodeKey(nullptr, 0, true);
  }
}
