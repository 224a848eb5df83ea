// The terminal layer's parts and the state they share, for its own sources
// only: console.cpp (the operations and opening the terminal), screen.cpp
// (drawing, the screen's shadow and standard output's text), input.cpp
// (reading keys and the terminal's answers) and modes.cpp (the terminal's
// modes, the signals and every other way the program ends).
//
// Units: x is a column and y a row, both counted from 1; W and H are the
// screen's width and height.
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

// screen.cpp: drawing and text.
void flushDrawing();
void putShape(Output &out, int shape);
void putUserCursor(Output &out);
void keepInShadow(char c);
void clearShadow();
void downOneRow();
void repaint();
bool localeIsUtf8();
FILE *textStream();

// input.cpp: reading the terminal.
DecodedKey nextItem(std::size_t from, int waitMs, int mode,
                    const sigset_t &callerMask);
void takeItem(const DecodedKey &item, std::size_t from = 0);
void askCursorStyle();
void readAnswers(bool pastKeys);
void settleAnswers();

// modes.cpp: the terminal's modes and the ends of the program.
bool setMode(int mode);
bool prepareModes();
void giveBackTerminal();
void handBackKeys();
void installSignalHandlers();
void removeSignalHandlers();
void onCheckFailure();

} // namespace quib::terminal
