// The key decoder: the bytes of each key in each terminal's form, and the
// codes readKey makes of them, whether the bytes arrive one at a time or as
// one burst; the end of a row is the end of the wait. Every result also
// keeps the fuzz target's contract.
#include "key_contract.h"
#include "keytable.h"
#include "pckeys.h"

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
// The keys handed back to the terminal at the end: the bytes typed, in
// order, with every answer of the terminal left out, whole or cut off at the
// end; what merely looks like the start of one is kept.
// clang-format off
TEST(Keys, HandedBackWithoutTheTerminalsAnswers) {
  const std::pair<std::string, std::string> rows[] = {
    {"ls\r\033[A\033OP\xc3\xb6\033", "ls\r\033[A\033OP\xc3\xb6\033"},
    {"\033P1$r2 q\033\\\033[?62;22cls\n", "ls\n"}, {"a\033P1$r2 q\033\\b\033[?1;2cc", "abc"},
    {"\033\033P0$r\033\\\033[?6c\033", "\033\033"}, {"q\033P>|xterm(390)\033\\", "q"},
    // Cut off at the end; then what only looks like an answer's start.
    {"x\033P1$r2 q", "x"}, {"x\033P1$r2 q\033", "x"}, {"x\033[?64;1", "x"}, {"x\033[?", "x"},
    {"\033[1;5A\033[I\033P", "\033[1;5A\033[I\033P"}, {"\033Pq\033x", "\033Pq\033x"},
  };
  // clang-format on
  for (const auto &[typed, kept] : rows) {
    std::string bytes = typed;
    auto *b = reinterpret_cast<unsigned char *>(bytes.data());
    bytes.resize(quib::withoutAnswers(b, bytes.size()));
    EXPECT_EQ(bytes, kept) << ::testing::PrintToString(typed);
  }
}

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
// The Windows console's key table: a key's virtual-key code and its four
// columns, plain, Shift, Ctrl and Alt; X(n) is the extended code n, N none.
constexpr int N = quib::pc::none;
constexpr int X(int n) { return quib::pc::ext(n); }
struct TableRow { int vk, plain, shift, ctrl, alt; };
const TableRow windowsKeys[] = {
  {0x24, X(71), X(71), X(119), X(151)}, {0x26, X(72), X(72), X(141), X(152)},
  {0x21, X(73), X(73), X(132), X(153)}, {0x25, X(75), X(75), X(115), X(155)},
  {0x27, X(77), X(77), X(116), X(157)}, {0x23, X(79), X(79), X(117), X(159)},
  {0x28, X(80), X(80), X(145), X(160)}, {0x22, X(81), X(81), X(118), X(161)},
  {0x2D, X(82), X(82), X(146), X(162)}, {0x2E, X(83), X(83), X(147), X(163)},
  {0x08, 8, 8, 127, X(14)}, {0x09, 9, X(15), X(148), X(165)},
  {0x0D, 13, 13, 10, X(166)}, {0x1B, 27, 27, 27, X(1)}, {0x20, 32, 32, X(3), 32},
  {0x70, X(59), X(84), X(94), X(104)}, {0x79, X(68), X(93), X(103), X(113)},
  {0x7A, X(133), X(135), X(137), X(139)}, {0x7B, X(134), X(136), X(138), X(140)},
  {0x60, '0', X(82), X(146), N}, {0x61, '1', X(79), X(117), N},
  {0x62, '2', X(80), X(145), N}, {0x63, '3', X(81), X(118), N},
  {0x64, '4', X(75), X(115), N}, {0x65, '5', X(76), X(143), N},
  {0x66, '6', X(77), X(116), N}, {0x67, '7', X(71), X(119), N},
  {0x68, '8', X(72), X(141), N}, {0x69, '9', X(73), X(132), N},
  {0x6A, '*', '*', X(150), X(55)}, {0x6B, '+', '+', X(144), X(78)},
  {0x6D, '-', '-', X(142), X(74)}, {0x6E, '.', '.', X(83), X(147)},
  {0x6F, '/', '/', X(149), X(164)},
  {'0', '0', ')', N, X(129)}, {'1', '1', '!', N, X(120)}, {'2', '2', '@', X(3), X(121)},
  {'6', '6', '^', 30, X(125)}, {'9', '9', '(', N, X(128)}, {'A', 'a', 'A', 1, X(30)},
  {'M', 'm', 'M', 13, X(50)}, {'Q', 'q', 'Q', 17, X(16)}, {'Z', 'z', 'Z', 26, X(44)},
  {0xDC, '\\', '|', 28, X(43)}, {0xBF, '/', '?', N, X(53)}, {0xBD, '-', '_', 31, X(130)},
  {0xBB, '=', '+', N, X(131)}, {0xDB, '[', '{', 27, X(26)}, {0xDD, ']', '}', 29, X(27)},
  {0xBA, ';', ':', N, X(39)}, {0xDE, '\'', '"', N, X(40)}, {0xBC, ',', '<', N, X(51)},
  {0xBE, '.', '>', N, X(52)}, {0xC0, '`', '~', N, X(41)},
  // Keys in no entry: Shift, Ctrl, Alt, Caps Lock, NumLock, the separator.
  {0x10, N, N, N, N}, {0x11, N, N, N, N}, {0x12, N, N, N, N}, {0x14, N, N, N, N},
  {0x90, N, N, N, N}, {0x6C, N, N, N, N}, {0x00, N, N, N, N},
};
// The modifier states that read each column: either Alt wins over Ctrl,
// either Ctrl over Shift; NumLock on and the enhanced-key flag (0x0120) have
// no column of their own.
using namespace quib;
const std::pair<unsigned, int TableRow::*> columns[] = {
  {0, &TableRow::plain}, {0x0120, &TableRow::plain}, {shiftPressed, &TableRow::shift},
  {leftCtrlPressed, &TableRow::ctrl}, {rightCtrlPressed, &TableRow::ctrl},
  {leftCtrlPressed | shiftPressed, &TableRow::ctrl},
  {leftAltPressed, &TableRow::alt}, {rightAltPressed, &TableRow::alt},
  {rightAltPressed | leftCtrlPressed | shiftPressed, &TableRow::alt},
};
// clang-format on

TEST(Keys, WindowsConsoleTableByModifierColumn) {
  for (const TableRow &k : windowsKeys)
    for (const auto &[state, column] : columns)
      EXPECT_EQ(quib::lookUpKey(k.vk, state), k.*column)
          << k.vk << " " << state;
}

} // namespace
