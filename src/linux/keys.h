// The key decoder: what the bytes a terminal sends for its keys mean, as the
// PC keyboard's codes. A pure function over bytes, with no I/O.
//
// decodeKey(bytes, len, final) looks at bytes[0..len), the bytes received
// and not yet decoded (asserted: "bytes != nullptr && len >= 1"). final
// tells that no further byte arrived within the short wait after the last
// one, so an incomplete sequence must be decided now. The result:
// - consumed 0: incomplete, wait for more bytes (only when final is false);
// - count 1: one code in codes[0], never 0;
// - count 2: a two-code key, codes[0] 0 and codes[1] its extended code;
// - count 0 with consumed > 0: no key, skipped whole; report then tells
//   whether it was one of the terminal's answers the layer asks for.
// Codes the count does not cover are -1. The decoder decides as soon as it
// can, so bytes fed one at a time give the same keys as a whole burst.
//
// What the bytes mean:
// - A byte on its own is its own code, except DEL (Backspace, 8 like BS)
//   and NUL (Ctrl+Space, Ctrl+2: 0, 3). Enter gives 13, line feed
//   (Ctrl+Enter, Ctrl+J) 10, Ctrl+A to Ctrl+Z 1 to 26.
// - CSI and SS3 sequences of the cursor, editing, keypad and function keys
//   in the forms of xterm, VTE, kitty, urxvt, st, the Linux console, tmux
//   and screen give the two-code results of the PC keyboard; xterm's
//   modifier parameter (CSI 1;m X, CSI n;m ~) and urxvt's finals $ ^ @
//   choose the Shift, Ctrl or Alt column (Alt before Ctrl before Shift).
// - xterm's form for other modified keys, CSI 27 ; m ; c ~, and kitty's,
//   CSI c ; m u, are the key that types the character c, in the column
//   the modifiers m choose (Alt+Return 0, 166; Ctrl+Tab 0, 148); a Latin-1
//   letter stays itself, whatever the modifiers, as when typed.
// - Esc followed by a key is Alt with that key (Alt+Q 0, 16; Esc Esc 0, 1).
//   Esc P, ], _, ^ and X start a terminal's answer string only when the
//   string's terminator arrives with it; otherwise they are Alt+P and so on.
// - A UTF-8 character is one code: its Latin-1 code for U+00A0 to U+00FF,
//   '?' for every other; each byte that is not valid UTF-8 is one '?'.
// - Sequences that are no key (focus reports, unknown finals, strings) are
//   skipped whole. Two answers are reported: DECRQSS's for the cursor
//   style (DCS 1 $ r Ps SP q ST: cursorStyle, style = Ps) and the primary
//   device attributes (CSI ? ... c: deviceAttributes).
#pragma once

#include <cstddef>

namespace quib {

enum class Report { none, cursorStyle, deviceAttributes };

struct DecodedKey {
  int consumed;
  int count;
  int codes[2];
  Report report = Report::none;
  int style = -1;
};

DecodedKey decodeKey(const unsigned char *bytes, std::size_t len, bool final);

// The bytes of keys that go back to the terminal's input for the next
// reader, with the terminal's answers taken out: whole ones (the device
// attributes, the cursor style and every other DCS string, which only a
// terminal sends) and one cut off at the end (Esc P without its ST, CSI ?
// with no final byte yet). Works in place on bytes[0..len) and returns the
// length of what is left; the keys keep their bytes and their order.
std::size_t withoutAnswers(unsigned char *bytes, std::size_t len);

} // namespace quib
