// The key decoder: byte sequences as terminals send them, and the codes
// they must give. Each table row is one key in one terminal's encoding.
#include "console.h"

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

std::string show(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c >= 0x21 && c < 0x7F ? "%c" : "<%02x>", c);
    out += hex;
  }
  return out;
}

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
      {"xterm Up", "\x1b[A", burst, 3, {0, 72}},
      {"xterm Down", "\x1b[B", burst, 3, {0, 80}},
      {"xterm Right", "\x1b[C", burst, 3, {0, 77}},
      {"xterm Left", "\x1b[D", burst, 3, {0, 75}},
      {"xterm Home", "\x1b[H", burst, 3, {0, 71}},
      {"xterm End", "\x1b[F", burst, 3, {0, 79}},
      {"application Up", "\x1bOA", burst, 3, {0, 72}},
      {"application Down", "\x1bOB", burst, 3, {0, 80}},
      {"application Right", "\x1bOC", burst, 3, {0, 77}},
      {"application Left", "\x1bOD", burst, 3, {0, 75}},
      {"application Home", "\x1bOH", burst, 3, {0, 71}},
      {"application End", "\x1bOF", burst, 3, {0, 79}},
      {"Insert", "\x1b[2~", burst, 4, {0, 82}},
      {"Delete", "\x1b[3~", burst, 4, {0, 83}},
      {"Page Up", "\x1b[5~", burst, 4, {0, 73}},
      {"Page Down", "\x1b[6~", burst, 4, {0, 81}},
      {"Linux console, screen Home", "\x1b[1~", burst, 4, {0, 71}},
      {"Linux console, screen End", "\x1b[4~", burst, 4, {0, 79}},
      {"urxvt Home", "\x1b[7~", burst, 4, {0, 71}},
      {"urxvt End", "\x1b[8~", burst, 4, {0, 79}},
      {"keypad 5 (xterm)", "\x1b[E", burst, 3, {0, 76}},
      {"keypad 5 (application)", "\x1bOE", burst, 3, {0, 76}},
      {"keypad 5 (Linux console)", "\x1b[G", burst, 3, {0, 76}},
  });
}

TEST(ConsoleDecode, XtermModifierParameters) {
  checkRows({
      {"Shift+Up", "\x1b[1;2A", burst, 6, {0, 72}},
      {"Alt+Up", "\x1b[1;3A", burst, 6, {0, 152}},
      {"Ctrl+Up", "\x1b[1;5A", burst, 6, {0, 141}},
      {"Ctrl+Shift+Up: Ctrl", "\x1b[1;6A", burst, 6, {0, 141}},
      {"Ctrl+Alt+Up: Alt", "\x1b[1;7A", burst, 6, {0, 152}},
      {"Meta+Up: Alt", "\x1b[1;9A", burst, 6, {0, 152}},
      {"Ctrl+Down", "\x1b[1;5B", burst, 6, {0, 145}},
      {"Ctrl+Right", "\x1b[1;5C", burst, 6, {0, 116}},
      {"Ctrl+Left", "\x1b[1;5D", burst, 6, {0, 115}},
      {"Alt+Left", "\x1b[1;3D", burst, 6, {0, 155}},
      {"Ctrl+Home", "\x1b[1;5H", burst, 6, {0, 119}},
      {"Alt+End", "\x1b[1;3F", burst, 6, {0, 159}},
      {"Ctrl+Insert", "\x1b[2;5~", burst, 6, {0, 146}},
      {"Ctrl+Delete", "\x1b[3;5~", burst, 6, {0, 147}},
      {"Alt+Delete", "\x1b[3;3~", burst, 6, {0, 163}},
      {"Alt+Page Up", "\x1b[5;3~", burst, 6, {0, 153}},
      {"Ctrl+Page Down", "\x1b[6;5~", burst, 6, {0, 118}},
      {"Shift+Tab", "\x1b[Z", burst, 3, {0, 15}},
      {"Ctrl+Shift+Tab", "\x1b[1;6Z", burst, 6, {0, 148}},
  });
}

TEST(ConsoleDecode, FunctionKeys) {
  checkRows({
      {"xterm F1", "\x1bOP", burst, 3, {0, 59}},
      {"xterm F2", "\x1bOQ", burst, 3, {0, 60}},
      {"xterm F3", "\x1bOR", burst, 3, {0, 61}},
      {"xterm F4", "\x1bOS", burst, 3, {0, 62}},
      {"xterm F5", "\x1b[15~", burst, 5, {0, 63}},
      {"xterm F6", "\x1b[17~", burst, 5, {0, 64}},
      {"xterm F10", "\x1b[21~", burst, 5, {0, 68}},
      {"xterm F11", "\x1b[23~", burst, 5, {0, 133}},
      {"xterm F12", "\x1b[24~", burst, 5, {0, 134}},
      {"xterm Shift+F1", "\x1b[1;2P", burst, 6, {0, 84}},
      {"xterm Ctrl+F2", "\x1b[1;5Q", burst, 6, {0, 95}},
      {"xterm Alt+F4", "\x1b[1;3S", burst, 6, {0, 107}},
      {"xterm Shift+F5", "\x1b[15;2~", burst, 7, {0, 88}},
      {"xterm Shift+F10", "\x1b[21;2~", burst, 7, {0, 93}},
      {"xterm Ctrl+F10", "\x1b[21;5~", burst, 7, {0, 103}},
      {"xterm Alt+F6", "\x1b[17;3~", burst, 7, {0, 109}},
      {"xterm Shift+F11", "\x1b[23;2~", burst, 7, {0, 135}},
      {"xterm Ctrl+F12", "\x1b[24;5~", burst, 7, {0, 138}},
      {"xterm Alt+F11", "\x1b[23;3~", burst, 7, {0, 139}},
      {"xterm Alt+F12", "\x1b[24;3~", burst, 7, {0, 140}},
      {"urxvt F1", "\x1b[11~", burst, 5, {0, 59}},
      {"urxvt F4", "\x1b[14~", burst, 5, {0, 62}},
      {"urxvt Shift+F3", "\x1b[25~", burst, 5, {0, 86}},
      {"urxvt Shift+F10", "\x1b[34~", burst, 5, {0, 93}},
      {"urxvt Ctrl+F1", "\x1b[11^", burst, 5, {0, 94}},
      {"urxvt Shift+F12", "\x1b[24$", burst, 5, {0, 136}},
      {"Linux console F1", "\x1b[[A", burst, 4, {0, 59}},
      {"Linux console F3", "\x1b[[C", burst, 4, {0, 61}},
      {"Linux console F5", "\x1b[[E", burst, 4, {0, 63}},
  });
}

TEST(ConsoleDecode, UrxvtModifierForms) {
  checkRows({
      {"Shift+Up", "\x1b[a", burst, 3, {0, 72}},
      {"Shift+Left", "\x1b[d", burst, 3, {0, 75}},
      {"Ctrl+Up", "\x1bOa", burst, 3, {0, 141}},
      {"Ctrl+Down", "\x1bOb", burst, 3, {0, 145}},
      {"Ctrl+Right", "\x1bOc", burst, 3, {0, 116}},
      {"Ctrl+Left", "\x1bOd", burst, 3, {0, 115}},
      {"Shift+Insert", "\x1b[2$", burst, 4, {0, 82}},
      {"Shift+Home", "\x1b[7$", burst, 4, {0, 71}},
      {"Ctrl+Page Up", "\x1b[5^", burst, 4, {0, 132}},
      {"Ctrl+End", "\x1b[8^", burst, 4, {0, 117}},
      {"Ctrl+Shift+Delete: Ctrl", "\x1b[3@", burst, 4, {0, 147}},
      {"Alt+Up", "\x1b\x1b[A", burst, 4, {0, 152}},
      {"Alt+Up (application)", "\x1b\x1bOA", burst, 4, {0, 152}},
      {"Alt+Delete", "\x1b\x1b[3~", burst, 5, {0, 163}},
      {"Alt+F1", "\x1b\x1b[11~", burst, 6, {0, 104}},
  });
}

TEST(ConsoleDecode, KeypadInApplicationMode) {
  checkRows({
      {"keypad 0", "\x1bOp", burst, 3, {'0'}},
      {"keypad 5", "\x1bOu", burst, 3, {'5'}},
      {"keypad 9", "\x1bOy", burst, 3, {'9'}},
      {"keypad *", "\x1bOj", burst, 3, {'*'}},
      {"keypad +", "\x1bOk", burst, 3, {'+'}},
      {"keypad -", "\x1bOm", burst, 3, {'-'}},
      {"keypad .", "\x1bOn", burst, 3, {'.'}},
      {"keypad decimal comma", "\x1bOl", burst, 3, {','}},
      {"keypad /", "\x1bOo", burst, 3, {'/'}},
      {"keypad Enter", "\x1bOM", burst, 3, {13}},
      {"keypad =", "\x1bOX", burst, 3, {'='}},
      {"Shift+keypad 8 (modifier parameter)", "\x1bO2x", burst, 4, {0, 72}},
      {"Ctrl+keypad Enter", "\x1bO5M", burst, 4, {10}},
  });
}

TEST(ConsoleDecode, EscAndKeyIsAlt) {
  checkRows({
      {"Alt+a",
       "\x1b"
       "a",
       burst,
       2,
       {0, 30}},
      {"Alt+Q", "\x1bQ", burst, 2, {0, 16}},
      {"Alt+p", "\x1bp", burst, 2, {0, 25}},
      {"Alt+m", "\x1bm", burst, 2, {0, 50}},
      {"Alt+z", "\x1bz", burst, 2, {0, 44}},
      {"Alt+1",
       "\x1b"
       "1",
       burst,
       2,
       {0, 120}},
      {"Alt+9",
       "\x1b"
       "9",
       burst,
       2,
       {0, 128}},
      {"Alt+0",
       "\x1b"
       "0",
       burst,
       2,
       {0, 129}},
      {"Alt+Shift+1", "\x1b!", burst, 2, {0, 120}},
      {"Alt+Backspace (DEL)", "\x1b\x7f", burst, 2, {0, 14}},
      {"Alt+Backspace (BS)", "\x1b\x08", burst, 2, {0, 14}},
      {"Alt+Enter", "\x1b\r", burst, 2, {0, 166}},
      {"Alt+Tab", "\x1b\t", burst, 2, {0, 165}},
      {"Alt+Space", "\x1b ", burst, 2, {32}},
      {"Alt+Ctrl+A", "\x1b\x01", burst, 2, {0, 30}},
      {"Alt+comma", "\x1b,", burst, 2, {0, 51}},
      {"Alt+minus", "\x1b-", burst, 2, {0, 130}},
      {"Alt+equals", "\x1b=", burst, 2, {0, 131}},
      {"Alt+slash", "\x1b/", burst, 2, {0, 53}},
      {"Alt+Shift+slash", "\x1b?", burst, 2, {0, 53}},
      {"Alt+backquote", "\x1b`", burst, 2, {0, 41}},
      {"Alt+Esc", "\x1b\x1b", final, 2, {0, 1}},
      {"Alt+Esc before a letter", "\x1b\x1bq", burst, 2, {0, 1}},
      {"Alt+[ once the wait is over", "\x1b[", final, 2, {0, 26}},
      {"Alt+O once the wait is over", "\x1bO", final, 2, {0, 24}},
      {"Alt+] once the wait is over", "\x1b]", final, 2, {0, 27}},
      {"Alt+P once the wait is over", "\x1bP", final, 2, {0, 25}},
      {"Alt+[ before Enter", "\x1b[\r", burst, 2, {0, 26}},
      {"Alt+o-umlaut: the character", "\x1b\xc3\xb6", burst, 3, {0xF6}},
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
      {"lead before ASCII",
       "\xc3"
       "A",
       burst,
       1,
       {'?'}},
      {"cut after one continuation",
       "\xe2\x82"
       "A",
       burst,
       2,
       {'?'}},
      {"lead, more may come", "\xc3", burst, 0, {}},
      {"two of three bytes, more may come", "\xe2\x82", burst, 0, {}},
      {"lead alone after the wait", "\xc3", final, 1, {'?'}},
      {"two of three bytes after the wait", "\xe2\x82", final, 2, {'?'}},
  });
}

TEST(ConsoleDecode, SequencesThatAreNoKeyAreSkippedWhole) {
  checkRows({
      {"focus in", "\x1b[I", burst, 3, {}},
      {"focus out before a key", "\x1b[O5", burst, 3, {}},
      {"bracketed paste start", "\x1b[200~", burst, 6, {}},
      {"unknown tilde number", "\x1b[99~", burst, 5, {}},
      {"unknown final", "\x1b[1;5x", burst, 6, {}},
      {"device attributes reply", "\x1b[?1;2c", burst, 7, {}},
      {"intermediate byte", "\x1b[2 q", burst, 5, {}},
      {"sub-parameters", "\x1b[1:2A", burst, 6, {}},
      {"too many parameters", "\x1b[1;2;3;4;5A", burst, 12, {}},
      {"SGR mouse report", "\x1b[<0;10;20M", burst, 11, {}},
      {"X10 mouse report", "\x1b[M !!", burst, 6, {}},
      {"unknown SS3 final", "\x1bOz", burst, 3, {}},
      {"Linux console, unknown", "\x1b[[Z", burst, 4, {}},
      {"OSC ended by BEL", "\x1b]11;rgb:0/0/0\x07", burst, 15, {}},
      {"OSC ended by ST", "\x1b]11;x\x1b\\", burst, 8, {}},
      {"DCS", "\x1bP1$r0m\x1b\\", burst, 9, {}},
      {"APC", "\x1b_xy\x1b\\", burst, 6, {}},
      {"sequence broken off by a control byte", "\x1b[12\r", burst, 4, {}},
  });
}

TEST(ConsoleDecode, SplitSequencesWaitAndAreDecidedAfterTheWait) {
  checkRows({
      {"lone Esc", "\x1b", burst, 0, {}},
      {"lone Esc after the wait", "\x1b", final, 1, {27}},
      {"CSI introducer", "\x1b[", burst, 0, {}},
      {"CSI with parameters", "\x1b[1;5", burst, 0, {}},
      {"SS3 introducer", "\x1bO", burst, 0, {}},
      {"Esc Esc", "\x1b\x1b", burst, 0, {}},
      {"Esc Esc [", "\x1b\x1b[", burst, 0, {}},
      {"Esc Esc CSI with parameters", "\x1b\x1b[3", burst, 0, {}},
      {"Linux console F-key", "\x1b[[", burst, 0, {}},
      {"OSC without its end", "\x1b]11;rgb", burst, 0, {}},
      {"OSC before ST", "\x1b]11;x\x1b", burst, 0, {}},
      {"X10 mouse report", "\x1b[M !", burst, 0, {}},
      {"cut CSI after the wait", "\x1b[1;", final, 4, {}},
      {"cut SS3 after the wait", "\x1bO5", final, 3, {}},
      {"cut OSC after the wait", "\x1b]11;rgb", final, 8, {}},
      {"Esc Esc [ after the wait", "\x1b\x1b[", final, 2, {0, 1}},
  });
}

TEST(ConsoleDecode, BurstOfSeveralKeysDecodesKeyByKey) {
  EXPECT_EQ(decodeAll("1\x1b[A\x7f"
                      "2\x1b"),
            (std::vector<int>{'1', 0, 72, 8, '2', 27}));
  EXPECT_EQ(decodeAll("\x1b[I\x1b[O\x1bOP\xc3\xb6\r"),
            (std::vector<int>{0, 59, 0xF6, 13}));
  EXPECT_EQ(decodeAll("\x1b]0;t\x07q\x1b[3;5~"),
            (std::vector<int>{'q', 0, 147}));
}

} // namespace
