// The key decoder: byte sequences of terminals' keys to the PC keyboard's
// codes. Units: b is the byte sequence, f a sequence's final byte, mods the
// modifier bits of xterm's parameter.
#include "keys.h"

#include "check.h"
#include "pckeys.h"

#include <cstring>

namespace quib {
namespace {

using namespace pc;

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

// The keypad's middle key with NumLock off ("begin"): the codes of keypad 5
// with NumLock on and Shift held, which acts the same.
constexpr KeyRow beginKey{ext(76), ext(76), ext(143), none};

// The Alt column of the key that produces the ASCII byte c: what "Esc
// followed by c" means, since terminals send Alt+key as Esc and the key.
int altOf(unsigned char c) {
  if (c >= 'a' && c <= 'z')
    return ext(letterScanCode[c - 'a']);
  if (c >= 'A' && c <= 'Z')
    return ext(letterScanCode[c - 'A']);
  if (const CharacterKey *key = characterKeyOf(c))
    return key->alt;
  switch (c) {
  case ' ':
  case 0: // Ctrl+Space
    return spaceKey.alt;
  case 8: // Backspace, whichever byte the terminal sends for it
  case 127:
    return backspaceKey.alt;
  case 9:
    return tabKey.alt;
  case 10:
  case 13:
    return enterKey.alt;
  case 27:
    return escKey.alt;
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

// The Ctrl column of the key that types the ASCII character c.
int ctrlOf(unsigned char c) {
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
    return (c | 0x20) - 'a' + 1;
  if (const CharacterKey *key = characterKeyOf(c))
    return key->ctrl;
  switch (c) {
  case ' ':
    return spaceKey.ctrl;
  case 9:
    return tabKey.ctrl;
  case 13:
    return enterKey.ctrl;
  case 27:
    return escKey.ctrl;
  case 8:
  case 127:
    return backspaceKey.ctrl;
  default:
    return none;
  }
}

// The Shift column of the key that types the ASCII character c: what it
// types with Shift. A character typed with Shift already stays itself.
int shiftOf(unsigned char c) {
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 'A';
  if (const CharacterKey *key = characterKeyOf(c))
    return static_cast<unsigned char>(key->shifted);
  if (c == 9)
    return tabKey.shift;
  return c == 127 ? 8 : c;
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

// st, outside keypad-transmit mode, sends some editing keys as the editing
// functions they name: Delete as DCH (CSI P), Insert as IRM set (CSI 4 h),
// Shift+Home as ED 2 and so on. param -1 stands for none.
struct StForm {
  unsigned char final;
  int param;
  int value;
};
constexpr StForm stForms[] = {
    {'P', -1, deleteKey.plain}, {'h', 4, insertKey.plain},
    {'l', 4, insertKey.shift},  {'K', 2, deleteKey.shift},
    {'J', 2, homeKey.shift},    {'K', -1, endKey.shift},
    {'L', -1, insertKey.ctrl},  {'M', -1, deleteKey.ctrl},
    {'J', -1, endKey.ctrl},
};

int stKey(unsigned char f, const Params &p) {
  const int param = p.count == 0 ? -1 : p.count == 1 ? p.value[0] : -2;
  for (const StForm &form : stForms)
    if (form.final == f && form.param == param)
      return form.value;
  return none;
}

// xterm's modifyOtherKeys form CSI 27 ; m ; c ~ and kitty's CSI c ; m u:
// the key that types the character c, with the modifiers m. A Latin-1
// letter is itself, whatever the modifiers, as when typed with Alt.
int characterKey(int c, int mods) {
  if (c >= 0xA0 && c <= 0xFF)
    return c;
  if (c < 1 || c > 127)
    return none;
  const auto ch = static_cast<unsigned char>(c);
  return pick(KeyRow{plainByte(ch), shiftOf(ch), ctrlOf(ch), altOf(ch)}, mods);
}

int csiKey(unsigned char f, const Params &p, int mods) {
  const int first = p.count >= 1 ? p.value[0] : 0;
  const int all = mods | (p.count >= 2 ? modifiersOf(p.value[1]) : 0);
  int value = stKey(f, p);
  if (value != none)
    return value;
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
    return first == 27 && p.count == 3 ? characterKey(p.value[2], all)
                                       : tildeKey(first, all);
  case 'u':
    return p.count <= 2 ? characterKey(first, all) : none;
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
    return pick(keypadMultiply, all);
  case 'k':
    return pick(keypadAdd, all);
  case 'm':
    return pick(keypadSubtract, all);
  case 'n':
    return pick(keypadDecimal, all);
  case 'l': // the decimal key on a keyboard with a decimal comma
    return pick(KeyRow{',', ',', keypadDecimal.ctrl, keypadDecimal.alt}, all);
  case 'o':
    return pick(keypadDivide, all);
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
  if (csi && f == 'c' && b[2] == '?') { // the answer to CSI c
    DecodedKey answer = result(used, none);
    answer.report = Report::deviceAttributes;
    return answer;
  }
  if (p.odd || i != paramEnd)
    return result(used, none);
  // The program never asks for mouse reports, so CSI M is st's Ctrl+Delete
  // and not the start of an X10 report.
  return result(used, csi ? csiKey(f, p, mods) : ss3Key(f, p, mods));
}

// The body of DECRQSS's answer for the cursor style, "1$r" Ps " q" (xterm
// and kitty say 1 for a valid request, DEC's own terminals 0).
DecodedKey styleAnswer(const unsigned char *body, std::size_t len,
                       std::size_t used) {
  DecodedKey answer = result(used, none);
  std::size_t i = 3;
  int style = 0;
  for (; i < len && body[i] >= '0' && body[i] <= '9' && style < 100; ++i)
    style = style * 10 + (body[i] - '0');
  if (len >= 6 && (body[0] == '0' || body[0] == '1') && body[1] == '$' &&
      body[2] == 'r' && i > 3 && i + 2 == len && body[i] == ' ' &&
      body[i + 1] == 'q') {
    answer.report = Report::cursorStyle;
    answer.style = style;
  }
  return answer;
}

// OSC, DCS, APC, PM and SOS strings, ended by ST (Esc \) or BEL. Only a
// string whose end came with it is one: users type Alt+P, Alt+] and so on
// as Esc and the key, and what they type next must stay keys of its own.
DecodedKey decodeString(const unsigned char *b, std::size_t len, bool final) {
  for (std::size_t i = 2; i < len; ++i) {
    const bool bell = b[i] == 0x07 && b[1] == ']'; // OSC's own terminator
    if (!bell && b[i] != 0x1B)
      continue;
    if (!bell && i + 1 == len)
      break;
    if (!bell && b[i + 1] != '\\')
      return result(2, altOf(b[1]));
    const std::size_t used = bell ? i + 1 : i + 2;
    return b[1] == 'P' ? styleAnswer(b + 2, i - 2, used) : result(used, none);
  }
  return final ? result(2, altOf(b[1])) : incomplete();
}

// OSC, DCS, APC, PM and SOS: Esc ], P, _, ^ and X.
bool isStringIntroducer(unsigned char c) {
  return c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X';
}

DecodedKey decodeEscape(const unsigned char *b, std::size_t len, bool final) {
  if (len == 1) // a lone Esc is Esc once the short wait has passed
    return final ? result(1, 27) : incomplete();
  const unsigned char c = b[1];
  if (isStringIntroducer(c))
    return decodeString(b, len, final);
  switch (c) {
  case '[':
  case 'O':
    return decodeSequence(b, len, final, 0);

  case 0x1B:
    // urxvt sends Alt with a cursor or function key as Esc and the key's
    // own sequence; Esc Esc on its own is Alt+Esc. Before a string or a
    // private report (CSI ?) the first Esc is a key of its own: Esc
    // pressed just before the terminal answers.
    if (len == 2)
      return final ? result(2, altOf(c)) : incomplete();
    if (isStringIntroducer(b[2]))
      return result(1, 27);
    if (b[2] == '[' || b[2] == 'O') {
      if (len == 3 && !final)
        return incomplete();
      if (len > 3 && b[2] == '[' && b[3] == '?')
        return result(1, 27);
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

// Whether bytes[0..len) are the start of an answer whose end has not come:
// a DCS string that runs to the end (an Esc as its last byte may be the
// first half of its ST), or CSI ? and parameters with no final byte.
bool isCutOffAnswer(const unsigned char *b, std::size_t len) {
  if (len < 3 || b[0] != 0x1B)
    return false;
  if (b[1] == 'P') {
    for (std::size_t i = 2; i + 1 < len; ++i)
      if (b[i] == 0x1B)
        return false;
    return true;
  }
  if (b[1] != '[' || b[2] != '?')
    return false;
  for (std::size_t i = 3; i < len; ++i)
    if ((b[i] < '0' || b[i] > '9') && b[i] != ';')
      return false;
  return true;
}

bool isAnswer(const unsigned char *b, const DecodedKey &item) {
  return item.report != Report::none ||
         (item.count == 0 && item.consumed > 2 && b[1] == 'P');
}

} // namespace

std::size_t withoutAnswers(unsigned char *bytes, std::size_t len) {
  std::size_t kept = 0;
  std::size_t i = 0;
  while (i < len && !isCutOffAnswer(bytes + i, len - i)) {
    const DecodedKey item = decodeKey(bytes + i, len - i, true);
    const auto n = static_cast<std::size_t>(item.consumed);
    if (!isAnswer(bytes + i, item)) {
      std::memmove(bytes + kept, bytes + i, n);
      kept += n;
    }
    i += n;
  }
  return kept;
}

} // namespace quib
