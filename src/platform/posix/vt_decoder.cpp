// vt_decoder.cpp - the terminal key decoder: input bytes and VT/xterm escape sequences in, console key events out.
//
// Sequences understood (ESC is 0x1B, CSI is "ESC [", SS3 is "ESC O"; m is xterm's
// modifier parameter, 1 + a bit mask of Shift 1, Alt 2, Ctrl 4, Meta 8):
//   CSI A/B/C/D, SS3 A/B/C/D, CSI 1;m A..D       Up, Down, Right, Left
//   CSI H/F, SS3 H/F, CSI 1;m H/F                 Home, End
//   CSI 1~ 7~ / CSI 4~ 8~ (CSI n;m ~)             Home / End (VT220 and rxvt)
//   CSI 2~ 3~ 5~ 6~                               Ins, Del, PgUp, PgDn
//   SS3 P..S, CSI 1;m P..S, CSI 11~..14~          F1..F4
//   CSI 15~ 17~..21~ 23~ 24~                      F5..F12
//   CSI [ A..E                                    F1..F5 (Linux console)
//   CSI E, CSI G, SS3 E                           keypad 5 with Num Lock off
//   CSI Z                                         Shift+Tab
//   CSI n^ / n$ / n@, CSI a..d, SS3 a..d          rxvt's Ctrl, Shift, Ctrl+Shift keys
//   CSI 27;m;c~, CSI c;m u                        a character key with modifiers
//   SS3 M, SS3 j..y, SS3 X                        keypad keys in application mode
//   CSI row;column R                              cursor-position report (when expected)
//   ESC key, ESC ESC sequence                     Alt with that key
// Anything else that starts with ESC is read to its end and dropped.
#include "platform/posix/vt_decoder.h"

// ---------------------------------------------------------------------------
// Keys as the Windows console reports them

// Virtual-key codes of the keys the decoder reports besides the letters and digits.
enum : uint16_t {
    VK_KEY_CLEAR = 0x0C,
    VK_KEY_SPACE = 0x20,
    VK_KEY_PRIOR = 0x21,
    VK_KEY_NEXT = 0x22,
    VK_KEY_END = 0x23,
    VK_KEY_HOME = 0x24,
    VK_KEY_LEFT = 0x25,
    VK_KEY_UP = 0x26,
    VK_KEY_RIGHT = 0x27,
    VK_KEY_DOWN = 0x28,
    VK_KEY_INSERT = 0x2D,
    VK_KEY_DELETE = 0x2E,
    VK_KEY_MULTIPLY = 0x6A,
    VK_KEY_ADD = 0x6B,
    VK_KEY_SEPARATOR = 0x6C,
    VK_KEY_SUBTRACT = 0x6D,
    VK_KEY_DECIMAL = 0x6E,
    VK_KEY_DIVIDE = 0x6F,
    VK_KEY_F1 = 0x70,
    VK_KEY_OEM_1 = 0xBA,       // ; :
    VK_KEY_OEM_PLUS = 0xBB,    // = +
    VK_KEY_OEM_COMMA = 0xBC,   // , <
    VK_KEY_OEM_MINUS = 0xBD,   // - _
    VK_KEY_OEM_PERIOD = 0xBE,  // . >
    VK_KEY_OEM_2 = 0xBF,       // / ?
    VK_KEY_OEM_3 = 0xC0,       // ` ~
    VK_KEY_OEM_4 = 0xDB,       // [ {
    VK_KEY_OEM_5 = 0xDC,       // \ |
    VK_KEY_OEM_6 = 0xDD,       // ] }
    VK_KEY_OEM_7 = 0xDE,       // ' "
};

// A key of the US keyboard: its virtual-key code and set-1 scan code, and whether
// it belongs to the separate cursor block (reported with ENHANCED_KEY).
struct KeyCode {
    uint16_t virtual_key;
    uint8_t scan_code;
    bool enhanced;
};

constexpr KeyCode KEY_UP = {VK_KEY_UP, 72, true};
constexpr KeyCode KEY_DOWN = {VK_KEY_DOWN, 80, true};
constexpr KeyCode KEY_RIGHT = {VK_KEY_RIGHT, 77, true};
constexpr KeyCode KEY_LEFT = {VK_KEY_LEFT, 75, true};
constexpr KeyCode KEY_HOME = {VK_KEY_HOME, 71, true};
constexpr KeyCode KEY_END = {VK_KEY_END, 79, true};
constexpr KeyCode KEY_PGUP = {VK_KEY_PRIOR, 73, true};
constexpr KeyCode KEY_PGDN = {VK_KEY_NEXT, 81, true};
constexpr KeyCode KEY_INSERT = {VK_KEY_INSERT, 82, true};
constexpr KeyCode KEY_DELETE = {VK_KEY_DELETE, 83, true};
constexpr KeyCode KEY_CLEAR = {VK_KEY_CLEAR, 76, false};
constexpr KeyCode KEY_NONE = {0, 0, false};
constexpr KeyCode KEY_BACK = {VK_CODE_BACK, 14, false};
constexpr KeyCode KEY_TAB = {VK_CODE_TAB, 15, false};
constexpr KeyCode KEY_RETURN = {VK_CODE_RETURN, 28, false};
constexpr KeyCode KEY_ESCAPE = {VK_CODE_ESCAPE, 1, false};

// F1..F12: F1..F10 have the scan codes 59..68, F11 and F12 87 and 88.
static KeyCode function_key(int32_t number) {
    uint8_t scan = static_cast<uint8_t>(number <= 10 ? 58 + number : 76 + number);
    return KeyCode{static_cast<uint16_t>(VK_KEY_F1 + number - 1), scan, false};
}

// Set-1 scan codes of the letters A..Z.
static const uint8_t LETTER_SCAN_CODES[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                              49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// The punctuation keys of the US keyboard: the unshifted and the shifted character,
// the virtual-key code and the scan code.
struct PunctuationKey {
    char plain;
    char shifted;
    uint16_t virtual_key;
    uint8_t scan_code;
};
static const PunctuationKey PUNCTUATION_KEYS[] = {
    {'1', '!', '1', 2},   {'2', '@', '2', 3},   {'3', '#', '3', 4},   {'4', '$', '4', 5},
    {'5', '%', '5', 6},   {'6', '^', '6', 7},   {'7', '&', '7', 8},   {'8', '*', '8', 9},
    {'9', '(', '9', 10},  {'0', ')', '0', 11},  {'-', '_', VK_KEY_OEM_MINUS, 12},
    {'=', '+', VK_KEY_OEM_PLUS, 13},            {'[', '{', VK_KEY_OEM_4, 26},
    {']', '}', VK_KEY_OEM_6, 27},               {';', ':', VK_KEY_OEM_1, 39},
    {'\'', '"', VK_KEY_OEM_7, 40},              {'`', '~', VK_KEY_OEM_3, 41},
    {'\\', '|', VK_KEY_OEM_5, 43},              {',', '<', VK_KEY_OEM_COMMA, 51},
    {'.', '>', VK_KEY_OEM_PERIOD, 52},          {'/', '?', VK_KEY_OEM_2, 53},
    {' ', ' ', VK_KEY_SPACE, 57},
};

// The US key that types the printable ASCII character c (0x20..0x7E), and whether
// Shift is needed for it.
static KeyCode printable_key(uint8_t c, bool* shifted) {
    *shifted = false;
    if (c >= 'a' && c <= 'z') {
        return KeyCode{static_cast<uint16_t>(c - 'a' + 'A'), LETTER_SCAN_CODES[c - 'a'], false};
    }
    if (c >= 'A' && c <= 'Z') {
        *shifted = true;
        return KeyCode{c, LETTER_SCAN_CODES[c - 'A'], false};
    }
    for (const PunctuationKey& key : PUNCTUATION_KEYS) {
        if (c == static_cast<uint8_t>(key.plain)) {
            return KeyCode{key.virtual_key, key.scan_code, false};
        }
        if (c == static_cast<uint8_t>(key.shifted)) {
            *shifted = true;
            return KeyCode{key.virtual_key, key.scan_code, false};
        }
    }
    return KEY_NONE;
}

// The character Ctrl gives with the printable character c on Windows: the control
// codes of the letters and of @ [ \ ] ^ _, a space for the space bar, else none.
static uint8_t control_character(uint8_t c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<uint8_t>(c - 'a' + 1);
    }
    if (c >= '@' && c <= '_') {
        return static_cast<uint8_t>(c - '@');
    }
    if (c == ' ') {
        return ' ';
    }
    if (c == '2') {
        return 0;
    }
    if (c == '6') {
        return 30;
    }
    if (c == '-') {
        return 31;
    }
    return 0;
}

// The control-key state of xterm's modifier parameter m (1 + Shift 1, Alt 2,
// Ctrl 4, Meta 8); Meta counts as the left Alt key. Missing or 1: no modifier.
static uint32_t modifier_state(int32_t m) {
    if (m < 2) {
        return 0;
    }
    uint32_t bits = static_cast<uint32_t>(m - 1);
    uint32_t state = 0;
    if ((bits & 1) != 0) {
        state |= SHIFT_PRESSED;
    }
    if ((bits & (2 | 8)) != 0) {
        state |= LEFT_ALT_PRESSED;
    }
    if ((bits & 4) != 0) {
        state |= LEFT_CTRL_PRESSED;
    }
    return state;
}

// ---------------------------------------------------------------------------
// Decoded events

// The decoded events, oldest at event_head.
static InputEvent events[VT_EVENT_CAPACITY];
static uint32_t event_head = 0;
static uint32_t event_count = 0;

// Adds one event; one that finds the queue full is dropped (the back-end never feeds that much).
static void push_event(const InputEvent& event) {
    if (event_count == VT_EVENT_CAPACITY) {
        return;
    }
    events[(event_head + event_count) % VT_EVENT_CAPACITY] = event;
    event_count++;
}

// Adds a press and a release of a key, as the console reports a typed key.
static void push_key(KeyCode key, uint8_t character, uint32_t state) {
    InputEvent event{};
    event.event_type = EVENT_KEY;
    event.key.key_down = true;
    event.key.repeat_count = 1;
    event.key.virtual_key = key.virtual_key;
    event.key.scan_code = key.scan_code;
    event.key.character = character;
    event.key.control_state = state | (key.enhanced ? uint32_t{ENHANCED_KEY} : 0u);
    push_event(event);
    event.key.key_down = false;
    push_event(event);
}

// A key without a character (cursor block, F keys) with the given modifiers.
static void push_special(KeyCode key, uint32_t state) { push_key(key, 0, state); }

// The key the control byte b (0x00..0x1F but Esc, or 0x7F) stands for, with Alt when alt is set.
// Backspace, Tab and Enter keep their characters with Alt; Ctrl with Alt types no
// character on Windows, so Alt+Ctrl+letter carries none.
static void push_control_byte(uint8_t b, bool alt) {
    uint32_t alt_state = alt ? uint32_t{LEFT_ALT_PRESSED} : 0u;
    switch (b) {
        case 0x08:
        case 0x7F:
            push_key(KEY_BACK, 8, alt_state);
            return;
        case 0x09:
            push_key(KEY_TAB, 9, alt_state);
            return;
        case 0x0D:
            push_key(KEY_RETURN, 13, alt_state);
            return;
        default:
            break;
    }
    KeyCode key = KEY_NONE;
    uint32_t state = LEFT_CTRL_PRESSED;
    if (b >= 1 && b <= 26) {
        key = KeyCode{static_cast<uint16_t>('A' + b - 1), LETTER_SCAN_CODES[b - 1], false};
    } else if (b == 0) {  // Ctrl+@ (also Ctrl+Space on many terminals)
        key = KeyCode{'2', 3, false};
        state |= SHIFT_PRESSED;
    } else if (b == 0x1C) {  // Ctrl+backslash
        key = KeyCode{VK_KEY_OEM_5, 43, false};
    } else if (b == 0x1D) {  // Ctrl+]
        key = KeyCode{VK_KEY_OEM_6, 27, false};
    } else if (b == 0x1E) {  // Ctrl+^
        key = KeyCode{'6', 7, false};
        state |= SHIFT_PRESSED;
    } else if (b == 0x1F) {  // Ctrl+_
        key = KeyCode{VK_KEY_OEM_MINUS, 12, false};
        state |= SHIFT_PRESSED;
    } else {
        return;
    }
    push_key(key, alt ? 0 : b, state | alt_state);
}

// Whether the terminal speaks UTF-8 (and the code page is ISO-8859-1).
static bool utf8_terminal = false;

// The key that types character code (a Unicode code point, or a byte of the code
// page when the terminal does not speak UTF-8) with the modifier state given.
// ASCII goes through the US keyboard; other characters have no key of their own
// and are typed as they are, without modifiers; characters outside the code page are dropped.
static void push_character(uint32_t code, uint32_t state) {
    bool alt = (state & LEFT_ALT_PRESSED) != 0;
    bool ctrl = (state & LEFT_CTRL_PRESSED) != 0;
    switch (code) {
        case 8:
        case 127:
            // Ctrl+Backspace types DEL on Windows, Backspace alone the byte 8.
            push_key(KEY_BACK, ctrl && !alt ? 127 : 8, state);
            return;
        case 9:
            push_key(KEY_TAB, 9, state);
            return;
        case 13:
            push_key(KEY_RETURN, ctrl && !alt ? 10 : 13, state);
            return;
        case 27:
            push_key(KEY_ESCAPE, 27, state);
            return;
        default:
            break;
    }
    if (code < 0x20) {
        push_control_byte(static_cast<uint8_t>(code), alt);
        return;
    }
    if (code < 0x7F) {
        uint8_t c = static_cast<uint8_t>(code);
        bool shifted = false;
        KeyCode key = printable_key(c, &shifted);
        if (shifted) {
            state |= SHIFT_PRESSED;
        }
        uint8_t character = c;
        if (ctrl) {
            character = alt ? 0 : control_character(c);
        }
        push_key(key, character, state);
        return;
    }
    bool in_code_page = utf8_terminal ? code >= 0xA0 && code <= 0xFF : code >= 0x80 && code <= 0xFF;
    if (in_code_page) {
        push_key(KEY_NONE, static_cast<uint8_t>(code), 0);
    }
}

// ---------------------------------------------------------------------------
// The cursor-position report

static bool report_expected = false;
static bool report_ready = false;
static int32_t report_row = 0;
static int32_t report_column = 0;

// ---------------------------------------------------------------------------
// The parser

// Where the decoder stands between bytes.
enum class DecoderMode : uint8_t {
    ground,           // between keys
    escape,           // after ESC
    escape_escape,    // after ESC ESC: Esc, or Alt with a sequence that follows
    control_sequence, // inside CSI ...
    single_shift,     // inside SS3 ...
    utf8,             // inside a UTF-8 character
};

static DecoderMode mode = DecoderMode::ground;

// The sequence being read: Alt from a leading extra ESC, its numeric parameters,
// and what marks it as one that is read to its end and dropped.
constexpr uint32_t MAX_PARAMETERS = 8;
constexpr int32_t LARGEST_PARAMETER = 99999;
constexpr uint32_t LONGEST_SEQUENCE = 64;
static bool sequence_alt = false;
static int32_t parameters[MAX_PARAMETERS];
static uint32_t parameter_index = 0;
static bool parameter_seen = false;
static bool in_sub_parameter = false;
static uint32_t sequence_length = 0;
static bool sequence_unknown = false;
static bool linux_function_key = false;

// The UTF-8 character being read: the code so far, the bytes still to come and
// the smallest code its length may carry (larger encodings than needed are refused).
static uint32_t utf8_code = 0;
static uint32_t utf8_remaining = 0;
static uint32_t utf8_minimum = 0;

// Starts reading a CSI or SS3 sequence.
static void begin_sequence(DecoderMode sequence_mode, bool alt) {
    mode = sequence_mode;
    sequence_alt = alt;
    for (int32_t& parameter : parameters) {
        parameter = 0;
    }
    parameter_index = 0;
    parameter_seen = false;
    in_sub_parameter = false;
    sequence_length = 0;
    sequence_unknown = false;
    linux_function_key = false;
}

// How many parameters the sequence carried.
static uint32_t parameter_count() { return parameter_seen ? parameter_index + 1 : 0; }

// The parameter at index; missing ones are 0.
static int32_t parameter(uint32_t index) { return index < parameter_count() ? parameters[index] : 0; }

// Takes a parameter byte (0..9 ; :) of a sequence. Sub-parameters after ":" are
// read over: only the first number of each parameter counts.
static void take_parameter_byte(uint8_t b) {
    parameter_seen = true;
    if (b == ';') {
        in_sub_parameter = false;
        if (parameter_index + 1 < MAX_PARAMETERS) {
            parameter_index++;
        } else {
            sequence_unknown = true;
        }
    } else if (b == ':') {
        in_sub_parameter = true;
    } else if (!in_sub_parameter) {
        int32_t& value = parameters[parameter_index];
        value = value * 10 + (b - '0');
        if (value > LARGEST_PARAMETER) {
            value = LARGEST_PARAMETER;
        }
    }
}

// The modifier state of the letter-ended sequences: CSI 1;m X carries it second,
// and a lone number above 1 is taken as the modifier too (CSI m X).
static uint32_t letter_modifiers() {
    if (parameter_count() >= 2) {
        return modifier_state(parameter(1));
    }
    return modifier_state(parameter(0));
}

// The key of "CSI n ~" for n, or KEY_NONE.
static KeyCode tilde_key(int32_t n) {
    switch (n) {
        case 1:
        case 7:
            return KEY_HOME;
        case 2:
            return KEY_INSERT;
        case 3:
            return KEY_DELETE;
        case 4:
        case 8:
            return KEY_END;
        case 5:
            return KEY_PGUP;
        case 6:
            return KEY_PGDN;
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return function_key(n - 10);
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            return function_key(n - 11);
        case 23:
        case 24:
            return function_key(n - 12);
        default:
            return KEY_NONE;
    }
}

// The cursor or function key that ends a CSI or SS3 sequence with the letter
// final, or KEY_NONE.
static KeyCode letter_key(uint8_t final_byte) {
    switch (final_byte) {
        case 'A':
            return KEY_UP;
        case 'B':
            return KEY_DOWN;
        case 'C':
            return KEY_RIGHT;
        case 'D':
            return KEY_LEFT;
        case 'H':
            return KEY_HOME;
        case 'F':
            return KEY_END;
        case 'E':
            return KEY_CLEAR;
        case 'P':
            return function_key(1);
        case 'Q':
            return function_key(2);
        case 'R':
            return function_key(3);
        case 'S':
            return function_key(4);
        default:
            return KEY_NONE;
    }
}

// The arrow of rxvt's lower-case finals a..d (Up, Down, Right, Left).
static KeyCode rxvt_arrow(uint8_t final_byte) {
    static const KeyCode arrows[4] = {KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT};
    return arrows[final_byte - 'a'];
}

// Acts on a complete CSI sequence ending in final_byte.
static void finish_control_sequence(uint8_t final_byte) {
    uint32_t alt = sequence_alt ? uint32_t{LEFT_ALT_PRESSED} : 0u;
    if (sequence_unknown) {
        return;
    }
    if (linux_function_key) {
        // ESC [ [ A .. ESC [ [ E: F1..F5 of the Linux console.
        if (final_byte >= 'A' && final_byte <= 'E') {
            push_special(function_key(final_byte - 'A' + 1), alt);
        }
        return;
    }
    switch (final_byte) {
        case 'R':
            // ESC [ row ; column R answers the cursor-position query; without a
            // query outstanding, ESC [ 1 ; m R is F3 with modifiers.
            if (report_expected) {
                report_expected = false;
                report_ready = true;
                report_row = parameter(0) > 0 ? parameter(0) : 1;
                report_column = parameter(1) > 0 ? parameter(1) : 1;
                return;
            }
            if (parameter_count() == 2 && parameter(0) != 1) {
                return;  // a report that came too late
            }
            push_special(function_key(3), letter_modifiers() | alt);
            return;
        case 'A':
        case 'B':
        case 'C':
        case 'D':
        case 'H':
        case 'F':
        case 'E':
        case 'P':
        case 'Q':
        case 'S':
            push_special(letter_key(final_byte), letter_modifiers() | alt);
            return;
        case 'G':  // keypad 5 on the Linux console
            push_special(KEY_CLEAR, letter_modifiers() | alt);
            return;
        case 'Z':  // back tab
            push_key(KEY_TAB, 9, SHIFT_PRESSED | letter_modifiers() | alt);
            return;
        case 'a':
        case 'b':
        case 'c':
        case 'd':
            push_special(rxvt_arrow(final_byte), SHIFT_PRESSED | alt);
            return;
        case 'u':
            // ESC [ code ; m u: a character key with modifiers.
            push_character(static_cast<uint32_t>(parameter(0)), modifier_state(parameter(1)) | alt);
            return;
        case '~':
        case '^':
        case '$':
        case '@': {
            if (final_byte == '~' && parameter(0) == 27 && parameter_count() >= 3) {
                // ESC [ 27 ; m ; code ~: xterm's form of a character key with modifiers.
                push_character(static_cast<uint32_t>(parameter(2)), modifier_state(parameter(1)) | alt);
                return;
            }
            KeyCode key = tilde_key(parameter(0));
            if (key.virtual_key == 0) {
                return;
            }
            uint32_t state = modifier_state(parameter(1)) | alt;
            if (final_byte == '^' || final_byte == '@') {
                state |= LEFT_CTRL_PRESSED;
            }
            if (final_byte == '$' || final_byte == '@') {
                state |= SHIFT_PRESSED;
            }
            push_special(key, state);
            return;
        }
        default:
            return;
    }
}

// Acts on a complete SS3 sequence ending in final_byte. A parameter, where a
// terminal sends one, is the modifier (ESC O 5 A, ESC O 1;5 A).
static void finish_single_shift(uint8_t final_byte) {
    uint32_t alt = sequence_alt ? uint32_t{LEFT_ALT_PRESSED} : 0u;
    if (sequence_unknown) {
        return;
    }
    uint32_t count = parameter_count();
    uint32_t state = (count > 0 ? modifier_state(parameter(count - 1)) : 0) | alt;
    KeyCode key = letter_key(final_byte);
    if (key.virtual_key != 0) {
        push_special(key, state);
        return;
    }
    if (final_byte >= 'a' && final_byte <= 'd') {  // rxvt's Ctrl with the arrows
        push_special(rxvt_arrow(final_byte), LEFT_CTRL_PRESSED | state);
        return;
    }
    // The numeric keypad in application mode: digits and operators with Num Lock on.
    static const uint8_t KEYPAD_DIGIT_SCAN_CODES[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
    state |= NUMLOCK_ON;
    if (final_byte >= 'p' && final_byte <= 'y') {
        int digit = final_byte - 'p';
        push_key(KeyCode{static_cast<uint16_t>(VK_CODE_NUMPAD0 + digit), KEYPAD_DIGIT_SCAN_CODES[digit], false},
                 static_cast<uint8_t>('0' + digit), state);
        return;
    }
    switch (final_byte) {
        case 'M':
            push_key(KeyCode{VK_CODE_RETURN, 28, true}, 13, state);
            return;
        case 'j':
            push_key(KeyCode{VK_KEY_MULTIPLY, 55, false}, '*', state);
            return;
        case 'k':
            push_key(KeyCode{VK_KEY_ADD, 78, false}, '+', state);
            return;
        case 'l':
            push_key(KeyCode{VK_KEY_SEPARATOR, 83, false}, ',', state);
            return;
        case 'm':
            push_key(KeyCode{VK_KEY_SUBTRACT, 74, false}, '-', state);
            return;
        case 'n':
            push_key(KeyCode{VK_KEY_DECIMAL, 83, false}, '.', state);
            return;
        case 'o':
            push_key(KeyCode{VK_KEY_DIVIDE, 53, true}, '/', state);
            return;
        case 'X':
            push_key(KeyCode{VK_KEY_OEM_PLUS, 13, false}, '=', state);
            return;
        default:
            return;
    }
}

static void decode_byte(uint8_t b);

// A byte between keys: a control key, Esc's start, a character, or a UTF-8 lead byte.
static void decode_ground(uint8_t b) {
    if (b == 0x1B) {
        mode = DecoderMode::escape;
        return;
    }
    if (b < 0x20 || b == 0x7F) {
        push_control_byte(b, false);
        return;
    }
    if (b < 0x80 || !utf8_terminal) {
        push_character(b, 0);
        return;
    }
    // The lead byte of a UTF-8 character: C2..DF two bytes, E0..EF three, F0..F4
    // four. Stray continuation bytes and impossible leads are dropped.
    if (b >= 0xC2 && b <= 0xDF) {
        utf8_code = b & 0x1Fu;
        utf8_remaining = 1;
        utf8_minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        utf8_code = b & 0x0Fu;
        utf8_remaining = 2;
        utf8_minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        utf8_code = b & 0x07u;
        utf8_remaining = 3;
        utf8_minimum = 0x10000;
    } else {
        return;
    }
    mode = DecoderMode::utf8;
}

// A byte after ESC: the start of a sequence, or Alt with a key.
static void decode_escape(uint8_t b) {
    if (b == '[') {
        begin_sequence(DecoderMode::control_sequence, false);
    } else if (b == 'O') {
        begin_sequence(DecoderMode::single_shift, false);
    } else if (b == 0x1B) {
        mode = DecoderMode::escape_escape;
    } else if (b < 0x20 || b == 0x7F) {
        mode = DecoderMode::ground;
        push_control_byte(b, true);
    } else if (b < 0x80) {
        mode = DecoderMode::ground;
        push_character(b, LEFT_ALT_PRESSED);
    } else {
        // Alt with a non-ASCII character: the character alone, as it has no key of its own.
        mode = DecoderMode::ground;
        decode_ground(b);
    }
}

// A byte after ESC ESC: a sequence that follows takes Alt; anything else makes
// the first ESC the Esc key and the second one a new start.
static void decode_escape_escape(uint8_t b) {
    if (b == '[') {
        begin_sequence(DecoderMode::control_sequence, true);
    } else if (b == 'O') {
        begin_sequence(DecoderMode::single_shift, true);
    } else {
        push_key(KEY_ESCAPE, 27, 0);
        mode = DecoderMode::escape;
        decode_escape(b);
    }
}

// A byte inside CSI ... : parameters up to the final byte (0x40..0x7E). A control
// byte or a non-ASCII byte cuts the sequence off, and is then taken on its own.
static void decode_control_sequence(uint8_t b) {
    if (b < 0x20 || b >= 0x80) {
        mode = DecoderMode::ground;
        decode_byte(b);
        return;
    }
    if (b == 0x7F) {
        return;  // ignored inside a sequence, as terminals do
    }
    bool first = sequence_length == 0;
    sequence_length++;
    if (sequence_length > LONGEST_SEQUENCE) {
        sequence_unknown = true;
    }
    if (linux_function_key) {
        mode = DecoderMode::ground;
        finish_control_sequence(b);
        return;
    }
    if (first && b == '[') {
        linux_function_key = true;
        return;
    }
    if ((b >= '0' && b <= '9') || b == ';' || b == ':') {
        take_parameter_byte(b);
        return;
    }
    if (b >= 0x3C && b <= 0x3F) {
        sequence_unknown = true;  // private markers: no key is sent that way
        return;
    }
    if (b == '$') {
        // rxvt ends Shift with the editing keys in "$" (ESC [ 2 $), which is
        // otherwise an intermediate byte.
        mode = DecoderMode::ground;
        finish_control_sequence(b);
        return;
    }
    if (b < 0x30) {
        sequence_unknown = true;  // intermediate bytes: not a key
        return;
    }
    mode = DecoderMode::ground;
    finish_control_sequence(b);
}

// A byte inside SS3 ... : an optional modifier parameter, then the final byte.
static void decode_single_shift(uint8_t b) {
    if (b < 0x20 || b >= 0x80) {
        mode = DecoderMode::ground;
        decode_byte(b);
        return;
    }
    sequence_length++;
    if (sequence_length > LONGEST_SEQUENCE) {
        sequence_unknown = true;
    }
    if ((b >= '0' && b <= '9') || b == ';' || b == ':') {
        take_parameter_byte(b);
        return;
    }
    if (b < 0x40 || b == 0x7F) {
        sequence_unknown = true;
        return;
    }
    mode = DecoderMode::ground;
    finish_single_shift(b);
}

// A continuation byte of a UTF-8 character; anything else drops the character
// and is taken on its own.
static void decode_utf8(uint8_t b) {
    if ((b & 0xC0) != 0x80) {
        mode = DecoderMode::ground;
        decode_byte(b);
        return;
    }
    utf8_code = (utf8_code << 6) | (b & 0x3Fu);
    if (--utf8_remaining > 0) {
        return;
    }
    mode = DecoderMode::ground;
    if (utf8_code >= utf8_minimum) {
        push_character(utf8_code, 0);
    }
}

// Takes one byte in the mode the decoder stands in.
static void decode_byte(uint8_t b) {
    switch (mode) {
        case DecoderMode::ground:
            decode_ground(b);
            return;
        case DecoderMode::escape:
            decode_escape(b);
            return;
        case DecoderMode::escape_escape:
            decode_escape_escape(b);
            return;
        case DecoderMode::control_sequence:
            decode_control_sequence(b);
            return;
        case DecoderMode::single_shift:
            decode_single_shift(b);
            return;
        case DecoderMode::utf8:
            decode_utf8(b);
            return;
    }
}

// ---------------------------------------------------------------------------
// Operations

void vt_decoder_reset(bool utf8) {
    utf8_terminal = utf8;
    mode = DecoderMode::ground;
    event_head = 0;
    event_count = 0;
    report_expected = false;
    report_ready = false;
    begin_sequence(DecoderMode::ground, false);
    utf8_remaining = 0;
}

void vt_decoder_feed(const char* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; i++) {
        decode_byte(static_cast<uint8_t>(bytes[i]));
    }
}

uint32_t vt_decoder_room() { return (VT_EVENT_CAPACITY - event_count) / VT_EVENTS_PER_BYTE; }

bool vt_decoder_has_partial() { return mode != DecoderMode::ground; }

void vt_decoder_flush() {
    DecoderMode was = mode;
    mode = DecoderMode::ground;
    switch (was) {
        case DecoderMode::escape:
            push_key(KEY_ESCAPE, 27, 0);
            return;
        case DecoderMode::escape_escape:
            push_key(KEY_ESCAPE, 27, 0);
            push_key(KEY_ESCAPE, 27, 0);
            return;
        case DecoderMode::control_sequence:
        case DecoderMode::single_shift:
            // A bare ESC [ or ESC O is what Alt+[ and Alt+O send.
            if (sequence_length == 0) {
                if (sequence_alt) {
                    push_key(KEY_ESCAPE, 27, 0);
                }
                push_character(was == DecoderMode::control_sequence ? '[' : 'O', LEFT_ALT_PRESSED);
            }
            return;
        case DecoderMode::ground:
        case DecoderMode::utf8:
            return;
    }
}

uint32_t vt_decoder_event_count() { return event_count; }

bool vt_decoder_take(InputEvent* event) {
    if (event_count == 0) {
        return false;
    }
    *event = events[event_head];
    event_head = (event_head + 1) % VT_EVENT_CAPACITY;
    event_count--;
    return true;
}

void vt_decoder_expect_cursor_report() {
    report_expected = true;
    report_ready = false;
}

bool vt_decoder_take_cursor_report(int32_t* row, int32_t* column) {
    if (!report_ready) {
        return false;
    }
    report_ready = false;
    *row = report_row;
    *column = report_column;
    return true;
}
