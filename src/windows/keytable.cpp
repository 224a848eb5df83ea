// The Windows console's key table over the PC keyboard's codes. Units: vk
// is a virtual-key code.
#include "keytable.h"

#include "pckeys.h"

namespace quib {
namespace {

using namespace pc;

// The virtual-key codes of the punctuation keys that carry these characters
// on a US keyboard (the VK_OEM_ codes).
struct PunctuationKey {
  int vk;
  char plain;
};
constexpr PunctuationKey punctuationKeys[] = {
    {0xDC, '\\'}, {0xBF, '/'}, {0xBD, '-'}, {0xBB, '='},
    {0xDB, '['},  {0xDD, ']'}, {0xBA, ';'}, {0xDE, '\''},
    {0xBC, ','},  {0xBE, '.'}, {0xC0, '`'}};

// The navigation keys VK_PRIOR (0x21) to VK_DOWN (0x28), in that order.
constexpr KeyRow navigationKeys[] = {pageUpKey, pageDownKey, endKey,   homeKey,
                                     leftKey,   upKey,       rightKey, downKey};

// The keys with an entry of their own.
struct SingleKey {
  int vk;
  KeyRow row;
};
constexpr SingleKey singleKeys[] = {
    {0x08, backspaceKey},   {0x09, tabKey},         {0x0D, enterKey},
    {0x1B, escKey},         {0x20, spaceKey},       {0x2D, insertKey},
    {0x2E, deleteKey},      {0x6A, keypadMultiply}, {0x6B, keypadAdd},
    {0x6D, keypadSubtract}, {0x6E, keypadDecimal},  {0x6F, keypadDivide}};

KeyRow typing(char c) {
  return keyRowOf(*characterKeyOf(static_cast<unsigned char>(c)));
}

bool otherEntryOf(int vk, KeyRow &row) {
  for (const SingleKey &key : singleKeys)
    if (key.vk == vk) {
      row = key.row;
      return true;
    }
  for (const PunctuationKey &key : punctuationKeys)
    if (key.vk == vk) {
      row = typing(key.plain);
      return true;
    }
  return false;
}

// The entry of vk; false when the key has none.
bool entryOf(int vk, KeyRow &row) {
  if (vk >= '0' && vk <= '9')
    row = typing(static_cast<char>(vk));
  else if (vk >= 'A' && vk <= 'Z')
    row = letterKey(vk - 'A');
  else if (vk >= 0x21 && vk <= 0x28)
    row = navigationKeys[vk - 0x21];
  else if (vk >= 0x60 && vk <= 0x69) // VK_NUMPAD0 to VK_NUMPAD9
    row = keypadDigit(vk - 0x60);
  else if (vk >= 0x70 && vk <= 0x7B) // VK_F1 to VK_F12
    row = functionKey(vk - 0x70 + 1);
  else
    return otherEntryOf(vk, row);
  return true;
}

} // namespace

int lookUpKey(int virtualKey, unsigned controlKeyState) {
  KeyRow row{};
  if (!entryOf(virtualKey, row))
    return none;
  if ((controlKeyState & (leftAltPressed | rightAltPressed)) != 0)
    return row.alt;
  if ((controlKeyState & (leftCtrlPressed | rightCtrlPressed)) != 0)
    return row.ctrl;
  if ((controlKeyState & shiftPressed) != 0)
    return row.shift;
  return row.plain;
}

} // namespace quib
