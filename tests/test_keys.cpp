// The key decoder: the bytes of each key in each terminal's form, and the
// codes readKey makes of them, whether the bytes arrive one at a time or as
// one burst; the end of a row is the end of the wait. Every result also
// keeps the fuzz target's contract.
#include "key_contract.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

using quib::contract::attributes;
using quib::contract::cursorStyle;
using quib::contract::decodeAll;

void check(const std::vector<std::pair<std::string, std::vector<int>>> &rows) {
  for (const auto &[bytes, codes] : rows) {
    EXPECT_EQ(decodeAll(bytes, true), codes) << ::testing::PrintToString(bytes);
    EXPECT_EQ(decodeAll(bytes, false), codes) << "as one burst";
  }
}

std::vector<int> ext(std::initializer_list<int> codes) {
  std::vector<int> out;
  for (int code : codes)
    out.insert(out.end(), {0, code});
  return out;
}

// Each row is one terminal form, several keys in a row.
// clang-format off
TEST(Keys, EachTerminalsForms) {
  check({
    // Plain bytes: DEL and BS are Backspace, NUL is Ctrl+Space.
    {"1q,\x7f\b\r\n\t\x03\x1c" "12", {'1', 'q', ',', 8, 8, 13, 10, 9, 3, 28, '1', '2'}},
    {{"\0\033", 2}, {0, 3, 27}},
    // xterm, VTE, kitty: cursor and editing keys, normal and application mode.
    {"\033[A\033[B\033[C\033[D\033[H\033[F\033[E", ext({72, 80, 77, 75, 71, 79, 76})},
    {"\033OA\033OB\033OC\033OD\033OH\033OF\033OE", ext({72, 80, 77, 75, 71, 79, 76})},
    {"\033[2~\033[3~\033[5~\033[6~", ext({82, 83, 73, 81})},
    // The Linux console, screen and urxvt: Home and End, keypad 5.
    {"\033[1~\033[4~\033[7~\033[8~\033[G", ext({71, 79, 71, 79, 76})},
    // xterm's modifier parameter: Shift, Alt, Ctrl, Ctrl+Shift, Ctrl+Alt, Meta.
    {"\033[1;2A\033[1;3A\033[1;5A\033[1;6A\033[1;7A\033[1;9A", ext({72, 152, 141, 141, 152, 152})},
    {"\033[1;5B\033[1;3B\033[1;5C\033[1;5D\033[1;3D\033[1;5H\033[1;3F", ext({145, 160, 116, 115, 155, 119, 159})},
    {"\033[2;5~\033[3;5~\033[3;3~\033[5;3~\033[6;5~\033[Z\033[1;6Z", ext({146, 147, 163, 153, 118, 15, 148})},
    // Modified keys in xterm's and kitty's forms: the key that types c, with m.
    {"\033[27;3;13~\033[27;5;9~\033[27;2;9~\033[27;3;97~\033[13;3u\033[9;5u\033[49;3u",
     ext({166, 148, 15, 30, 166, 148, 120})},
    {"\033[27;5;97~\033[65;5u\033[97;2u\033[27;1;49~\033[27;6;50~\033[27;5;54~\033[127;5u"
     "\033[27;6;49~\033[8364u\033[97:65;6u\033[27;5;246~\033[92;5u\033[59;2u",
     {1, 1, 'A', '1', 0, 3, 30, 127, 0xF6, 28, ':'}},
    // Function keys: xterm, with modifiers, urxvt and VT220, the Linux console.
    {"\033OP\033OS\033[15~\033[17~\033[21~\033[23~\033[24~", ext({59, 62, 63, 64, 68, 133, 134})},
    {"\033[1;2P\033[1;5Q\033[1;3S\033[15;2~\033[21;5~\033[17;3~\033[23;2~\033[24;5~\033[24;3~",
     ext({84, 95, 107, 88, 103, 109, 135, 138, 140})},
    {"\033[11~\033[25~\033[34~\033[11^\033[24$\033[[A\033[[E", ext({59, 86, 93, 94, 136, 59, 63})},
    // urxvt's modifiers, and its Alt as Esc before the key's sequence.
    {"\033[a\033[d\033Oa\033Ob\033Oc\033Od\033[2$\033[7$\033[5^\033[8^\033[3@",
     ext({72, 75, 141, 145, 116, 115, 82, 71, 132, 117, 147})},
    {"\033\033[A\033\033OA\033\033[3~\033\033[11~", ext({152, 152, 163, 104})},
    // st outside keypad-transmit mode; CSI M is no mouse report.
    {"\033[P\033[4h\033[4l\033[2K\033[2J\033[K\033[L\033[M5\033[J7",
     {0, 83, 0, 82, 0, 82, 0, 83, 0, 71, 0, 79, 0, 146, 0, 147, '5', 0, 117, '7'}},
    // The keypad in application mode.
    {"\033Op\033Ou\033Oy\033Oj\033Ok\033Om\033On\033Ol\033Oo\033OM\033OX\033O5M\033O2x\033O5n",
     {'0', '5', '9', '*', '+', '-', '.', ',', '/', 13, '=', 10, 0, 72, 0, 83}},
    // Esc and a key is Alt with it.
    {"\033a\033Q\033p\033m\033z\0331\0339\0330\033!", ext({30, 16, 25, 50, 44, 120, 128, 129, 120})},
    {"\033\x7f\033\b\033\r\033\t\033\x01\033,\033-\033=\033?\033`", ext({14, 14, 166, 165, 30, 51, 130, 131, 53, 41})},
    {"\033 \033\033q\033[\r\033\xc3\xb6\033O", {32, 0, 1, 'q', 0, 26, 13, 0xF6, 0, 24}},
    {"\033[", ext({26})},
    // Esc P, ], _, ^ and X: a string only when its end comes with it.
    {"\033P1\033]x\033_\033^\033X5", {0, 25, '1', 0, 27, 'x', 0, 130, 0, 125, 0, 45, '5'}},
    {"\033P1\033[A\033]1;r", {0, 25, '1', 0, 72, 0, 27, '1', ';', 'r'}},
    {"\033]11;rgb:0/0/0\a1\033]0;x\033\\2\033_xy\033\\\033P1$r0m\033\\\033P0$r\033\\"
     "\033P1$r2 q\033\\\033P0$r12 q\033\\\033[?64;1;2;22c",
     {'1', '2', cursorStyle(2), cursorStyle(12), attributes}},
    {"\033\033P1$r2 q\033\\\033\033[?6c", {27, cursorStyle(2), 27, attributes}},
    // UTF-8: the Latin-1 letters, '?' for the rest and for every bad byte.
    {"\xc3\xb6\xc3\xa9\xc2\xa0\xc3\xbf\xc2\x80\xe2\x82\xac\xf0\x9f\x98\x80\x80\xff"
     "\xc0\xb6\xed\xa0\x80\xc3" "A\xe2\x82" "A\xc3",
     {0xF6, 0xE9, 0xA0, 0xFF, '?', '?', '?', '?', '?', '?', '?', '?', '?', '?', '?', 'A', '?', 'A', '?'}},
    // Sequences that are no key are skipped whole, also when cut off.
    {"\033[I\033[O5\033[200~\033[99~\033[1;5x\033[2 q\033[1:2A\033[1;2;3;4;5A"
     "\033[<0;10;20M\033Oz\033[[Z\033[12\r\033[!19~", {'5', 13}},
    {"\033[1;", {}}, {"\033O5", {}},
    {"1\033[A\x7f" "2\033", {'1', 0, 72, 8, '2', 27}},
  });
}
// clang-format on

} // namespace
