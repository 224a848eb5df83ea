// The key decoder: byte sequences as terminals send them, and the codes
// they must give. Each table row is one key in one terminal's encoding.
#include "console.h"
#include "show_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr bool burst = false; // more bytes may follow within the wait
constexpr bool final = true;  // the wait is over

struct Row {
  const char *what;
  std::string bytes;
  bool final;
  int consumed;           // 0: incomplete, wait for more
  std::vector<int> codes; // empty: skipped whole
};

using quib::testing::show;

void checkRows(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.what) + ": " + show(row.bytes));
    const auto *bytes =
        reinterpret_cast<const unsigned char *>(row.bytes.data());
    const quib::DecodedKey key =
        quib::decodeKey(bytes, row.bytes.size(), row.final);
    EXPECT_EQ(key.consumed, row.consumed);
    ASSERT_EQ(key.count, static_cast<int>(row.codes.size()));
    for (int i = 0; i < key.count; ++i)
      EXPECT_EQ(key.codes[i], row.codes[static_cast<std::size_t>(i)]);
    for (int i = key.count; i < 2; ++i)
      EXPECT_EQ(key.codes[i], -1);
    if (key.count == 1) {
      EXPECT_NE(key.codes[0], 0) << "0 announces a second code";
    }
  }
}

// Decodes a whole burst key by key, as readKey does once the wait is over.
std::vector<int> decodeAll(const std::string &bytes) {
  std::vector<int> codes;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const quib::DecodedKey key = quib::decodeKey(
        reinterpret_cast<const unsigned char *>(bytes.data()) + at,
        bytes.size() - at, final);
    EXPECT_GT(key.consumed, 0);
    if (key.consumed <= 0)
      break;
    for (int i = 0; i < key.count; ++i)
      codes.push_back(key.codes[i]);
    at += static_cast<std::size_t>(key.consumed);
  }
  return codes;
}

TEST(ConsoleDecode, PlainAndControlBytes) {
  checkRows({
      {"digit", "1", burst, 1, {'1'}},
      {"comma", ",", burst, 1, {','}},
      {"letter", "q", burst, 1, {'q'}},
      {"capital", "W", burst, 1, {'W'}},
      {"space", " ", burst, 1, {32}},
      {"only the first of two keys", "12", burst, 1, {'1'}},
      {"Backspace as DEL (xterm, VTE)", "\x7f", burst, 1, {8}},
      {"Backspace as BS (some terminals)", "\x08", burst, 1, {8}},
      {"Enter", "\r", burst, 1, {13}},
      {"Ctrl+Enter, Ctrl+J", "\n", burst, 1, {10}},
      {"Tab", "\t", burst, 1, {9}},
      {"Ctrl+A", "\x01", burst, 1, {1}},
      {"Ctrl+C", "\x03", burst, 1, {3}},
      {"Ctrl+Z", "\x1a", burst, 1, {26}},
      {"Ctrl+backslash", "\x1c", burst, 1, {28}},
      {"Ctrl+6", "\x1e", burst, 1, {30}},
      {"Ctrl+Space, Ctrl+2 (NUL)", std::string(1, '\0'), burst, 1, {0, 3}},
  });
}

TEST(ConsoleDecode, CursorAndEditingKeys) {
  checkRows({
      {"xterm Up", "\033[A", burst, 3, {0, 72}},
      {"xterm Down", "\033[B", burst, 3, {0, 80}},
      {"xterm Right", "\033[C", burst, 3, {0, 77}},
      {"xterm Left", "\033[D", burst, 3, {0, 75}},
      {"xterm Home", "\033[H", burst, 3, {0, 71}},
      {"xterm End", "\033[F", burst, 3, {0, 79}},
      {"application Up", "\033OA", burst, 3, {0, 72}},
      {"application Down", "\033OB", burst, 3, {0, 80}},
      {"application Right", "\033OC", burst, 3, {0, 77}},
      {"application Left", "\033OD", burst, 3, {0, 75}},
      {"application Home", "\033OH", burst, 3, {0, 71}},
      {"application End", "\033OF", burst, 3, {0, 79}},
      {"Insert", "\033[2~", burst, 4, {0, 82}},
      {"Delete", "\033[3~", burst, 4, {0, 83}},
      {"Page Up", "\033[5~", burst, 4, {0, 73}},
      {"Page Down", "\033[6~", burst, 4, {0, 81}},
      {"Linux console, screen Home", "\033[1~", burst, 4, {0, 71}},
      {"Linux console, screen End", "\033[4~", burst, 4, {0, 79}},
      {"urxvt Home", "\033[7~", burst, 4, {0, 71}},
      {"urxvt End", "\033[8~", burst, 4, {0, 79}},
      {"keypad 5 (xterm)", "\033[E", burst, 3, {0, 76}},
      {"keypad 5 (application)", "\033OE", burst, 3, {0, 76}},
      {"keypad 5 (Linux console)", "\033[G", burst, 3, {0, 76}},
  });
}

TEST(ConsoleDecode, XtermModifierParameters) {
  checkRows({
      {"Shift+Up", "\033[1;2A", burst, 6, {0, 72}},
      {"Alt+Up", "\033[1;3A", burst, 6, {0, 152}},
      {"Ctrl+Up", "\033[1;5A", burst, 6, {0, 141}},
      {"Ctrl+Shift+Up: Ctrl", "\033[1;6A", burst, 6, {0, 141}},
      {"Ctrl+Alt+Up: Alt", "\033[1;7A", burst, 6, {0, 152}},
      {"Meta+Up: Alt", "\033[1;9A", burst, 6, {0, 152}},
      {"Ctrl+Down", "\033[1;5B", burst, 6, {0, 145}},
      {"Ctrl+Right", "\033[1;5C", burst, 6, {0, 116}},
      {"Ctrl+Left", "\033[1;5D", burst, 6, {0, 115}},
      {"Alt+Left", "\033[1;3D", burst, 6, {0, 155}},
      {"Ctrl+Home", "\033[1;5H", burst, 6, {0, 119}},
      {"Alt+End", "\033[1;3F", burst, 6, {0, 159}},
      {"Ctrl+Insert", "\033[2;5~", burst, 6, {0, 146}},
      {"Ctrl+Delete", "\033[3;5~", burst, 6, {0, 147}},
      {"Alt+Delete", "\033[3;3~", burst, 6, {0, 163}},
      {"Alt+Page Up", "\033[5;3~", burst, 6, {0, 153}},
      {"Ctrl+Page Down", "\033[6;5~", burst, 6, {0, 118}},
      {"Shift+Tab", "\033[Z", burst, 3, {0, 15}},
      {"Ctrl+Shift+Tab", "\033[1;6Z", burst, 6, {0, 148}},
  });
}

TEST(ConsoleDecode, FunctionKeys) {
  checkRows({
      {"xterm F1", "\033OP", burst, 3, {0, 59}},
      {"xterm F2", "\033OQ", burst, 3, {0, 60}},
      {"xterm F3", "\033OR", burst, 3, {0, 61}},
      {"xterm F4", "\033OS", burst, 3, {0, 62}},
      {"xterm F5", "\033[15~", burst, 5, {0, 63}},
      {"xterm F6", "\033[17~", burst, 5, {0, 64}},
      {"xterm F10", "\033[21~", burst, 5, {0, 68}},
      {"xterm F11", "\033[23~", burst, 5, {0, 133}},
      {"xterm F12", "\033[24~", burst, 5, {0, 134}},
      {"xterm Shift+F1", "\033[1;2P", burst, 6, {0, 84}},
      {"xterm Ctrl+F2", "\033[1;5Q", burst, 6, {0, 95}},
      {"xterm Alt+F4", "\033[1;3S", burst, 6, {0, 107}},
      {"xterm Shift+F5", "\033[15;2~", burst, 7, {0, 88}},
      {"xterm Shift+F10", "\033[21;2~", burst, 7, {0, 93}},
      {"xterm Ctrl+F10", "\033[21;5~", burst, 7, {0, 103}},
      {"xterm Alt+F6", "\033[17;3~", burst, 7, {0, 109}},
      {"xterm Shift+F11", "\033[23;2~", burst, 7, {0, 135}},
      {"xterm Ctrl+F12", "\033[24;5~", burst, 7, {0, 138}},
      {"xterm Alt+F11", "\033[23;3~", burst, 7, {0, 139}},
      {"xterm Alt+F12", "\033[24;3~", burst, 7, {0, 140}},
      {"urxvt F1", "\033[11~", burst, 5, {0, 59}},
      {"urxvt F4", "\033[14~", burst, 5, {0, 62}},
      {"urxvt Shift+F3", "\033[25~", burst, 5, {0, 86}},
      {"urxvt Shift+F10", "\033[34~", burst, 5, {0, 93}},
      {"urxvt Ctrl+F1", "\033[11^", burst, 5, {0, 94}},
      {"urxvt Shift+F12", "\033[24$", burst, 5, {0, 136}},
      {"Linux console F1", "\033[[A", burst, 4, {0, 59}},
      {"Linux console F3", "\033[[C", burst, 4, {0, 61}},
      {"Linux console F5", "\033[[E", burst, 4, {0, 63}},
  });
}

TEST(ConsoleDecode, UrxvtModifierForms) {
  checkRows({
      {"Shift+Up", "\033[a", burst, 3, {0, 72}},
      {"Shift+Left", "\033[d", burst, 3, {0, 75}},
      {"Ctrl+Up", "\033Oa", burst, 3, {0, 141}},
      {"Ctrl+Down", "\033Ob", burst, 3, {0, 145}},
      {"Ctrl+Right", "\033Oc", burst, 3, {0, 116}},
      {"Ctrl+Left", "\033Od", burst, 3, {0, 115}},
      {"Shift+Insert", "\033[2$", burst, 4, {0, 82}},
      {"Shift+Home", "\033[7$", burst, 4, {0, 71}},
      {"Ctrl+Page Up", "\033[5^", burst, 4, {0, 132}},
      {"Ctrl+End", "\033[8^", burst, 4, {0, 117}},
      {"Ctrl+Shift+Delete: Ctrl", "\033[3@", burst, 4, {0, 147}},
      {"Alt+Up", "\033\033[A", burst, 4, {0, 152}},
      {"Alt+Up (application)", "\033\033OA", burst, 4, {0, 152}},
      {"Alt+Delete", "\033\033[3~", burst, 5, {0, 163}},
      {"Alt+F1", "\033\033[11~", burst, 6, {0, 104}},
  });
}

TEST(ConsoleDecode, KeypadInApplicationMode) {
  checkRows({
      {"keypad 0", "\033Op", burst, 3, {'0'}},
      {"keypad 5", "\033Ou", burst, 3, {'5'}},
      {"keypad 9", "\033Oy", burst, 3, {'9'}},
      {"keypad *", "\033Oj", burst, 3, {'*'}},
      {"keypad +", "\033Ok", burst, 3, {'+'}},
      {"keypad -", "\033Om", burst, 3, {'-'}},
      {"keypad .", "\033On", burst, 3, {'.'}},
      {"keypad decimal comma", "\033Ol", burst, 3, {','}},
      {"keypad /", "\033Oo", burst, 3, {'/'}},
      {"keypad Enter", "\033OM", burst, 3, {13}},
      {"keypad =", "\033OX", burst, 3, {'='}},
      {"Shift+keypad 8 (modifier parameter)", "\033O2x", burst, 4, {0, 72}},
      {"Ctrl+keypad Enter", "\033O5M", burst, 4, {10}},
  });
}

TEST(ConsoleDecode, EscAndKeyIsAlt) {
  checkRows({
      {"Alt+a", "\033a", burst, 2, {0, 30}},
      {"Alt+Q", "\033Q", burst, 2, {0, 16}},
      {"Alt+p", "\033p", burst, 2, {0, 25}},
      {"Alt+m", "\033m", burst, 2, {0, 50}},
      {"Alt+z", "\033z", burst, 2, {0, 44}},
      {"Alt+1", "\0331", burst, 2, {0, 120}},
      {"Alt+9", "\0339", burst, 2, {0, 128}},
      {"Alt+0", "\0330", burst, 2, {0, 129}},
      {"Alt+Shift+1", "\033!", burst, 2, {0, 120}},
      {"Alt+Backspace (DEL)", "\033\x7f", burst, 2, {0, 14}},
      {"Alt+Backspace (BS)", "\033\x08", burst, 2, {0, 14}},
      {"Alt+Enter", "\033\r", burst, 2, {0, 166}},
      {"Alt+Tab", "\033\t", burst, 2, {0, 165}},
      {"Alt+Space", "\033 ", burst, 2, {32}},
      {"Alt+Ctrl+A", "\033\x01", burst, 2, {0, 30}},
      {"Alt+comma", "\033,", burst, 2, {0, 51}},
      {"Alt+minus", "\033-", burst, 2, {0, 130}},
      {"Alt+equals", "\033=", burst, 2, {0, 131}},
      {"Alt+slash", "\033/", burst, 2, {0, 53}},
      {"Alt+Shift+slash", "\033?", burst, 2, {0, 53}},
      {"Alt+backquote", "\033`", burst, 2, {0, 41}},
      {"Alt+Esc", "\033\033", final, 2, {0, 1}},
      {"Alt+Esc before a letter", "\033\033q", burst, 2, {0, 1}},
      {"Alt+[ once the wait is over", "\033[", final, 2, {0, 26}},
      {"Alt+O once the wait is over", "\033O", final, 2, {0, 24}},
      {"Alt+] once the wait is over", "\033]", final, 2, {0, 27}},
      {"Alt+P once the wait is over", "\033P", final, 2, {0, 25}},
      {"Alt+[ before Enter", "\033[\r", burst, 2, {0, 26}},
      {"Alt+o-umlaut: the character", "\033\xc3\xb6", burst, 3, {0xF6}},
  });
}

TEST(ConsoleDecode, CharactersOutsideAscii) {
  checkRows({
      {"o-umlaut", "\xc3\xb6", burst, 2, {0xF6}},
      {"e-acute", "\xc3\xa9", burst, 2, {0xE9}},
      {"no-break space", "\xc2\xa0", burst, 2, {0xA0}},
      {"y-diaeresis", "\xc3\xbf", burst, 2, {0xFF}},
      {"C1 control as UTF-8", "\xc2\x80", burst, 2, {'?'}},
      {"euro sign", "\xe2\x82\xac", burst, 3, {'?'}},
      {"emoji", "\xf0\x9f\x98\x80", burst, 4, {'?'}},
      {"lone continuation byte", "\x80", burst, 1, {'?'}},
      {"byte that starts nothing", "\xff", burst, 1, {'?'}},
      {"overlong lead", "\xc0\xb6", burst, 1, {'?'}},
      {"overlong three-byte form", "\xe0\x80\x80", burst, 1, {'?'}},
      {"surrogate", "\xed\xa0\x80", burst, 1, {'?'}},
      {"lead before ASCII", "\303A", burst, 1, {'?'}},
      {"cut after one continuation", "\xe2\202A", burst, 2, {'?'}},
      {"lead, more may come", "\xc3", burst, 0, {}},
      {"two of three bytes, more may come", "\xe2\x82", burst, 0, {}},
      {"lead alone after the wait", "\xc3", final, 1, {'?'}},
      {"two of three bytes after the wait", "\xe2\x82", final, 2, {'?'}},
  });
}

TEST(ConsoleDecode, SequencesThatAreNoKeyAreSkippedWhole) {
  checkRows({
      {"focus in", "\033[I", burst, 3, {}},
      {"focus out before a key", "\033[O5", burst, 3, {}},
      {"bracketed paste start", "\033[200~", burst, 6, {}},
      {"unknown tilde number", "\033[99~", burst, 5, {}},
      {"unknown final", "\033[1;5x", burst, 6, {}},
      {"device attributes reply", "\033[?1;2c", burst, 7, {}},
      {"intermediate byte", "\033[2 q", burst, 5, {}},
      {"sub-parameters", "\033[1:2A", burst, 6, {}},
      {"too many parameters", "\033[1;2;3;4;5A", burst, 12, {}},
      {"SGR mouse report", "\033[<0;10;20M", burst, 11, {}},
      {"X10 mouse report", "\033[M !!", burst, 6, {}},
      {"unknown SS3 final", "\033Oz", burst, 3, {}},
      {"Linux console, unknown", "\033[[Z", burst, 4, {}},
      {"OSC ended by BEL", "\033]11;rgb:0/0/0\x07", burst, 15, {}},
      {"OSC ended by ST", "\033]11;x\033\\", burst, 8, {}},
      {"DCS", "\033P1$r0m\033\\", burst, 9, {}},
      {"APC", "\033_xy\033\\", burst, 6, {}},
      {"sequence broken off by a control byte", "\033[12\r", burst, 4, {}},
      {"parameter after an intermediate", "\033[!19~", burst, 6, {}},
      {"private marker, blank, parameters", "\033[< ;10;20m", burst, 11, {}},
  });
}

TEST(ConsoleDecode, SplitSequencesWaitAndAreDecidedAfterTheWait) {
  checkRows({
      {"lone Esc", "\033", burst, 0, {}},
      {"lone Esc after the wait", "\033", final, 1, {27}},
      {"CSI introducer", "\033[", burst, 0, {}},
      {"CSI with parameters", "\033[1;5", burst, 0, {}},
      {"SS3 introducer", "\033O", burst, 0, {}},
      {"Esc Esc", "\033\033", burst, 0, {}},
      {"Esc Esc [", "\033\033[", burst, 0, {}},
      {"Esc Esc CSI with parameters", "\033\033[3", burst, 0, {}},
      {"Linux console F-key", "\033[[", burst, 0, {}},
      {"OSC without its end", "\033]11;rgb", burst, 0, {}},
      {"OSC before ST", "\033]11;x\033", burst, 0, {}},
      {"X10 mouse report", "\033[M !", burst, 0, {}},
      {"cut CSI after the wait", "\033[1;", final, 4, {}},
      {"cut SS3 after the wait", "\033O5", final, 3, {}},
      {"cut OSC after the wait", "\033]11;rgb", final, 8, {}},
      {"Esc Esc [ after the wait", "\033\033[", final, 2, {0, 1}},
  });
}

TEST(ConsoleDecode, BurstOfSeveralKeysDecodesKeyByKey) {
  EXPECT_EQ(decodeAll("1\033[A\1772\033"),
            (std::vector<int>{'1', 0, 72, 8, '2', 27}));
  EXPECT_EQ(decodeAll("\033[I\033[O\033OP\xc3\xb6\r"),
            (std::vector<int>{0, 59, 0xF6, 13}));
  EXPECT_EQ(decodeAll("\033]0;t\x07q\033[3;5~"),
            (std::vector<int>{'q', 0, 147}));
}

} // namespace
