// The terminal layer's parts and the state they share, for its own sources
// only: console.cpp (the operations and opening the terminal), screen.cpp
// (drawing, the layer's cursor and the screen's shadow), text.cpp
// (standard output's text), input.cpp (reading keys and the terminal's
// answers) and modes.cpp (the terminal's modes, the signals and every other
// way the program ends).
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// screen's width and height.
//
// The signal handlers, where they run and what they touch. Every signal
// that can come from outside is held while a layer operation runs
// (LayerCall) and while a handler runs, so a handler finds the layer idle:
// between operations, or in readKey's wait, which takes the caller's mask.
//
//   handler         signals                      touches
//   onDeadlySignal  TERM HUP INT QUIT ALRM USR1  the whole end: the answers
//                   USR2 PIPE XCPU ... (held)    awaited, the keys handed
//                                                back (INT, QUIT: dropped),
//                                                modes and cursor; then dies
//   onStopSignal    TSTP (held)                  the answers awaited, the
//                                                keys taken in, modes and
//                                                cursor; stops; as onContinue
//   onContinue      CONT (held)                  the layer's mode, repaint
//   onResize        WINCH (held)                 the drawing flushed, repaint
//   onFault         SEGV BUS FPE ILL ABRT TRAP   modes and cursor only, from
//                   SYS (never held), and a      bytes prepared beforehand:
//                   failed check                 no reading, no waiting
//
// The first end to start is the only one: a deadly signal during an end,
// or after it, dies at once.
#pragma once

#include "keys.h"

#include <signal.h>
#include <termios.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace quib::terminal {

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
// How long after the question for its cursor style the terminal's answers
// are awaited when the terminal goes back to the shell; every terminal
// answers the device attributes asked with it, last. Nothing waits for them
// before then: readKey skips them whenever they come. 5 s covers a round
// trip of 3 s (1.5 s each way: a satellite or a crowded mobile link) with
// room for the link's own jitter; it costs a wait only at an end within 5 s
// of the start, on a terminal that never answers.
constexpr int answerDeadlineMs = 5000;

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
  bool answersPending = false; // its last answer has not been read yet
  timespec askedAt{};          // when it went out (CLOCK_MONOTONIC)
  bool shadowActive = false;   // a clear happened, the shadow holds the screen
  char shadow[shadowRows][shadowCols]{};
  // Standard output in text mode.
  FILE *text = nullptr;
  char textBuffer[512]{};
  // The signals whose handlers repaint, read the terminal or end the
  // program; the layer holds them back while it works, so they find it idle.
  sigset_t layerSignals{};
  // What gives the user's cursor back, for the ends that may not build it
  // (a fault); made again whenever the shape or the user's style changes.
  char cursorBack[32]{};
  volatile sig_atomic_t cursorBackLen = 0;
};

// The layer's state, defined in console.cpp.
extern Console console;

// What the signal handlers need to know: the mode in force, the shape the
// program set (-1: it never changed the shape) and the DECSCUSR style that
// gives the user's own cursor back.
extern volatile sig_atomic_t modeInForce;
extern volatile sig_atomic_t shapeInForce;
extern volatile sig_atomic_t userStyle;
// The layer's mode while Ctrl+Z has the program stopped.
extern volatile sig_atomic_t modeToResume;
// An end has started: the terminal goes, or went, back to the shell.
extern volatile sig_atomic_t endStarted;

// Holds the layer's signals back for one operation; the handlers then run
// between operations or while readKey waits, never halfway through one.
struct LayerCall {
  sigset_t before;
  LayerCall() { ::sigprocmask(SIG_BLOCK, &console.layerSignals, &before); }
  ~LayerCall() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
  LayerCall(const LayerCall &) = delete;
  LayerCall &operator=(const LayerCall &) = delete;
};

// console.cpp: whether fd is the terminal the layer opened; by its device
// where the kernel tells it, else by isCallersTerminal (fd is the
// process's controlling terminal).
bool isControllingTerminal(int fd);
bool isCallersTerminal(int fd);

// screen.cpp: drawing.
bool writeAll(int fd, const char *data, std::size_t len);
void flushDrawing();
void putShape(Output &out, int shape);
void prepareCursorBack();
void keepInShadow(char c);
void clearShadow();
void downOneRow();
bool stepCursorRight();
void repaint();

// text.cpp: standard output's text.
bool localeIsUtf8();
std::size_t encodeText(unsigned char c, char *out);
FILE *textStream();

// input.cpp: reading the terminal.
DecodedKey nextItem(std::size_t from, int waitMs, int mode,
                    const sigset_t &callerMask);
void takeItem(const DecodedKey &item, std::size_t from = 0);
void askCursorStyle();
void settleAnswers();

// modes.cpp: the terminal's modes and the ends of the program.
bool setMode(int mode);
bool prepareModes();
void giveBackTerminal();
void handBackKeys();
void holdLayerSignals(sigset_t &set);
void installSignalHandlers();
void removeSignalHandlers();
void onCheckFailure();

} // namespace quib::terminal
