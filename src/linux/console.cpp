// The terminal layer for Linux terminals: ECMA-48 / xterm output to the
// controlling terminal, termios modes, readKey over the key decoder, and
// the signal and exit paths that give the terminal back. This file holds
// the operations and the opening of the terminal; terminal.h lists the
// other parts.
#include "console.h"

#include "check.h"
#include "terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

namespace quib {
namespace terminal {

// constinit: the layer is opened from a static constructor in another
// source, which may run before this file's dynamic initialisers would.
constinit Console console;

volatile sig_atomic_t modeInForce = originalMode;
volatile sig_atomic_t shapeInForce = -1;
volatile sig_atomic_t userStyle = 0;
volatile sig_atomic_t modeToResume = originalMode;
volatile sig_atomic_t endStarted = 0;

} // namespace terminal

using namespace terminal;

namespace {

void closeAtExit() { closeConsole(); }

// The terminal's own descriptor, never one of the standard three.
int openTerminal() {
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty >= 0 && tty <= 2) {
    // A standard stream was closed at start; the terminal must not take
    // its place, or standard output would land on it.
    const int moved = ::fcntl(tty, F_DUPFD_CLOEXEC, 3);
    ::close(tty);
    tty = moved;
  }
  return tty;
}

} // namespace

// Whether fd is the terminal the layer opened: the same device, by
// TIOCGDEV, which also tells the real terminal behind /dev/tty and
// /dev/console (and, unlike the session's number, memory checkers follow).
// Where the kernel or an emulator has no TIOCGDEV (Linux before 3.0,
// qemu-user, sandboxes), the terminal the layer opened is the controlling
// one, and isCallersTerminal tells that.
bool terminal::isControllingTerminal(int fd) {
  unsigned int own = 0;
  unsigned int other = 0;
  if (console.tty < 0)
    return false;
  if (::ioctl(console.tty, TIOCGDEV, &own) != 0)
    return isCallersTerminal(fd);
  return ::ioctl(fd, TIOCGDEV, &other) == 0 && other == own;
}

// The kernel tells a terminal's foreground process group only to a process
// whose controlling terminal it is (ENOTTY to any other, and for files and
// pipes); every Linux kernel and qemu-user answer TIOCGPGRP.
bool terminal::isCallersTerminal(int fd) { return ::tcgetpgrp(fd) != -1; }

namespace {

CursorFamily cursorFamily(const char *term) {
  if (std::strncmp(term, "linux", 5) == 0)
    return linuxConsole;
  // tmux calls itself screen too, and knows DECSCUSR.
  if (std::strncmp(term, "screen", 6) == 0 && std::getenv("TMUX") == nullptr)
    return gnuScreen;
  return decscusr;
}

// The user's cursor style where the terminal does not say: DECSCUSR 0 is
// the user's own style in VTE, kitty, st and tmux; urxvt takes 0 for a
// blinking block and starts with a steady one.
int defaultUserStyle(const char *term) {
  return std::strncmp(term, "rxvt", 4) == 0 ? 2 : 0;
}

} // namespace

// ===========================================================================
// The operations
// ===========================================================================

void openConsole() {
  if (console.open)
    return;
  console.open = true;
  console.pendingKeyCode = -1;
  console.tty = openTerminal();
  console.drawing.fd = console.tty;
  console.width = 80;
  console.height = 24;
  winsize size;
  if (console.tty >= 0 && ::ioctl(console.tty, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0 && size.ws_row > 0) {
    console.width = size.ws_col;
    console.height = size.ws_row;
  }
  console.stdoutIsConsole = isControllingTerminal(1);
  console.stdoutIsTerminal = ::isatty(1) != 0;
  console.latin1AsUtf8 = console.stdoutIsTerminal && localeIsUtf8();
  const char *term = std::getenv("TERM");
  console.family = cursorFamily(term != nullptr ? term : "");
  userStyle = defaultUserStyle(term != nullptr ? term : "");
  prepareCursorBack();
  endStarted = 0;
  holdLayerSignals(console.layerSignals);
  textStream();
  setCheckFailureHook(onCheckFailure);
  if (console.tty >= 0 || console.stdoutIsTerminal)
    installSignalHandlers();
  // Keys typed before the first readKey are neither shown nor lost either.
  if (console.tty >= 0 && prepareModes())
    setMode(quietMode);
  static bool atExitRegistered = false;
  if (!atExitRegistered)
    atExitRegistered = std::atexit(closeAtExit) == 0;
}

void closeConsole() {
  if (!console.open)
    return;
  {
    LayerCall call;
    // A signal held meanwhile dies at once afterwards: the end is done.
    endStarted = 1;
    // The terminal first: writing out buffered text may meet a pipe whose
    // reader has gone, and SIGPIPE then ends the program.
    if (console.tty >= 0) {
      settleAnswers();
      handBackKeys();
      giveBackTerminal();
    }
    shapeInForce = -1;
  }
  if (console.text != nullptr)
    std::fflush(console.text);
  removeSignalHandlers();
  setCheckFailureHook(nullptr);
  if (console.tty >= 0)
    ::close(console.tty);
  console.tty = -1;
  console.drawing.fd = -1;
  console.haveModes = false;
  console.styleAsked = false;
  console.answersPending = false;
  console.shadowActive = false;
  console.inputLen = 0;
  console.open = false;
}

void clearScreen() {
  if (console.tty < 0)
    return;
  LayerCall call;
  console.drawing.put("\033[H\033[2J");
  askCursorStyle();
  console.x = 1;
  console.y = 1;
  clearShadow();
}

void moveCursor(int x, int y) {
  if (console.tty < 0 || x < 1 || x > console.width || y < 1 ||
      y > console.height)
    return;
  LayerCall call;
  console.drawing.cursorAt(x, y);
  console.x = x;
  console.y = y;
}

int putChar(int c) {
  const unsigned char b = static_cast<unsigned char>(c & 0xFF);
  if (console.tty < 0)
    return b;
  LayerCall call;
  Output &out = console.drawing;
  switch (b) {
  case 7: // no tone generator: the terminal's bell
    out.put("\a");
    break;
  case 8: // left without erasing
    if (console.x > 1) {
      out.put("\b");
      --console.x;
    }
    break;
  case 10:
    // IND and not LF: with the usual output processing (ONLCR) LF would
    // also go to column 1.
    out.put("\033D");
    downOneRow();
    break;
  case 13:
    out.put("\r");
    console.x = 1;
    break;
  default: {
    // Other control bytes and bytes above 127 would not take exactly one
    // cell on a terminal; a '?' keeps the cursor where the layer thinks.
    const char shown = b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?';
    out.put(&shown, 1);
    keepInShadow(shown);
    if (stepCursorRight())
      out.put("\r\033D"); // IND: down, scrolling at the bottom
    break;
  }
  }
  return b;
}

int readKey() {
  LayerCall call;
  if (console.pendingKeyCode != -1) {
    const int code = console.pendingKeyCode;
    console.pendingKeyCode = -1;
    return code;
  }
  if (console.tty < 0)
    return -1;
  flushDrawing();
  if (!prepareModes())
    return -1;
  DecodedKey key;
  do {
    key = nextItem(0, -1, rawMode, call.before);
    if (key.count < 0)
      break;
    takeItem(key);
  } while (key.count == 0);
  if (modeInForce != quietMode && !setMode(quietMode))
    return -1;
  if (key.count < 0)
    return -1;
  if (key.count == 2)
    console.pendingKeyCode = key.codes[1];
  return key.codes[0];
}

void setCursorShape(int shape) {
  LayerCall call;
  // A frame ends here; the search may follow, whatever standard output is.
  flushDrawing();
  if (!console.stdoutIsTerminal || shape < cursorHidden || shape > cursorNormal)
    return;
  if (console.text != nullptr)
    std::fflush(console.text);
  Output out;
  out.fd = 1;
  putShape(out, shape);
  if (out.flush())
    shapeInForce = shape;
}

void ringBell() {
  LayerCall call;
  flushDrawing();
  if (FILE *text = textStream())
    std::fputc('\a', text);
}

int printText(const char *format, ...) {
  LayerCall call;
  flushDrawing();
  FILE *text = textStream();
  if (text == nullptr)
    return -1;
  std::va_list args;
  va_start(args, format);
  const int produced = std::vfprintf(text, format, args);
  va_end(args);
  if (produced < 0 || std::ferror(text) != 0) {
    std::clearerr(text);
    return -1;
  }
  return produced;
}

} // namespace quib
