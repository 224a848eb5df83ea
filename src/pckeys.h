// The PC keyboard's key codes, which readKey returns on every platform: for
// each key its result in four columns, plain, Shift, Ctrl and Alt. Both key
// modules, the terminal's decoder and the console's key table, read them
// from here, and so do the editor and the prompts.
//
// A result is none (the press gives nothing), a character code 0-255, or a
// two-code key "0, n" written as ext(n). Most extended codes n are the key's
// scan code of scan-code set 1.
#pragma once

namespace quib::pc {

constexpr int none = -1;
constexpr int extendedBase = 256;
constexpr int ext(int n) { return extendedBase + n; }
// The second code readKey gives for a two-code key's result: n of ext(n).
constexpr int secondCode(int result) { return result - extendedBase; }

// What readKey returns besides the keys' codes: 0 first of a two-code key's
// two, and -1 when the console cannot be read.
constexpr int twoCodeKey = 0;
constexpr int readError = -1;

struct KeyRow {
  int plain;
  int shift;
  int ctrl;
  int alt;
};

// The navigation keys; the keypad's with NumLock off give the same.
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

// The keys of the control characters.
constexpr KeyRow backspaceKey{8, 8, 127, ext(14)};
constexpr KeyRow tabKey{9, ext(15), ext(148), ext(165)};
constexpr KeyRow enterKey{13, 13, 10, ext(166)};
constexpr KeyRow escKey{27, 27, 27, ext(1)};
constexpr KeyRow spaceKey{32, 32, ext(3), 32};

// F1-F12, n counted from 1.
constexpr KeyRow functionKey(int n) {
  if (n == 11)
    return {ext(133), ext(135), ext(137), ext(139)};
  if (n == 12)
    return {ext(134), ext(136), ext(138), ext(140)};
  return {ext(58 + n), ext(83 + n), ext(93 + n), ext(103 + n)};
}

// The numeric keypad with NumLock on: digit d, and the operator keys.
constexpr KeyRow keypadDigit(int d) {
  constexpr int shifted[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  constexpr int ctrl[10] = {146, 117, 145, 118, 115, 143, 116, 119, 141, 132};
  return {'0' + d, ext(shifted[d]), ext(ctrl[d]), none};
}
constexpr KeyRow keypadMultiply{'*', '*', ext(150), ext(55)};
constexpr KeyRow keypadAdd{'+', '+', ext(144), ext(78)};
constexpr KeyRow keypadSubtract{'-', '-', ext(142), ext(74)};
constexpr KeyRow keypadDecimal{'.', '.', ext(83), ext(147)};
constexpr KeyRow keypadDivide{'/', '/', ext(149), ext(164)};

// Set-1 scan codes of the letter keys A-Z on a US keyboard.
constexpr unsigned char letterScanCode[26] = {
    30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// The letter key A-Z, k counted from 0.
constexpr KeyRow letterKey(int k) {
  return {'a' + k, 'A' + k, k + 1, ext(letterScanCode[k])};
}

// The digit row and the eleven punctuation keys of a US keyboard: the
// character each types plain and with Shift, its Ctrl and its Alt result.
struct CharacterKey {
  char plain;
  char shifted;
  int ctrl;
  int alt;
};
constexpr CharacterKey characterKeys[] = {
    {'1', '!', none, ext(120)}, {'2', '@', ext(3), ext(121)},
    {'3', '#', none, ext(122)}, {'4', '$', none, ext(123)},
    {'5', '%', none, ext(124)}, {'6', '^', 30, ext(125)},
    {'7', '&', none, ext(126)}, {'8', '*', none, ext(127)},
    {'9', '(', none, ext(128)}, {'0', ')', none, ext(129)},
    {'\\', '|', 28, ext(43)},   {'/', '?', none, ext(53)},
    {'[', '{', 27, ext(26)},    {']', '}', 29, ext(27)},
    {';', ':', none, ext(39)},  {'\'', '"', none, ext(40)},
    {',', '<', none, ext(51)},  {'.', '>', none, ext(52)},
    {'`', '~', none, ext(41)},  {'-', '_', 31, ext(130)},
    {'=', '+', none, ext(131)}};

// The key of the table that types c, with or without Shift; nullptr for
// none.
constexpr const CharacterKey *characterKeyOf(unsigned char c) {
  for (const CharacterKey &key : characterKeys)
    if (c == static_cast<unsigned char>(key.plain) ||
        c == static_cast<unsigned char>(key.shifted))
      return &key;
  return nullptr;
}

constexpr KeyRow keyRowOf(const CharacterKey &key) {
  return {static_cast<unsigned char>(key.plain),
          static_cast<unsigned char>(key.shifted), key.ctrl, key.alt};
}

} // namespace quib::pc
