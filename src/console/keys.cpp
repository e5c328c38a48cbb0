// keys.cpp - extended key codes for key presses with Alt, Ctrl or Shift, and the Alt+keypad composition.
#include "console/keys.h"

#include "platform/platform.h"

// Whether a character code is being composed on the numeric keypad while Alt is held.
bool alt_code_active = false;

// The code composed so far; 8-bit arithmetic, so it wraps modulo 256.
uint8_t alt_code_value = 0;

// Ctrl with Home, Up, PgUp, keypad -, Left, keypad 5, Right, keypad +, End, Down,
// PgDn, Ins, Del (scan codes 71..83). Ctrl with keypad + keeps its scan code 78.
const uint8_t ctrl_keypad_codes[13] = {119, 141, 132, 142, 115, 143, 116,
                                       78,  117, 145, 118, 146, 147};

namespace {

// Alt with the cursor and keypad keys (scan codes 71..83); keypad -, 5 and + keep
// their scan codes (74, 76, 78).
const uint8_t alt_keypad_codes[13] = {151, 152, 153, 74, 155, 76, 157,
                                      78,  159, 160, 161, 162, 163};

// The code of a key pressed with Alt (either Alt key, whatever else is held).
uint8_t alt_code(uint8_t scan_code) {
    if (scan_code >= 2 && scan_code <= 13) {  // main row 1..0, -, =
        return static_cast<uint8_t>(scan_code + 118);
    }
    if (scan_code >= 59 && scan_code <= 68) {  // F1..F10
        return static_cast<uint8_t>(scan_code + 45);
    }
    if (scan_code >= 71 && scan_code <= 83) {
        return alt_keypad_codes[scan_code - 71];
    }
    switch (scan_code) {
    case 28: return 166;  // Enter
    case 53: return 164;  // /
    case 87: return 139;  // F11
    case 88: return 140;  // F12
    default: return scan_code;
    }
}

// The code of a key pressed with Ctrl and no Alt.
uint8_t ctrl_code(uint8_t scan_code) {
    if (scan_code >= 59 && scan_code <= 68) {  // F1..F10
        return static_cast<uint8_t>(scan_code + 35);
    }
    if (scan_code >= 71 && scan_code <= 83) {
        return ctrl_keypad_codes[scan_code - 71];
    }
    switch (scan_code) {
    case 15: return 148;  // Tab
    case 53: return 149;  // /
    case 55: return 150;  // keypad *
    case 87: return 137;  // F11
    case 88: return 138;  // F12
    default: return scan_code;
    }
}

// The code of a key pressed with Shift alone.
uint8_t shift_code(uint8_t scan_code) {
    if (scan_code >= 59 && scan_code <= 68) {  // F1..F10
        return static_cast<uint8_t>(scan_code + 25);
    }
    switch (scan_code) {
    case 87: return 135;  // F11
    case 88: return 136;  // F12
    default: return scan_code;
    }
}

// The code of a key pressed with no modifier: its scan code, but for F11 and F12.
uint8_t plain_code(uint8_t scan_code) {
    switch (scan_code) {
    case 87: return 133;  // F11
    case 88: return 134;  // F12
    default: return scan_code;
    }
}

}  // namespace

// Picks the one table the modifiers select (Alt over Ctrl over Shift; the lock bits
// play no part) and returns the key's code from it. With Alt held, a keypad digit
// (Num Lock on) also joins the character code being composed.
uint8_t remap_scan_code(uint8_t scan_code, uint8_t control_state, uint16_t virtual_key) {
    if ((control_state & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED)) != 0) {
        if (virtual_key >= VK_CODE_NUMPAD0 && virtual_key <= VK_CODE_NUMPAD9) {
            alt_code_active = true;
            alt_code_value =
                static_cast<uint8_t>(alt_code_value * 10 + (virtual_key - VK_CODE_NUMPAD0));
        }
        return alt_code(scan_code);
    }
    if ((control_state & (RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED)) != 0) {
        return ctrl_code(scan_code);
    }
    if ((control_state & SHIFT_PRESSED) != 0) {
        return shift_code(scan_code);
    }
    return plain_code(scan_code);
}

// Hands out the composed code and ends the composition. A composition whose value
// has come to 0 hands out nothing and stays active, so further digits continue it.
uint8_t take_alt_code() {
    if (alt_code_active && alt_code_value != 0) {
        uint8_t code = alt_code_value;
        alt_code_active = false;
        alt_code_value = 0;
        return code;
    }
    return 0;
}
