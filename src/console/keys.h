// keys.h - translation of console key presses into extended key codes, and the
// Alt+numeric-keypad composition of character codes.
#pragma once

#include <cstdint>

// Codes for Ctrl with the cursor and keypad keys, indexed by scan code - 71 (scan codes 71..83).
extern const uint8_t ctrl_keypad_codes[13];

// The Alt+keypad composition: whether a code is being composed, and its value so far.
extern bool alt_code_active;
extern uint8_t alt_code_value;

// The extended code of a key press that carries no character or is made with the
// left Alt key alone. Adds a keypad digit to the Alt composition while Alt is held.
uint8_t remap_scan_code(uint8_t scan_code, uint8_t control_state, uint16_t virtual_key);

// At a release of Alt: the composed character code, ending the composition; 0 when none.
uint8_t take_alt_code();
