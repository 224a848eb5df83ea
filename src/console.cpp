// The terminal layer for Linux terminals: ECMA-48 / xterm output to the
// controlling terminal, termios modes, the signal and exit paths that give
// the terminal back, and the decoder for the byte sequences terminals send.
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// screen's width and height.
#include "console.h"

#include "check.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quib {
namespace {

// ===========================================================================
// Key decoder
// ===========================================================================

// A key's result in one modifier column: none (the press is skipped), a
// character code 0-255, or a two-code key "0, n" written as ext(n).
constexpr int none = -1;
constexpr int extendedBase = 256;
constexpr int ext(int n) { return extendedBase + n; }

struct KeyRow {
  int plain;
  int shift;
  int ctrl;
  int alt;
};

// Modifier bits as xterm counts them: its parameter m is 1 + these bits.
constexpr int shiftBit = 1;
constexpr int altBit = 2;
constexpr int ctrlBit = 4;
constexpr int metaBit = 8;

int modifiersOf(int param) { return param > 1 ? (param - 1) & 15 : 0; }

// Alt wins over Ctrl, Ctrl over Shift; Meta counts as Alt.
int pick(const KeyRow &row, int mods) {
  if ((mods & (altBit | metaBit)) != 0)
    return row.alt;
  if ((mods & ctrlBit) != 0)
    return row.ctrl;
  if ((mods & shiftBit) != 0)
    return row.shift;
  return row.plain;
}

constexpr KeyRow homeKey{ext(71), ext(71), ext(119), ext(151)};
constexpr KeyRow upKey{ext(72), ext(72), ext(141), ext(152)};
constexpr KeyRow pageUpKey{ext(73), ext(73), ext(132), ext(153)};
constexpr KeyRow leftKey{ext(75), ext(75), ext(115), ext(155)};
constexpr KeyRow rightKey{ext(77), ext(77), ext(116), ext(157)};
constexpr KeyRow endKey{ext(79), ext(79), ext(117), ext(159)};
constexpr KeyRow downKey{ext(80), ext(80), ext(145), ext(160)};
constexpr KeyRow pageDownKey{ext(81), ext(81), ext(118), ext(161)};
constexpr KeyRow insertKey{ext(82), ext(82), ext(146), ext(162)};
constexpr KeyRow deleteKey{ext(83), ext(83), ext(147), ext(163)};
// The keypad's middle key with NumLock off ("begin"): the codes of keypad 5
// with NumLock on and Shift held, which acts the same.
constexpr KeyRow beginKey{ext(76), ext(76), ext(143), none};
constexpr KeyRow tabKey{9, ext(15), ext(148), ext(165)};
constexpr KeyRow enterKey{13, 13, 10, ext(166)};
constexpr KeyRow spaceKey{32, 32, ext(3), 32};

// F1-F12, n counted from 1.
KeyRow functionKey(int n) {
  if (n == 11)
    return {ext(133), ext(135), ext(137), ext(139)};
  if (n == 12)
    return {ext(134), ext(136), ext(138), ext(140)};
  return {ext(58 + n), ext(83 + n), ext(93 + n), ext(103 + n)};
}

// The numeric keypad with NumLock on, as terminals in keypad application
// mode report it (SS3 p-y for the digits).
KeyRow keypadDigit(int d) {
  static constexpr int shifted[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  static constexpr int ctrl[10] = {146, 117, 145, 118, 115,
                                   143, 116, 119, 141, 132};
  return {'0' + d, ext(shifted[d]), ext(ctrl[d]), none};
}

// Set-1 scan codes of the letter keys A-Z on a US keyboard.
constexpr unsigned char letterScanCode[26] = {
    30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// The Alt column of the key that produces the ASCII byte c: what "Esc
// followed by c" means, since terminals send Alt+key as Esc and the key.
int altOf(unsigned char c) {
  if (c >= 'a' && c <= 'z')
    return ext(letterScanCode[c - 'a']);
  if (c >= 'A' && c <= 'Z')
    return ext(letterScanCode[c - 'A']);
  if (c >= '1' && c <= '9')
    return ext(120 + (c - '1'));
  if (c == '0')
    return ext(129);
  // Shift with the digit row gives these; the key is the digit's.
  static constexpr char shiftedDigits[] = ")!@#$%^&*(";
  for (int d = 0; d < 10; ++d)
    if (c == static_cast<unsigned char>(shiftedDigits[d]))
      return ext(d == 0 ? 129 : 119 + d);
  // The eleven punctuation keys, each with its plain and shifted character.
  static constexpr struct {
    char plain;
    char shifted;
    int code;
  } punctuation[] = {{'\\', '|', 43}, {'/', '?', 53}, {'[', '{', 26},
                     {']', '}', 27},  {';', ':', 39}, {'\'', '"', 40},
                     {',', '<', 51},  {'.', '>', 52}, {'`', '~', 41},
                     {'-', '_', 130}, {'=', '+', 131}};
  for (const auto &key : punctuation)
    if (c == static_cast<unsigned char>(key.plain) ||
        c == static_cast<unsigned char>(key.shifted))
      return ext(key.code);
  switch (c) {
  case ' ':
  case 0: // Ctrl+Space
    return spaceKey.alt;
  case 8: // Backspace, whichever byte the terminal sends for it
  case 127:
    return ext(14);
  case 9:
    return tabKey.alt;
  case 10:
  case 13:
    return enterKey.alt;
  case 27:
    return ext(1);
  case 28: // Ctrl+\ .
    return ext(43);
  case 29: // Ctrl+]
    return ext(27);
  case 30: // Ctrl+6
    return ext(125);
  case 31: // Ctrl+-
    return ext(130);
  default:
    break;
  }
  if (c >= 1 && c <= 26) // Ctrl+letter
    return ext(letterScanCode[c - 1]);
  return none;
}

// A byte on its own: the key that sends it.
int plainByte(unsigned char c) {
  if (c == 0) // Ctrl+Space and Ctrl+2 send NUL
    return ext(3);
  if (c == 127) // most terminals send DEL for Backspace, some BS
    return 8;
  return c;
}

DecodedKey result(std::size_t used, int value) {
  DecodedKey key{static_cast<int>(used), 0, {-1, -1}};
  if (value >= extendedBase) {
    key.count = 2;
    key.codes[0] = 0;
    key.codes[1] = value - extendedBase;
  } else if (value >= 0) {
    key.count = 1;
    key.codes[0] = value;
  }
  return key;
}

DecodedKey incomplete() { return DecodedKey{0, 0, {-1, -1}}; }

// One UTF-8 character at b[0] (a byte >= 0x80). used 0: incomplete. A byte
// that cannot start a character, or a character cut short, is one '?'.
struct Utf8Char {
  std::size_t used;
  int value;
};

Utf8Char utf8Char(const unsigned char *b, std::size_t len, bool final) {
  const unsigned char lead = b[0];
  std::size_t need = 0;
  unsigned codePoint = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    codePoint = lead & 0x0Fu;
    // Excludes overlong forms and the UTF-16 surrogates.
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    codePoint = lead & 0x07u;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return {1, '?'};
  }
  for (std::size_t i = 1; i <= need; ++i) {
    if (i == len)
      return final ? Utf8Char{i, '?'} : Utf8Char{0, 0};
    if (b[i] < low || b[i] > high)
      return {i, '?'};
    low = 0x80;
    high = 0xBF;
    codePoint = codePoint << 6 | (b[i] & 0x3Fu);
  }
  // The Latin-1 letters keep their code; every other character is one
  // '?', which the editor does not act on.
  const int value = codePoint >= 0xA0 && codePoint <= 0xFF
                        ? static_cast<int>(codePoint)
                        : '?';
  return {need + 1, value};
}

// The parameters of a CSI or SS3 sequence: up to four numbers separated by
// ';'. odd marks anything else (private marks, ':' sub-parameters, too many
// numbers): such a sequence is not a key.
struct Params {
  int value[4];
  int count;
  bool odd;
};

std::size_t parseParams(const unsigned char *b, std::size_t len, std::size_t i,
                        Params &p) {
  p = Params{{0, 0, 0, 0}, 0, false};
  for (; i < len && b[i] >= 0x30 && b[i] <= 0x3F; ++i) {
    const unsigned char c = b[i];
    if (p.count == 0)
      p.count = 1;
    if (c >= '0' && c <= '9') {
      int &v = p.value[p.count - 1];
      if (v < 10000)
        v = v * 10 + (c - '0');
    } else if (c == ';' && p.count < 4) {
      ++p.count;
    } else {
      p.odd = true;
    }
  }
  return i;
}

// CSI n ~ and the urxvt forms CSI n $, CSI n ^, CSI n @.
int tildeKey(int n, int mods) {
  switch (n) {
  case 1: // VT220 Find, sent for Home by the Linux console and screen
  case 7: // urxvt
    return pick(homeKey, mods);
  case 2:
    return pick(insertKey, mods);
  case 3:
    return pick(deleteKey, mods);
  case 4: // VT220 Select, sent for End like 1 for Home
  case 8: // urxvt
    return pick(endKey, mods);
  case 5:
    return pick(pageUpKey, mods);
  case 6:
    return pick(pageDownKey, mods);
  case 11:
  case 12:
  case 13:
  case 14:
  case 15:
    return pick(functionKey(n - 10), mods);
  case 17:
  case 18:
  case 19:
  case 20:
  case 21:
    return pick(functionKey(n - 11), mods);
  case 23:
  case 24:
    return pick(functionKey(n - 12), mods);
  // urxvt and the VT220 numbering send Shift+F3 to Shift+F10 as the keys
  // after F12 (Shift+F1 and Shift+F2 coincide with F11 and F12 there).
  case 25:
  case 26:
    return pick(functionKey(n - 22), mods | shiftBit);
  case 28:
  case 29:
    return pick(functionKey(n - 23), mods | shiftBit);
  case 31:
  case 32:
  case 33:
  case 34:
    return pick(functionKey(n - 24), mods | shiftBit);
  default:
    return none;
  }
}

// The finals that CSI and SS3 share: cursor keys, Home, End, begin, F1-F4.
bool cursorOrFunction(unsigned char f, int mods, int &value) {
  switch (f) {
  case 'A':
    value = pick(upKey, mods);
    return true;
  case 'B':
    value = pick(downKey, mods);
    return true;
  case 'C':
    value = pick(rightKey, mods);
    return true;
  case 'D':
    value = pick(leftKey, mods);
    return true;
  case 'H':
    value = pick(homeKey, mods);
    return true;
  case 'F':
    value = pick(endKey, mods);
    return true;
  case 'E':
    value = pick(beginKey, mods);
    return true;
  case 'P':
  case 'Q':
  case 'R':
  case 'S':
    value = pick(functionKey(f - 'P' + 1), mods);
    return true;
  default:
    return false;
  }
}

// urxvt's arrows with a modifier: lower-case finals a-d for Up, Down,
// Right, Left.
int lowerArrow(unsigned char f, int mods) {
  static const KeyRow *const arrows[4] = {&upKey, &downKey, &rightKey,
                                          &leftKey};
  return pick(*arrows[f - 'a'], mods);
}

int csiKey(unsigned char f, const Params &p, int mods) {
  const int first = p.count >= 1 ? p.value[0] : 0;
  const int all = mods | (p.count >= 2 ? modifiersOf(p.value[1]) : 0);
  int value = none;
  if (cursorOrFunction(f, all, value))
    return value;
  switch (f) {
  case 'G': // the Linux console's keypad 5
    return pick(beginKey, all);
  case 'Z': // back tab: Shift+Tab
    return pick(tabKey, all | shiftBit);
  case 'a':
  case 'b':
  case 'c':
  case 'd':
    return lowerArrow(f, all | shiftBit);
  case '~':
    return tildeKey(first, all);
  case '$':
    return tildeKey(first, mods | shiftBit);
  case '^':
    return tildeKey(first, mods | ctrlBit);
  case '@':
    return tildeKey(first, mods | ctrlBit | shiftBit);
  default: // focus reports CSI I and CSI O among others
    return none;
  }
}

int ss3Key(unsigned char f, const Params &p, int mods) {
  const int all = mods | (p.count >= 1 ? modifiersOf(p.value[p.count - 1]) : 0);
  int value = none;
  if (cursorOrFunction(f, all, value))
    return value;
  if (f >= 'p' && f <= 'y')
    return pick(keypadDigit(f - 'p'), all);
  if (f >= 'a' && f <= 'd') // urxvt's Ctrl+arrows
    return lowerArrow(f, all | ctrlBit);
  switch (f) {
  case 'j':
    return pick(KeyRow{'*', '*', ext(150), ext(55)}, all);
  case 'k':
    return pick(KeyRow{'+', '+', ext(144), ext(78)}, all);
  case 'm':
    return pick(KeyRow{'-', '-', ext(142), ext(74)}, all);
  case 'n':
    return pick(KeyRow{'.', '.', ext(83), ext(147)}, all);
  case 'l': // the decimal key on a keyboard with a decimal comma
    return pick(KeyRow{',', ',', ext(83), ext(147)}, all);
  case 'o':
    return pick(KeyRow{'/', '/', ext(149), ext(164)}, all);
  case 'M':
    return pick(enterKey, all);
  case 'X':
    return pick(KeyRow{'=', '+', none, ext(131)}, all);
  case 'I':
    return pick(tabKey, all);
  case ' ':
    return pick(spaceKey, all);
  default:
    return none;
  }
}

// CSI (Esc [) and SS3 (Esc O) sequences; b[0] is the Esc. mods holds Alt
// when a further Esc came before (urxvt's Alt+key).
DecodedKey decodeSequence(const unsigned char *b, std::size_t len, bool final,
                          int mods) {
  const bool csi = b[1] == '[';
  // Esc [ or Esc O on its own is Alt with that key.
  const int fallback = altOf(b[1]);
  if (len == 2)
    return final ? result(2, fallback) : incomplete();
  if (csi && b[2] == '[') { // the Linux console's F1-F5: CSI [ A to CSI [ E
    if (len == 3)
      return final ? result(3, none) : incomplete();
    const unsigned char f = b[3];
    if (f >= 'A' && f <= 'E')
      return result(4, pick(functionKey(f - 'A' + 1), mods));
    return result(f >= 0x20 && f <= 0x7E ? 4 : 3, none);
  }
  Params p;
  std::size_t i = parseParams(b, len, 2, p);
  const std::size_t paramEnd = i;
  if (csi) {
    // Intermediate bytes, and parameter bytes out of place after them: a
    // malformed sequence still runs to its final byte, as a terminal's own
    // parser reads it, so that none of its bytes arrive as keys. A '$'
    // right after the numbers is urxvt's final for Shift, not an
    // intermediate.
    while (i < len && b[i] >= 0x20 && b[i] <= 0x3F &&
           !(b[i] == '$' && i == paramEnd && !p.odd))
      ++i;
  }
  if (i == len) // cut off: skipped whole once no more bytes come
    return final ? result(len, none) : incomplete();
  const unsigned char f = b[i];
  const bool isFinal =
      csi ? (f >= 0x40 && f <= 0x7E) || (f == '$' && i == paramEnd)
          : f >= 0x20 && f <= 0x7E;
  if (!isFinal) {
    // A control byte or another Esc breaks the sequence off. Right after
    // the introducer it was no sequence but Alt with [ or O.
    if (i == 2)
      return result(2, fallback);
    return result(i, none);
  }
  const std::size_t used = i + 1;
  if (p.odd || i != paramEnd)
    return result(used, none);
  if (csi && f == 'M' && p.count == 0) {
    // An X10 mouse report carries three raw bytes after CSI M.
    if (len < used + 3)
      return final ? result(len, none) : incomplete();
    return result(used + 3, none);
  }
  return result(used, csi ? csiKey(f, p, mods) : ss3Key(f, p, mods));
}

// OSC, DCS, APC, PM and SOS strings, ended by ST (Esc \) or, for OSC, BEL.
DecodedKey decodeString(const unsigned char *b, std::size_t len, bool final) {
  for (std::size_t i = 2; i < len; ++i) {
    if (b[i] == 0x07)
      return result(i + 1, none);
    if (b[i] == 0x1B) {
      if (i + 1 == len)
        break;
      return result(b[i + 1] == '\\' ? i + 2 : i, none);
    }
  }
  if (!final)
    return incomplete();
  // No more bytes: the introducer alone was Alt with that key.
  return len == 2 ? result(2, altOf(b[1])) : result(len, none);
}

DecodedKey decodeEscape(const unsigned char *b, std::size_t len, bool final) {
  if (len == 1) // a lone Esc is Esc once the short wait has passed
    return final ? result(1, 27) : incomplete();
  const unsigned char c = b[1];
  switch (c) {
  case '[':
  case 'O':
    return decodeSequence(b, len, final, 0);
  case ']':
  case 'P':
  case '_':
  case '^':
  case 'X':
    return decodeString(b, len, final);
  case 0x1B:
    // urxvt sends Alt with a cursor or function key as Esc and the key's
    // own sequence; Esc Esc on its own is Alt+Esc.
    if (len == 2)
      return final ? result(2, altOf(c)) : incomplete();
    if (b[2] == '[' || b[2] == 'O') {
      if (len == 3 && !final)
        return incomplete();
      if (len > 3) {
        DecodedKey key = decodeSequence(b + 1, len - 1, final, altBit);
        if (key.consumed > 0)
          ++key.consumed;
        return key;
      }
    }
    return result(2, altOf(c));
  default:
    break;
  }
  if (c >= 0x80) { // Alt with a character outside ASCII: the character
    const Utf8Char ch = utf8Char(b + 1, len - 1, final);
    return ch.used == 0 ? incomplete() : result(ch.used + 1, ch.value);
  }
  return result(2, altOf(c));
}

} // namespace

DecodedKey decodeKey(const unsigned char *bytes, std::size_t len, bool final) {
  QUIB_CHECK(bytes != nullptr && len >= 1);
  const unsigned char c = bytes[0];
  if (c == 0x1B)
    return decodeEscape(bytes, len, final);
  if (c >= 0x80) {
    const Utf8Char ch = utf8Char(bytes, len, final);
    return ch.used == 0 ? incomplete() : result(ch.used, ch.value);
  }
  return result(1, plainByte(c));
}

namespace {

// ===========================================================================
// Process-wide state
// ===========================================================================

// Which of the layer's terminal modes is in force.
enum TerminalMode : int {
  originalMode = 0, // the terminal's own, as found
  quietMode = 1,    // between readKey calls: no echo, no line editing
  rawMode = 2,      // while readKey waits: additionally no signals etc.
};

// How long the rest of an escape sequence may take to arrive after its
// first bytes; a lone Esc is Esc after this wait.
constexpr int escapeWaitMs = 40;

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
  bool linuxConsole = false;     // TERM linux*: no DECSCUSR
  bool haveModes = false;
  termios original{};
  termios quiet{};
  termios raw{};
  // Bytes the terminal sent that are not decoded yet (type-ahead).
  unsigned char input[512]{};
  std::size_t inputLen = 0;
  // Drawing waiting to go out in one write.
  char drawing[4096]{};
  std::size_t drawingLen = 0;
  // Standard output in text mode.
  FILE *text = nullptr;
  char textBuffer[512]{};
  // Continuation bytes still expected for the UTF-8 character that
  // standard output text is in the middle of (cursor keeping only).
  int textContinuations = 0;
};

// constinit: the layer is opened from a static constructor in another
// source, which may run before this file's dynamic initialisers would.
constinit Console console;

// What the signal handlers need to know, written only with the handlers'
// view in mind: the mode in force and whether the layer hid the cursor.
volatile sig_atomic_t modeInForce = originalMode;
volatile sig_atomic_t cursorHidden = 0;

constexpr char showCursorSequence[] = "\033[?25h";
constexpr char hideCursorSequence[] = "\033[?25l";

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

void flushDrawing() {
  const std::size_t len = console.drawingLen;
  console.drawingLen = 0;
  if (len > 0 && console.tty >= 0)
    writeAll(console.tty, console.drawing, len);
}

bool setMode(int mode) {
  const termios *settings = mode == rawMode     ? &console.raw
                            : mode == quietMode ? &console.quiet
                                                : &console.original;
  // TCSANOW: the other actions would wait for output or, worse, discard
  // keys typed ahead.
  while (::tcsetattr(console.tty, TCSANOW, settings) != 0)
    if (errno != EINTR)
      return false;
  modeInForce = mode;
  return true;
}

// Puts the terminal back as the program found it: the original mode and,
// when the layer hid it, a visible cursor. Used on the way out.
void giveBackTerminal(bool showCursor) {
  if (modeInForce != originalMode)
    setMode(originalMode);
  if (showCursor && cursorHidden != 0)
    writeAll(1, showCursorSequence, sizeof showCursorSequence - 1);
}

// ===========================================================================
// Signals and the other ends of the program
// ===========================================================================

// SIGPIPE too: standard output may go to a pipe whose reader has gone,
// and the last write of buffered text happens at the very end.
constexpr int fatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr int fatalCount = sizeof fatalSignals / sizeof fatalSignals[0];

struct SavedAction {
  bool installed;
  struct sigaction previous;
};

SavedAction fatalSaved[fatalCount];
SavedAction stopSaved;
struct sigaction stopAction;

void unblock(int sig) {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Moves what the terminal has queued into the input buffer, without
// waiting, so that the shell cannot read it while the program is stopped.
void takeTypeAhead() {
  while (console.inputLen < sizeof console.input) {
    pollfd fd{console.tty, POLLIN, 0};
    if (::poll(&fd, 1, 0) != 1 || (fd.revents & POLLIN) == 0)
      return;
    const ssize_t n = ::read(console.tty, console.input + console.inputLen,
                             sizeof console.input - console.inputLen);
    if (n <= 0)
      return;
    console.inputLen += static_cast<std::size_t>(n);
  }
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE: give the terminal back, then
// die by the same signal with its default action, so that the parent sees
// the signal.
void onFatalSignal(int sig) {
  flushDrawing();
  // The keys typed ahead die with the program, as without NOFLSH, instead
  // of reaching the shell.
  if ((sig == SIGINT || sig == SIGQUIT) && modeInForce != originalMode)
    ::tcflush(console.tty, TCIFLUSH);
  giveBackTerminal(true);
  ::signal(sig, SIG_DFL);
  unblock(sig);
  ::raise(sig);
}

// SIGTSTP (Ctrl+Z between readKey calls): stop with the terminal as the
// shell expects it, and take the layer's mode back on continuing.
void onStopSignal(int) {
  const int savedErrno = errno;
  const int mode = modeInForce;
  // readKey holds this signal back while it runs, so the input buffer is
  // not in use here. The drawing is not flushed: the handler may have
  // interrupted an append, and readKey flushes before it waits anyway.
  if (mode == quietMode)
    takeTypeAhead();
  giveBackTerminal(true);
  ::signal(SIGTSTP, SIG_DFL);
  unblock(SIGTSTP);
  ::raise(SIGTSTP); // stops here until SIGCONT
  ::sigaction(SIGTSTP, &stopAction, nullptr);
  // Continued in the background (bg), the shell owns the terminal: the
  // mode is taken back at the next readKey, which waits until fg.
  if (mode != originalMode && ::tcgetpgrp(console.tty) == ::getpgrp())
    setMode(mode);
  if (cursorHidden != 0)
    writeAll(1, hideCursorSequence, sizeof hideCursorSequence - 1);
  errno = savedErrno;
}

void installHandler(int sig, void (*handler)(int), SavedAction &saved,
                    struct sigaction *action) {
  saved.installed = false;
  if (::sigaction(sig, nullptr, &saved.previous) != 0)
    return;
  // A signal the program was started with ignored stays ignored.
  if (saved.previous.sa_handler == SIG_IGN)
    return;
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_handler = handler;
  ::sigemptyset(&ours.sa_mask);
  // Restoring the mode from the background must not stop the process.
  ::sigaddset(&ours.sa_mask, SIGTTOU);
  ours.sa_flags = SA_RESTART;
  if (action != nullptr)
    *action = ours;
  saved.installed = ::sigaction(sig, &ours, nullptr) == 0;
}

void installSignalHandlers() {
  for (int i = 0; i < fatalCount; ++i)
    installHandler(fatalSignals[i], onFatalSignal, fatalSaved[i], nullptr);
  installHandler(SIGTSTP, onStopSignal, stopSaved, &stopAction);
}

void removeSignalHandlers() {
  for (int i = 0; i < fatalCount; ++i)
    if (fatalSaved[i].installed)
      ::sigaction(fatalSignals[i], &fatalSaved[i].previous, nullptr);
  if (stopSaved.installed)
    ::sigaction(SIGTSTP, &stopSaved.previous, nullptr);
  for (auto &saved : fatalSaved)
    saved.installed = false;
  stopSaved.installed = false;
}

// A failed assertion ends the process with _exit: no atexit handler runs,
// so the terminal is given back here.
void onCheckFailure() {
  flushDrawing();
  giveBackTerminal(true);
}

void closeAtExit() { closeConsole(); }

// ===========================================================================
// Standard output in text mode
// ===========================================================================

// The cursor moves one column right; at the right edge the text continues
// on the next row. Returns true when it wrapped there.
bool advanceTextCursor() {
  if (console.x < console.width) {
    ++console.x;
    return false;
  }
  console.x = 1;
  if (console.y < console.height)
    ++console.y;
  return true;
}

// Follows the terminal's cursor through standard output text that goes to
// the layer's own terminal. Returns true when the text filled the last
// column of a row.
bool followText(unsigned char c) {
  if (c >= 0x80 && c < 0xC0 && console.textContinuations > 0) {
    // The character is shown when its last byte arrives.
    return --console.textContinuations == 0 && advanceTextCursor();
  }
  if (console.textContinuations > 0) {
    // A character cut short shows as one replacement glyph.
    console.textContinuations = 0;
    if (advanceTextCursor())
      return true; // unusual enough to leave the new byte untracked
  }
  switch (c) {
  case '\n': // goes out as CR LF
    console.x = 1;
    if (console.y < console.height)
      ++console.y;
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
    break;
  }
  if (c < 0x20 || c == 0x7F) // the bell and the like do not move
    return false;
  if (c >= 0xC2 && c <= 0xF4) {
    console.textContinuations = c <= 0xDF ? 1 : c <= 0xEF ? 2 : 3;
    return false;
  }
  return advanceTextCursor(); // ASCII, or a lone byte above 127
}

// The stream's write function: "\n" goes out as CR LF. On the layer's own
// terminal a row filled to its last column also moves the cursor on to the
// next row at once, as the layer's screen model has it; a terminal would
// otherwise hold the cursor in the last column until the next character.
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
    if (c == '\n')
      out[n++] = '\r';
    out[n++] = static_cast<char>(c);
    if (console.stdoutIsConsole && followText(c)) {
      out[n++] = '\r';
      out[n++] = '\033'; // IND: down one row, scrolling at the bottom
      out[n++] = 'D';
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
// Drawing
// ===========================================================================

void append(const char *data, std::size_t len) {
  if (console.drawingLen + len > sizeof console.drawing)
    flushDrawing();
  std::memcpy(console.drawing + console.drawingLen, data, len);
  console.drawingLen += len;
}

void appendByte(char c) { append(&c, 1); }

void appendNumber(int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0)
    appendByte(digits[--n]);
}

// CUP: CSI row ; column H.
void appendCursorPosition(int x, int y) {
  append("\033[", 2);
  appendNumber(y);
  appendByte(';');
  appendNumber(x);
  appendByte('H');
}

// Down one row keeping the column, scrolling at the bottom row. IND and not
// LF: with the usual output processing (ONLCR) LF would also go to column 1.
void lineFeed() {
  append("\033D", 2);
  if (console.y < console.height)
    ++console.y;
}

// ===========================================================================
// Keyboard
// ===========================================================================

bool prepareModes() {
  if (console.haveModes)
    return true;
  termios t;
  if (::tcgetattr(console.tty, &t) != 0)
    return false;
  console.original = t;
  // Between calls: no echo and no line editing, so that keys typed ahead
  // stay queued as typed; no input translation either, since the line
  // discipline translates a key when it arrives, not when it is read
  // (Enter would otherwise come back as line feed). Ctrl+C and Ctrl+Z keep
  // their signals.
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | ISTRIP);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  // NOFLSH: Ctrl+Z must not discard the keys typed ahead; they are taken
  // into the input buffer before the program stops (onStopSignal), and
  // Ctrl+C and Ctrl+\ discard them themselves (onFatalSignal).
  t.c_lflag |= NOFLSH;
  console.quiet = t;
  // While readKey waits: also no signals and no flow control, so that
  // Ctrl+C, Ctrl+Z, Ctrl+S and Ctrl+Q arrive as keys.
  t.c_lflag &= ~static_cast<tcflag_t>(ISIG);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON);
  console.raw = t;
  console.haveModes = true;
  return true;
}

int elapsedMs(const timespec &since) {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int>((now.tv_sec - since.tv_sec) * 1000 +
                          (now.tv_nsec - since.tv_nsec) / 1000000);
}

// Reads what the terminal has sent into the input buffer, waiting at most
// timeoutMs (-1: as long as it takes). Returns 1 when bytes came, 0 when
// the time ran out, -1 when the terminal cannot be read (hangup).
int receive(int timeoutMs) {
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      wait = timeoutMs - elapsedMs(start);
      if (wait < 0)
        wait = 0;
    }
    pollfd fd{console.tty, POLLIN, 0};
    const int ready = ::poll(&fd, 1, wait);
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready < 0)
      return -1;
    if (ready == 0)
      return 0;
    const ssize_t n = ::read(console.tty, console.input + console.inputLen,
                             sizeof console.input - console.inputLen);
    if (n > 0) {
      console.inputLen += static_cast<std::size_t>(n);
      return 1;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    return -1;
  }
}

void dropInput(std::size_t n) {
  console.inputLen -= n;
  std::memmove(console.input, console.input + n, console.inputLen);
}

// Decodes the next key from the input buffer, reading from the terminal as
// needed; the terminal is in raw mode from the first read on (raw tells).
// Returns the decoded key, or count -1 when the terminal cannot be read.
DecodedKey nextKey(bool &raw) {
  for (;;) {
    if (console.inputLen > 0) {
      // A full buffer cannot wait for more.
      const bool full = console.inputLen == sizeof console.input;
      DecodedKey key = decodeKey(console.input, console.inputLen, full);
      if (key.consumed == 0) {
        if (!raw) {
          if (!setMode(rawMode))
            return DecodedKey{0, -1, {-1, -1}};
          raw = true;
        }
        if (receive(escapeWaitMs) > 0)
          continue;
        key = decodeKey(console.input, console.inputLen, true);
      }
      dropInput(static_cast<std::size_t>(key.consumed));
      if (key.count > 0)
        return key;
      continue;
    }
    if (!raw) {
      if (!setMode(rawMode))
        return DecodedKey{0, -1, {-1, -1}};
      raw = true;
    }
    if (receive(-1) < 0)
      return DecodedKey{0, -1, {-1, -1}};
  }
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
  console.tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (console.tty >= 0 && console.tty <= 2) {
    // A standard stream was closed at start; the terminal must not take
    // its place, or standard output would land on it.
    const int moved = ::fcntl(console.tty, F_DUPFD_CLOEXEC, 3);
    ::close(console.tty);
    console.tty = moved;
  }
  console.width = 80;
  console.height = 24;
  winsize size;
  if (console.tty >= 0 && ::ioctl(console.tty, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0 && size.ws_row > 0) {
    console.width = size.ws_col;
    console.height = size.ws_row;
  }
  // /dev/tty is a device of its own, so its descriptor cannot be compared
  // with fd 1; a terminal's session is this process's own only when it is
  // the controlling terminal.
  console.stdoutIsConsole = console.tty >= 0 && ::tcgetsid(1) == ::getsid(0);
  console.stdoutIsTerminal = ::isatty(1) != 0;
  const char *term = std::getenv("TERM");
  console.linuxConsole = term != nullptr && std::strncmp(term, "linux", 5) == 0;
  textStream();
  setCheckFailureHook(onCheckFailure);
  if (console.tty >= 0 || console.stdoutIsTerminal)
    installSignalHandlers();
  static bool atExitRegistered = false;
  if (!atExitRegistered)
    atExitRegistered = std::atexit(closeAtExit) == 0;
}

void closeConsole() {
  if (!console.open)
    return;
  flushDrawing();
  // The terminal first: writing out buffered text may meet a pipe whose
  // reader has gone, and SIGPIPE then ends the program.
  if (console.tty >= 0)
    giveBackTerminal(false);
  if (console.text != nullptr)
    std::fflush(console.text);
  removeSignalHandlers();
  setCheckFailureHook(nullptr);
  if (console.tty >= 0)
    ::close(console.tty);
  console.tty = -1;
  console.haveModes = false;
  console.inputLen = 0;
  console.open = false;
}

void clearScreen() {
  if (console.tty < 0)
    return;
  append("\033[H\033[2J", 7);
  console.x = 1;
  console.y = 1;
}

void moveCursor(int x, int y) {
  if (console.tty < 0 || x < 1 || x > console.width || y < 1 ||
      y > console.height)
    return;
  appendCursorPosition(x, y);
  console.x = x;
  console.y = y;
}

int putChar(int c) {
  const unsigned char b = static_cast<unsigned char>(c & 0xFF);
  if (console.tty < 0)
    return b;
  switch (b) {
  case 7: // no tone generator: the terminal's bell
    appendByte('\a');
    break;
  case 8: // left without erasing
    if (console.x > 1) {
      appendByte('\b');
      --console.x;
    }
    break;
  case 10:
    lineFeed();
    break;
  case 13:
    appendByte('\r');
    console.x = 1;
    break;
  default:
    // Other control bytes and bytes above 127 would not take exactly one
    // cell on a terminal; a '?' keeps the cursor where the layer thinks.
    appendByte(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?');
    if (console.x < console.width) {
      ++console.x;
    } else {
      // A terminal holds the cursor in the last column until the next
      // character (deferred wrap); go to the next row now, scrolling at
      // the bottom, so that the cursor is where the layer says.
      appendByte('\r');
      console.x = 1;
      lineFeed();
    }
    break;
  }
  return b;
}

int readKey() {
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
  // Ctrl+Z cannot come from the keyboard while readKey waits, but a SIGTSTP
  // sent otherwise waits until the input buffer is consistent again.
  sigset_t stop, previous;
  ::sigemptyset(&stop);
  ::sigaddset(&stop, SIGTSTP);
  ::sigprocmask(SIG_BLOCK, &stop, &previous);
  bool raw = false;
  const DecodedKey key = nextKey(raw);
  const bool quiet = !raw || setMode(quietMode);
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (!quiet)
    return -1;
  if (key.count < 0)
    return -1;
  if (key.count == 2)
    console.pendingKeyCode = key.codes[1];
  return key.codes[0];
}

void setCursorShape(int shape) {
  if (!console.stdoutIsTerminal || shape < 0 || shape > 2)
    return;
  // DECTCEM shows and hides; DECSCUSR 2 is a steady block and 0 the
  // terminal's default. The Linux console has no DECSCUSR but its own
  // cursor sizes, CSI ? 8 c (full block) and CSI ? 0 c (default).
  static constexpr const char *shapes[2][3] = {
      {hideCursorSequence, "\033[?25h\033[2 q", "\033[?25h\033[0 q"},
      {hideCursorSequence, "\033[?25h\033[?8c", "\033[?25h\033[?0c"}};
  const char *sequence = shapes[console.linuxConsole ? 1 : 0][shape];
  flushDrawing();
  if (console.text != nullptr)
    std::fflush(console.text);
  if (writeAll(1, sequence, std::strlen(sequence)))
    cursorHidden = shape == 0 ? 1 : 0;
}

void ringBell() {
  flushDrawing();
  if (FILE *text = textStream())
    std::fputc('\a', text);
}

int printText(const char *format, ...) {
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
