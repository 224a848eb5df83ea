// The terminal's modes and every way the program ends: the layer's modes
// built from the terminal's own, the signal handlers that give the
// terminal back (or stop with it given back, and repaint at fg), the keys
// handed back to the terminal for the next reader, and the failed
// assertion's last words.
#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace quib::terminal {

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

// Puts the terminal back as the user had it: the original mode and, when
// the program changed the cursor, the user's own, from the bytes prepared
// for it. Used by every way out; async-signal-safe, and it neither reads
// nor waits, so a fault may use it too.
void giveBackTerminal() {
  if (modeInForce != originalMode)
    setMode(originalMode);
  if (shapeInForce >= 0)
    writeAll(1, console.cursorBack,
             static_cast<std::size_t>(console.cursorBackLen));
}

// ===========================================================================
// Signals and the other ends of the program
// ===========================================================================

namespace {

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

// Whether the signal means that the program itself is broken: raised by
// the processor or by abort() at the point of the fault, so it cannot wait
// until a layer operation is over.
bool isFault(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL ||
         sig == SIGABRT || sig == SIGTRAP || sig == SIGSYS;
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

} // namespace

// At the end every key the program did not read goes back to the terminal
// for the next reader: those the layer holds, and behind them those still
// queued, typed again (TIOCSTI) in the terminal's own mode without echo, so
// that an Enter typed ahead reaches a line-mode reader as a line end. The
// terminal's answers among them, whole or cut off, are left out: the shell
// would take them for typed input. Where the system forbids TIOCSTI, the
// queued keys stay where they are and those the layer holds are lost.
// Async-signal-safe.
void handBackKeys() {
  unsigned char keys[4096];
  std::size_t len = console.inputLen;
  if (!console.haveModes || !mayTypeKeys())
    return;
  std::memcpy(keys, console.input, len);
  console.inputLen = 0;
  takeTypeAhead(keys, len, sizeof keys);
  len = withoutAnswers(keys, len);
  if (len == 0 || !setMode(handBackMode))
    return;
  for (std::size_t i = 0; i < len; ++i) {
    // TIOCSTI reads one char. qemu-user reads an int there in the
    // program's byte order and gives the kernel its lowest byte, which a
    // big-endian program keeps last: with the key in each byte of an int,
    // both take the key.
    unsigned char key[sizeof(int)];
    std::memset(key, keys[i], sizeof key);
    if (::ioctl(console.tty, TIOCSTI, key) != 0)
      return;
  }
}

namespace {

// Dies by the signal with its default action, so that the parent sees it
// (and a crash keeps its core dump).
void dieBy(int sig) {
  ::signal(sig, SIG_DFL);
  unblock(sig);
  ::raise(sig);
}

// Every signal from outside that would end the process: the whole end,
// then death by the same signal. A hangup (the terminal gone) waits for
// nothing; Ctrl+C and Ctrl+\ drop the keys typed ahead, as without NOFLSH,
// instead of handing them to the shell.
void onDeadlySignal(int sig) {
  if (!endStarted) {
    endStarted = 1;
    if (sig != SIGHUP)
      settleAnswers();
    if ((sig == SIGINT || sig == SIGQUIT) && modeInForce != originalMode)
      ::tcflush(console.tty, TCIFLUSH);
    else if (sig != SIGHUP && modeInForce != originalMode)
      handBackKeys();
    giveBackTerminal();
  }
  dieBy(sig);
}

// A fault: the program is broken, its state may be half changed. Only the
// terminal's modes and the cursor go back, from what was prepared for it.
void onFault(int sig) {
  if (!endStarted) {
    endStarted = 1;
    giveBackTerminal();
  }
  dieBy(sig);
}

bool inForeground() { return ::tcgetpgrp(console.tty) == ::getpgrp(); }

// SIGCONT: on fg, take the layer's mode back and repaint the screen. On bg
// the shell keeps the terminal until a later fg continues the program again.
// Held back like the others: it runs once the operation under way is over,
// or in readKey's wait, which takes the caller's mask.
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

} // namespace

// The signals held during every layer operation and every handler: all
// that may come from outside, whose handlers read, write or end.
void holdLayerSignals(sigset_t &set) {
  ::sigemptyset(&set);
  for (int sig = 1; sig < NSIG; ++sig)
    if (isDeadly(sig) && !isFault(sig))
      ::sigaddset(&set, sig);
  ::sigaddset(&set, SIGTSTP);
  ::sigaddset(&set, SIGCONT);
  ::sigaddset(&set, SIGWINCH);
}

void installSignalHandlers() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (isDeadly(sig))
      installHandler(sig, isFault(sig) ? onFault : onDeadlySignal);
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
// so the terminal is given back here, the short way, as for a fault.
void onCheckFailure() {
  if (!endStarted) {
    endStarted = 1;
    giveBackTerminal();
  }
}

} // namespace quib::terminal
