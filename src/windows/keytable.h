// The Windows console's key table: what readKey makes of a key press that
// carries no character, by its virtual-key code and the control keys held.
// A pure function, with no console call.
//
// lookUpKey(virtualKey, controlKeyState) gives pc::none when the press gives
// nothing (a key in no entry, or an empty column), a character code, or a
// two-code key as pc::ext(n) (pckeys.h). The column: either Alt key held,
// the Alt column; otherwise either Ctrl key, the Ctrl column; otherwise
// Shift, the Shift column; otherwise the plain one. The 89 entries are the
// navigation keys, Backspace, Tab, Enter, Esc, Space, the digit and letter
// keys, the numeric keypad with NumLock on, F1-F12 and the eleven
// punctuation keys by their US virtual-key codes. The keypad's keys with
// NumLock off arrive as the navigation keys they stand for.
#pragma once

namespace quib {

// The control-key state bits of a console key event.
constexpr unsigned rightAltPressed = 0x0001;
constexpr unsigned leftAltPressed = 0x0002;
constexpr unsigned rightCtrlPressed = 0x0004;
constexpr unsigned leftCtrlPressed = 0x0008;
constexpr unsigned shiftPressed = 0x0010;

int lookUpKey(int virtualKey, unsigned controlKeyState);

} // namespace quib
