// Reading the terminal: one byte at a time, so that only the bytes of the
// key returned leave the terminal's queue, decoded by the key decoder
// (keys.h); and the terminal's answers to the question for its cursor
// style, which must never reach the shell.
#include "terminal.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace quib::terminal {
namespace {

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

} // namespace

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
void takeItem(const DecodedKey &item, std::size_t from) {
  const auto n = static_cast<std::size_t>(item.consumed);
  console.inputLen -= n;
  std::memmove(console.input + from, console.input + from + n,
               console.inputLen - from);
  if (item.report == Report::cursorStyle) {
    userStyle = item.style;
    prepareCursorBack();
  }
  if (item.report == Report::deviceAttributes)
    console.answersPending = false;
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
  ::clock_gettime(CLOCK_MONOTONIC, &console.askedAt);
}

namespace {

// Reads the answers to the question up to the device attributes, which
// come last, until answerDeadlineMs after the question; later, a terminal
// that answers nothing is no longer waited for. The signals stay as they
// are held: Ctrl+Z or a deadly signal during the wait acts once it is over.
// Keys found before the answers stay in the input buffer, in front, for
// readKey after fg or for the next reader.
void awaitAnswers() {
  sigset_t mask;
  ::sigprocmask(SIG_BLOCK, nullptr, &mask);
  std::size_t keys = 0;
  while (console.answersPending) {
    const int left = answerDeadlineMs - elapsedMs(console.askedAt);
    if (left <= 0)
      return;
    const DecodedKey item = nextItem(keys, left, quietMode, mask);
    if (item.consumed == 0 || item.count < 0)
      return;
    if (item.count > 0)
      keys += static_cast<std::size_t>(item.consumed);
    else
      takeItem(item, keys);
  }
}

} // namespace

// Before the terminal goes back to the shell, for any reason: what was
// drawn goes out, and so does the question if it still waited there; its
// answers are read, or the shell would take them for typed input.
void settleAnswers() {
  flushDrawing();
  if (console.answersPending && modeInForce != originalMode)
    awaitAnswers();
}

} // namespace quib::terminal
