// The terminal layer for Linux terminals: ECMA-48 / xterm output to the
// controlling terminal, termios modes, readKey over the key decoder, and
// the signal and exit paths that give the terminal back.
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// screen's width and height.
#include "console.h"

#include "check.h"
#include "keys.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace quib {
namespace {

// ===========================================================================
// Process-wide state
// ===========================================================================

// The layer's terminal modes, as indices into Console::modes.
enum TerminalMode : int {
  originalMode, // the terminal's own, as found
  quietMode,    // between readKey calls: no echo, no line editing
  rawMode,      // while readKey waits: also Ctrl+C, Ctrl+\ and Ctrl+S as keys
  handBackMode, // while unread keys go back to the terminal: no signals
  modeCount,
};

// How the cursor shapes are shown: DECSCUSR (xterm, VTE, kitty, st, urxvt,
// tmux), the Linux console's own cursor sizes, or GNU screen's "very
// visible" cursor. screen 4 knows no DECSCUSR and hands it on to the
// terminal it runs in, whose user style it could then not give back.
enum CursorFamily : int { decscusr, linuxConsole, gnuScreen };

// How long the rest of an escape sequence may take to arrive after its
// first bytes; a lone Esc is Esc after this wait.
constexpr int escapeWaitMs = 40;
// How long the terminal may take to answer the question for its cursor
// style. Every terminal answers the device attributes asked with it.
constexpr int answerWaitMs = 500;

// The screen as drawn since the last clear, for repainting it after Ctrl+Z
// and fg; cells beyond it are drawn but not kept.
constexpr int shadowRows = 100;
constexpr int shadowCols = 256;

// Bytes on their way to a descriptor, written in one go when full or
// flushed. Also built on the stack of the signal handlers.
struct Output {
  int fd = -1;
  std::size_t len = 0;
  char data[4096]{};

  void put(const char *bytes, std::size_t n);
  void put(const char *text) { put(text, std::strlen(text)); }
  void number(int value);
  void cursorAt(int x, int y); // CUP: CSI row ; column H
  bool flush();
};

struct Console {
  bool open = false;
  int tty = -1; // /dev/tty, for keys and drawing; -1 without a terminal
  int width = 80;
  int height = 24;
  int x = 1; // the terminal's cursor as the layer keeps it
  int y = 1;
  int pendingKeyCode = -1;
  bool stdoutIsConsole = false;  // fd 1 is the same terminal as tty
  bool stdoutIsTerminal = false; // fd 1 is a terminal, maybe another one
  bool latin1AsUtf8 = false;     // text bytes above 127 go out as UTF-8
  CursorFamily family = decscusr;
  bool haveModes = false;
  termios modes[modeCount]{};
  // Bytes read from the terminal and not yet returned as keys.
  unsigned char input[512]{};
  std::size_t inputLen = 0;
  Output drawing;
  bool styleAsked = false;     // the question for the cursor style went out
  bool answersPending = false; // the terminal has not answered it yet
  bool shadowActive = false;   // a clear happened, the shadow holds the screen
  char shadow[shadowRows][shadowCols]{};
  // Standard output in text mode.
  FILE *text = nullptr;
  char textBuffer[512]{};
  // The signals whose handlers repaint and read the terminal; the layer
  // holds them back while it works, so they find it idle.
  sigset_t layerSignals{};
};

// constinit: the layer is opened from a static constructor in another
// source, which may run before this file's dynamic initialisers would.
constinit Console console;

// What the signal handlers need to know: the mode in force, the shape the
// program set (-1: it never changed the shape) and the DECSCUSR style that
// gives the user's own cursor back.
volatile sig_atomic_t modeInForce = originalMode;
volatile sig_atomic_t shapeInForce = -1;
volatile sig_atomic_t userStyle = 0;
// The layer's mode while Ctrl+Z has the program stopped.
volatile sig_atomic_t modeToResume = originalMode;

// ===========================================================================
// Low-level writes (async-signal-safe)
// ===========================================================================

bool writeAll(int fd, const char *data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

void Output::put(const char *bytes, std::size_t n) {
  if (len + n > sizeof data)
    flush();
  std::memcpy(data + len, bytes, n);
  len += n;
}

void Output::number(int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0)
    put(&digits[--n], 1);
}

void Output::cursorAt(int x, int y) {
  put("\033[");
  number(y);
  put(";");
  number(x);
  put("H");
}

bool Output::flush() {
  const std::size_t n = len;
  len = 0;
  return n == 0 || fd < 0 || writeAll(fd, data, n);
}

void flushDrawing() { console.drawing.flush(); }

bool setMode(int mode) {
  // Noted first: a signal right after the change must give the terminal
  // back. TCSANOW: the other actions would wait for output or, worse,
  // discard keys typed ahead.
  const int before = modeInForce;
  modeInForce = mode;
  while (::tcsetattr(console.tty, TCSANOW, &console.modes[mode]) != 0)
    if (errno != EINTR) {
      modeInForce = before;
      return false;
    }
  return true;
}

// The sequences of setCursorShape, by family and shape, and those that
// give the user's cursor back.
constexpr const char *shapeSequences[3][3] = {
    // DECSCUSR 2 is a steady block, 4 a steady underline.
    {"\033[?25l", "\033[?25h\033[2 q", "\033[?25h\033[4 q"},
    // The Linux console's cursor sizes: 6 a full block, 2 an underline.
    {"\033[?25l", "\033[?25h\033[?6c", "\033[?25h\033[?2c"},
    // screen: CSI 34 l the very visible cursor, CSI 34 h the normal one.
    {"\033[?25l", "\033[?25h\033[34l", "\033[?25h\033[34h"}};

void putShape(Output &out, int shape) {
  out.put(shapeSequences[console.family][shape]);
}

void putUserCursor(Output &out) {
  if (console.family != decscusr) {
    out.put(console.family == linuxConsole ? "\033[?25h\033[?0c"
                                           : "\033[34h\033[?25h");
    return;
  }
  out.put("\033[?25h\033[");
  out.number(userStyle);
  out.put(" q");
}

// Puts the terminal back as the user had it: the original mode and, when
// the program changed the cursor, the user's own. Used by every way out.
void giveBackTerminal() {
  if (modeInForce != originalMode)
    setMode(originalMode);
  if (shapeInForce < 0)
    return;
  Output out;
  out.fd = 1;
  putUserCursor(out);
  out.flush();
}

// ===========================================================================
// The shadow of the screen, and repainting it
// ===========================================================================

void keepInShadow(char c) {
  if (console.y <= shadowRows && console.x <= shadowCols)
    console.shadow[console.y - 1][console.x - 1] = c;
}

void clearShadow() {
  std::memset(console.shadow, ' ', sizeof console.shadow);
  console.shadowActive = true;
}

// Down one row, scrolling the screen at its bottom row.
void downOneRow() {
  if (console.y < console.height) {
    ++console.y;
    return;
  }
  const int rows = console.height < shadowRows ? console.height : shadowRows;
  std::memmove(console.shadow[0], console.shadow[1],
               static_cast<std::size_t>(rows - 1) * shadowCols);
  std::memset(console.shadow[rows - 1], ' ', shadowCols);
}

std::size_t encodeText(unsigned char c, char *out);

// Draws the screen again as it was (when a clear happened since the start),
// puts the cursor back and shows its shape. Async-signal-safe, for the
// handlers; they run only while the layer is idle.
void repaint() {
  Output out;
  out.fd = console.tty;
  if (console.shadowActive) {
    out.put("\033[H\033[2J");
    for (int y = 1; y <= console.height && y <= shadowRows; ++y) {
      int next = 0; // where the terminal's cursor stands after a character
      for (int x = 1; x <= console.width && x <= shadowCols; ++x) {
        const char &c = console.shadow[y - 1][x - 1];
        if (c == ' ')
          continue;
        if (x != next)
          out.cursorAt(x, y);
        char bytes[3];
        out.put(bytes, encodeText(static_cast<unsigned char>(c), bytes));
        next = x + 1;
      }
    }
    out.cursorAt(console.x, console.y);
  }
  out.flush();
  if (shapeInForce >= 0 && console.stdoutIsTerminal) {
    out.fd = 1;
    putShape(out, shapeInForce);
    out.flush();
  }
}

// ===========================================================================
// Reading the terminal
// ===========================================================================

// Holds the layer's signals back for one operation; the handlers then run
// between operations or while readKey waits, never halfway through one.
struct LayerCall {
  sigset_t before;
  LayerCall() { ::sigprocmask(SIG_BLOCK, &console.layerSignals, &before); }
  ~LayerCall() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
  LayerCall(const LayerCall &) = delete;
  LayerCall &operator=(const LayerCall &) = delete;
};

int elapsedMs(const timespec &since) {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int>((now.tv_sec - since.tv_sec) * 1000 +
                          (now.tv_nsec - since.tv_nsec) / 1000000);
}

// Reads one byte from the terminal into the input buffer, in the given
// mode, waiting at most waitMs (-1: as long as it takes) with the caller's
// signal mask, so that Ctrl+Z can stop the program meanwhile. Returns 1
// when the buffer grew (the stop handler may have added to it), 0 when the
// time ran out, -1 when the terminal cannot be read (hangup).
int receiveByte(int waitMs, int mode, const sigset_t &callerMask) {
  if (console.inputLen == sizeof console.input)
    return 0;
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  const std::size_t before = console.inputLen;
  for (;;) {
    if (modeInForce != mode && !setMode(mode))
      return -1;
    int left = waitMs < 0 ? -1 : waitMs - elapsedMs(start);
    if (waitMs >= 0 && left < 0)
      left = 0;
    timespec limit{left / 1000, (left % 1000) * 1000000L};
    pollfd fd{console.tty, POLLIN, 0};
    const int ready = ::ppoll(&fd, 1, left < 0 ? nullptr : &limit, &callerMask);
    if (console.inputLen > before)
      return 1;
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return ready;
    const ssize_t n = ::read(console.tty, console.input + console.inputLen, 1);
    if (n == 1) {
      ++console.inputLen;
      return 1;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    return -1;
  }
}

constexpr DecodedKey readFailed{0, -1, {-1, -1}};
constexpr DecodedKey timedOut{0, 0, {-1, -1}};

// Waits until the input buffer holds one whole decoded item from byte from
// on, a key or a sequence to skip, and returns it without taking it out.
// Only the bytes of that item are taken from the terminal, one at a time:
// whatever the program does not read stays in the terminal's queue for the
// next reader. waitMs bounds the wait for its first byte; consumed 0 then
// means that the time ran out, and count -1 that the terminal cannot be
// read.
DecodedKey nextItem(std::size_t from, int waitMs, int mode,
                    const sigset_t &callerMask) {
  for (;;) {
    if (console.inputLen > from) {
      const bool full = console.inputLen == sizeof console.input;
      const std::size_t len = console.inputLen - from;
      const DecodedKey key = decodeKey(console.input + from, len, full);
      if (key.consumed > 0)
        return key;
      const int got = receiveByte(escapeWaitMs, mode, callerMask);
      if (got < 0)
        return readFailed;
      if (got == 0)
        return decodeKey(console.input + from, len, true);
      continue;
    }
    const int got = receiveByte(waitMs, mode, callerMask);
    if (got <= 0)
      return got < 0 ? readFailed : timedOut;
  }
}

// Takes one item out of the input buffer and notes what the terminal said
// in it; its device attributes are the last of its answers.
void takeItem(const DecodedKey &item, std::size_t from = 0) {
  const auto n = static_cast<std::size_t>(item.consumed);
  console.inputLen -= n;
  std::memmove(console.input + from, console.input + from + n,
               console.inputLen - from);
  if (item.report == Report::cursorStyle)
    userStyle = item.style;
  if (item.report == Report::deviceAttributes)
    console.answersPending = false;
}

bool prepareModes() {
  if (console.haveModes)
    return true;
  termios t;
  if (::tcgetattr(console.tty, &t) != 0)
    return false;
  console.modes[originalMode] = t;
  // Between calls: no echo and no line editing, so that keys typed ahead
  // stay queued as typed; no input translation either, since the line
  // discipline translates a key when it arrives, not when it is read
  // (Enter would otherwise come back as line feed). The signal keys stay.
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | ISTRIP);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  // NOFLSH: Ctrl+Z must not discard the keys typed ahead; the stop handler
  // keeps them, and Ctrl+C and Ctrl+\ discard them themselves.
  t.c_lflag |= NOFLSH;
  console.modes[quietMode] = t;
  // While readKey waits, Ctrl+C and Ctrl+\ are keys (3 and 28) and so are
  // Ctrl+S and Ctrl+Q; Ctrl+Z still stops the program.
  t.c_cc[VINTR] = _POSIX_VDISABLE;
  t.c_cc[VQUIT] = _POSIX_VDISABLE;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON);
  console.modes[rawMode] = t;
  t = console.modes[originalMode];
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ISIG);
  console.modes[handBackMode] = t;
  console.haveModes = true;
  return true;
}

// Asks the terminal for its cursor style (DECRQSS) and, since every
// terminal answers it, for its device attributes; echo is off from the
// layer's start, so the answers do not show. The question goes out with
// the first clear, and the row it may have landed on is erased at once:
// PuTTY and QTerminal parse no DCS string and print its middle ("$q q") as
// text, and the drawing to come would otherwise leave it standing.
void askCursorStyle() {
  if (console.styleAsked || !console.stdoutIsConsole ||
      console.family != decscusr || modeInForce == originalMode)
    return;
  console.drawing.put("\033P$q q\033\\\033[c\033[H\033[2K");
  console.styleAsked = console.answersPending = true;
}

// Reads the answers to the question up to the device attributes, which
// come last; a terminal that answers nothing ends the wait after
// answerWaitMs. The signals stay as they are held: Ctrl+Z during the wait
// stops the program once the answers are in, and not before, when they
// would reach the shell as typed input. pastKeys false: a key typed ahead
// of the answers ends the wait and stays for readKey, which skips the
// answers when it comes to them. pastKeys true, before the terminal goes
// back: the keys found before the last answer stay in the input buffer.
void readAnswers(bool pastKeys) {
  sigset_t mask;
  ::sigprocmask(SIG_BLOCK, nullptr, &mask);
  std::size_t keys = 0;
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  while (console.answersPending) {
    const int left = answerWaitMs - elapsedMs(start);
    const DecodedKey item =
        nextItem(keys, left > 0 ? left : 0, quietMode, mask);
    if (item.consumed == 0)
      console.answersPending = false;
    if (item.consumed == 0 || item.count < 0 || (item.count > 0 && !pastKeys))
      return;
    if (item.count > 0)
      keys += static_cast<std::size_t>(item.consumed);
    else
      takeItem(item, keys);
  }
}

// Before the terminal goes back to the shell, for any reason: what was
// drawn goes out, and so does the question if it still waited there; the
// answers are read, or the shell would take them for typed input.
void settleAnswers() {
  flushDrawing();
  if (console.answersPending && modeInForce != originalMode)
    readAnswers(true);
}

// ===========================================================================
// Signals and the other ends of the program
// ===========================================================================

struct SavedAction {
  bool installed;
  struct sigaction previous;
};

SavedAction savedActions[NSIG];

void unblock(int sig) {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Whether the signal's default action ends the process.
bool isDeadly(int sig) {
  switch (sig) {
  case SIGKILL: // cannot be caught
  case SIGSTOP:
  case SIGTSTP: // these stop, continue or are ignored by default
  case SIGTTIN:
  case SIGTTOU:
  case SIGCONT:
  case SIGCHLD:
  case SIGURG:
  case SIGWINCH:
    return false;
  default:
    return true;
  }
}

// Moves what the terminal has queued into the input buffer, without
// waiting, so that the shell cannot read it while the program is stopped.
void takeTypeAhead(unsigned char *keys, std::size_t &len, std::size_t size) {
  while (len < size) {
    pollfd fd{console.tty, POLLIN, 0};
    if (::poll(&fd, 1, 0) != 1 || (fd.revents & POLLIN) == 0)
      return;
    const ssize_t n = ::read(console.tty, keys + len, size - len);
    if (n <= 0)
      return;
    len += static_cast<std::size_t>(n);
  }
}

// Whether TIOCSTI may put keys into the terminal's queue: Linux can forbid
// it to all but the administrator (dev.tty.legacy_tiocsti = 0).
bool mayTypeKeys() {
  const int fd = ::open("/proc/sys/dev/tty/legacy_tiocsti", O_RDONLY);
  char allowed = '1';
  if (fd >= 0) {
    if (::read(fd, &allowed, 1) != 1)
      allowed = '1';
    ::close(fd);
  }
  return allowed != '0' || ::geteuid() == 0;
}

// At the end every key the program did not read goes back to the terminal
// for the next reader: those the layer holds, and behind them those still
// queued, typed again (TIOCSTI) in the terminal's own mode without echo, so
// that an Enter typed ahead reaches a line-mode reader as a line end.
// Where the system forbids TIOCSTI, the queued keys stay where they are and
// those the layer holds are lost. Async-signal-safe.
void handBackKeys() {
  unsigned char keys[4096];
  std::size_t len = console.inputLen;
  if (!console.haveModes || !mayTypeKeys())
    return;
  std::memcpy(keys, console.input, len);
  console.inputLen = 0;
  takeTypeAhead(keys, len, sizeof keys);
  if (len == 0 || !setMode(handBackMode))
    return;
  for (std::size_t i = 0; i < len; ++i)
    if (::ioctl(console.tty, TIOCSTI, &keys[i]) != 0)
      return;
}

// Every signal that would end the process: give the terminal back, then
// die by the same signal with its default action, so that the parent sees
// it (and a crash keeps its core dump).
void onDeadlySignal(int sig) {
  if (sig != SIGHUP)
    settleAnswers();
  // The keys typed ahead die with the program, as without NOFLSH, instead
  // of reaching the shell.
  if ((sig == SIGINT || sig == SIGQUIT) && modeInForce != originalMode)
    ::tcflush(console.tty, TCIFLUSH);
  else if (sig != SIGHUP && modeInForce != originalMode)
    handBackKeys();
  giveBackTerminal();
  ::signal(sig, SIG_DFL);
  unblock(sig);
  ::raise(sig);
}

bool inForeground() { return ::tcgetpgrp(console.tty) == ::getpgrp(); }

// SIGCONT: on fg, take the layer's mode back and repaint the screen. On bg
// the shell keeps the terminal until a later fg continues the program again.
// Never held back: fg after bg may find readKey in a read that waits.
void onContinue(int) {
  const int savedErrno = errno;
  if (modeToResume != originalMode && inForeground()) {
    setMode(modeToResume);
    modeToResume = originalMode;
    repaint();
  }
  errno = savedErrno;
}

// SIGTSTP (Ctrl+Z): stop with the terminal as the shell expects it.
void onStopSignal(int) {
  const int savedErrno = errno;
  if (console.shadowActive) // the shell goes on below the grid
    console.drawing.cursorAt(1, console.height);
  settleAnswers();
  if (modeInForce != originalMode) {
    takeTypeAhead(console.input, console.inputLen, sizeof console.input);
    modeToResume = modeInForce;
  }
  giveBackTerminal();
  struct sigaction ours;
  ::sigaction(SIGTSTP, nullptr, &ours);
  ::signal(SIGTSTP, SIG_DFL);
  unblock(SIGTSTP);
  ::raise(SIGTSTP); // stops here until SIGCONT
  ::sigaction(SIGTSTP, &ours, nullptr);
  // In an orphaned process group (quib started as a session leader, as by
  // xterm -e) the stop is ignored and no SIGCONT comes.
  onContinue(SIGCONT);
  errno = savedErrno;
}

// SIGWINCH: a terminal may lose or move what was drawn when it is resized.
// The drawing keeps the size read at start.
void onResize(int) {
  const int savedErrno = errno;
  flushDrawing();
  if (modeInForce != originalMode && inForeground())
    repaint();
  errno = savedErrno;
}

void installHandler(int sig, void (*handler)(int)) {
  SavedAction &saved = savedActions[sig];
  saved.installed = false;
  if (::sigaction(sig, nullptr, &saved.previous) != 0 ||
      saved.previous.sa_handler == SIG_IGN) // ignored at start: stays so
    return;
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_handler = handler;
  ours.sa_mask = console.layerSignals;
  // Restoring the mode from the background must not stop the process.
  ::sigaddset(&ours.sa_mask, SIGTTOU);
  ours.sa_flags = SA_RESTART;
  saved.installed = ::sigaction(sig, &ours, nullptr) == 0;
}

void installSignalHandlers() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (isDeadly(sig))
      installHandler(sig, onDeadlySignal);
  installHandler(SIGTSTP, onStopSignal);
  installHandler(SIGCONT, onContinue);
  installHandler(SIGWINCH, onResize);
}

void removeSignalHandlers() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (savedActions[sig].installed) {
      ::sigaction(sig, &savedActions[sig].previous, nullptr);
      savedActions[sig].installed = false;
    }
}

// A failed assertion ends the process with _exit: no atexit handler runs,
// so the terminal is given back here.
void onCheckFailure() {
  settleAnswers();
  if (console.tty >= 0)
    handBackKeys();
  giveBackTerminal();
}

void closeAtExit() { closeConsole(); }

// ===========================================================================
// Standard output in text mode
// ===========================================================================

// The terminal shows text in the locale's encoding: LC_ALL, LC_CTYPE or
// LANG, the first one set, names it after the dot ("de_DE.UTF-8").
bool localeIsUtf8() {
  for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char *locale = std::getenv(name);
    if (locale == nullptr || *locale == '\0')
      continue;
    const char *dot = std::strchr(locale, '.');
    return dot != nullptr && (::strncasecmp(dot + 1, "UTF-8", 5) == 0 ||
                              ::strncasecmp(dot + 1, "utf8", 4) == 0);
  }
  return false;
}

// The cursor moves one column right; at the right edge the text continues
// on the next row. Returns true when it wrapped there.
bool advanceTextCursor() {
  if (console.x < console.width) {
    ++console.x;
    return false;
  }
  console.x = 1;
  downOneRow();
  return true;
}

// Follows the terminal's cursor through standard output text that goes to
// the layer's own terminal, one column per character. Returns true when
// the text filled the last column of a row.
bool followText(unsigned char c) {
  switch (c) {
  case '\n': // goes out as CR LF
    console.x = 1;
    downOneRow();
    return false;
  case '\r':
    console.x = 1;
    return false;
  case '\b':
    if (console.x > 1)
      --console.x;
    return false;
  case '\t': { // the terminal's tab stops every 8 columns; no wrap
    const int next = (console.x - 1) / 8 * 8 + 9;
    console.x = next < console.width ? next : console.width;
    return false;
  }
  default:
    if (c < 0x20 || c == 0x7F) // the bell and the like do not move
      return false;
    keepInShadow(static_cast<char>(c));
    return advanceTextCursor();
  }
}

// One byte of text as the terminal gets it: "\n" as CR LF; a byte above
// 127 as the Latin-1 character it is, in UTF-8 when that is the terminal's
// encoding (C1 controls, 0x80 to 0x9F, have no glyph and show as '?').
std::size_t encodeText(unsigned char c, char *out) {
  std::size_t n = 0;
  if (c == '\n')
    out[n++] = '\r';
  if (c >= 0x80 && console.latin1AsUtf8) {
    if (c < 0xA0)
      out[n++] = '?';
    else {
      out[n++] = static_cast<char>(0xC0 | c >> 6);
      out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    return n;
  }
  out[n++] = static_cast<char>(c);
  return n;
}

// The stream's write function. On the layer's own terminal a row filled to
// its last column also moves the cursor on to the next row at once, as the
// layer's screen model has it; a terminal would otherwise hold the cursor
// in the last column until the next character.
ssize_t writeText(void *, const char *data, std::size_t size) {
  char out[1024];
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (n + 8 > sizeof out) {
      if (!writeAll(1, out, n))
        return -1;
      n = 0;
    }
    const unsigned char c = static_cast<unsigned char>(data[i]);
    n += encodeText(c, out + n);
    if (console.stdoutIsConsole && followText(c)) {
      std::memcpy(out + n, "\r\033D", 3); // IND: down, scrolling at the bottom
      n += 3;
    }
  }
  if (n > 0 && !writeAll(1, out, n))
    return -1;
  return static_cast<ssize_t>(size);
}

FILE *textStream() {
  if (console.text == nullptr) {
    cookie_io_functions_t functions{nullptr, writeText, nullptr, nullptr};
    console.text = ::fopencookie(nullptr, "w", functions);
    if (console.text == nullptr)
      return nullptr;
    if (console.stdoutIsTerminal)
      std::setvbuf(console.text, nullptr, _IONBF, 0);
    else
      std::setvbuf(console.text, console.textBuffer, _IOFBF,
                   sizeof console.textBuffer);
  }
  return console.text;
}

// ===========================================================================
// Opening
// ===========================================================================

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

// Whether fd is the terminal the layer opened: the same device, by
// TIOCGDEV, which also tells the real terminal behind /dev/tty and
// /dev/console (and, unlike the session's number, memory checkers follow).
bool isControllingTerminal(int fd) {
  unsigned int own = 0;
  unsigned int other = 0;
  if (console.tty < 0)
    return false;
  if (::ioctl(console.tty, TIOCGDEV, &own) != 0) // Linux before 3.0
    return ::tcgetsid(fd) == ::getsid(0);
  return ::ioctl(fd, TIOCGDEV, &other) == 0 && other == own;
}

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
  ::sigemptyset(&console.layerSignals);
  ::sigaddset(&console.layerSignals, SIGTSTP);
  ::sigaddset(&console.layerSignals, SIGWINCH);
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
    if (console.x < console.width) {
      ++console.x;
    } else {
      // A terminal holds the cursor in the last column until the next
      // character (deferred wrap); go to the next row now, scrolling at
      // the bottom, so that the cursor is where the layer says.
      out.put("\r\033D");
      console.x = 1;
      downOneRow();
    }
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
  if (!console.stdoutIsTerminal || shape < 0 || shape > 2)
    return;
  if (shapeInForce < 0 && console.answersPending)
    readAnswers(false);
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
