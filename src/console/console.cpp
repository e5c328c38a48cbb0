// console.cpp - console services over the platform seam: start-up, cursor, screen size, key input.
#include "console/console.h"

#include "console/keys.h"
#include "platform/platform.h"

namespace {

// The size of the screen assumed, and tracked, when standard output is no console.
constexpr int32_t VIRTUAL_SCREEN_WIDTH = 80;
constexpr int32_t VIRTUAL_SCREEN_HEIGHT = 25;

// The key byte standard input gives at its end or on a read error: Ctrl+C, so
// that the editor gives up instead of waiting for a key that never comes.
constexpr uint8_t END_OF_INPUT_KEY = 3;

// Whether standard input delivers console key events, and whether standard output
// is a console whose cursor can be queried and placed.
bool input_is_console = false;
bool output_is_console = false;

// The screen record: filled at start-up and by every cursor query.
ScreenInfo screen_record{};

// The screen buffer's size as read at start-up.
int32_t screen_columns = 0;
int32_t screen_rows = 0;

// The key byte read_key hands out next (0: no key waiting), and whether it is an
// extended code whose leading 0 has not been handed out yet.
uint8_t pending_key = 0;
bool extended_pending = false;

// Standard input as a stream of key bytes when it is no console: a small buffer of
// bytes read ahead, whether the input has ended, whether the last byte handed out
// was a CR (so a LF right after it belongs to the same line end), and whether the
// last byte handed out was a 0 (so the next byte is an extended code, taken as it is).
char stream_buffer[64];
int32_t stream_length = 0;
int32_t stream_position = 0;
bool stream_ended = false;
bool stream_after_cr = false;
bool stream_code_next = false;

// The tracked cursor cell, 1-based, when standard output is no console.
int32_t virtual_column = 1;
int32_t virtual_row = 1;

// The next raw byte of the input stream; false at its end or on a read error,
// after which the stream counts as ended for good.
bool next_stream_byte(uint8_t* byte) {
    if (stream_ended) {
        return false;
    }
    if (stream_position == stream_length) {
        int32_t count = platform_read_input_bytes(stream_buffer, sizeof stream_buffer);
        if (count <= 0) {
            stream_ended = true;
            return false;
        }
        stream_length = count;
        stream_position = 0;
    }
    *byte = static_cast<uint8_t>(stream_buffer[stream_position++]);
    return true;
}

// The next key byte of an input stream: bytes as they come, but CR, LF and CR LF
// each give one Enter (13), and the end of the input gives Ctrl+C (3) every time.
// The byte after a 0 is an extended code and is handed out unchanged.
uint8_t read_stream_key() {
    uint8_t byte = 0;
    for (;;) {
        if (!next_stream_byte(&byte)) {
            return END_OF_INPUT_KEY;
        }
        if (stream_code_next) {
            stream_code_next = false;
            stream_after_cr = false;
            return byte;
        }
        if (byte == '\n' && stream_after_cr) {
            stream_after_cr = false;  // the LF of a CR LF: the CR gave the Enter
            continue;
        }
        stream_after_cr = byte == '\r';
        stream_code_next = byte == 0;
        return byte == '\r' || byte == '\n' ? 13 : byte;
    }
}

// Whether a key press is of a modifier or lock key, which gives no key on its own.
bool is_modifier_key(uint16_t virtual_key) {
    switch (virtual_key) {
    case VK_CODE_SHIFT:
    case VK_CODE_CONTROL:
    case VK_CODE_MENU:
    case VK_CODE_CAPITAL:
    case VK_CODE_NUMLOCK:
    case VK_CODE_SCROLL:
        return true;
    default:
        return false;
    }
}

// Looks at one input event and makes its key waiting, if it gives one. Returns
// whether a key is now waiting.
bool take_key_from(const InputEvent& event) {
    if (event.event_type != EVENT_KEY) {
        return false;
    }
    const KeyEvent& key = event.key;
    if (!key.key_down) {
        // Only the release of Alt gives a key: the character composed on the keypad.
        if (key.virtual_key == VK_CODE_MENU) {
            pending_key = take_alt_code();
            extended_pending = false;
            return pending_key != 0;
        }
        return false;
    }
    if (is_modifier_key(key.virtual_key)) {
        return false;
    }
    if (key.character == 0 || key.control_state == LEFT_ALT_PRESSED) {
        // Only the low 8 bits of the scan code and of the control state take part.
        pending_key = remap_scan_code(static_cast<uint8_t>(key.scan_code),
                                      static_cast<uint8_t>(key.control_state), key.virtual_key);
        extended_pending = true;
    } else {
        pending_key = key.character;
        extended_pending = false;
    }
    // A keypad digit pressed with Alt belongs to the composition and gives no key.
    bool alt_digit = key.virtual_key >= VK_CODE_NUMPAD0 && key.virtual_key <= VK_CODE_NUMPAD9 &&
                     (key.control_state & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED)) != 0;
    // An extended key whose code is 0 is dropped too: a lone 0 would make the
    // editor take the first byte of the next key as its code.
    if (alt_digit || pending_key == 0) {
        pending_key = 0;
        extended_pending = false;
        return false;
    }
    return true;
}

}  // namespace

// Prepares the console once: the control handler, Ctrl+C as the key 3 (processed
// input off, every other mode bit kept), and the screen size. Standard output that
// is no console gets a tracked screen of 80 x 25 cells.
void console_init() {
    input_is_console = platform_console_open();
    output_is_console = platform_output_is_console();
    pending_key = 0;
    extended_pending = false;
    stream_length = 0;
    stream_position = 0;
    stream_ended = false;
    stream_after_cr = false;
    stream_code_next = false;
    virtual_column = 1;
    virtual_row = 1;

    platform_set_control_handler(console_ctrl_handler);
    if (input_is_console) {
        platform_set_input_mode(platform_get_input_mode() & ~INPUT_MODE_PROCESSED);
    }
    if (output_is_console) {
        screen_record = ScreenInfo{};
        platform_screen_info(&screen_record);
        screen_columns = screen_record.width;
        screen_rows = screen_record.height;
    } else {
        screen_columns = VIRTUAL_SCREEN_WIDTH;
        screen_rows = VIRTUAL_SCREEN_HEIGHT;
    }
}

int32_t screen_width() { return screen_columns; }

int32_t screen_height() { return screen_rows; }

// The cursor's column, queried afresh from the console (or the tracked one).
int32_t cursor_column() {
    if (!output_is_console) {
        return virtual_column;
    }
    platform_screen_info(&screen_record);
    return screen_record.cursor_x + 1;
}

// The cursor's row, queried afresh from the console (or the tracked one).
int32_t cursor_row() {
    if (!output_is_console) {
        return virtual_row;
    }
    platform_screen_info(&screen_record);
    return screen_record.cursor_y + 1;
}

// Places the cursor on a cell inside the start-up screen size; a cell outside it is
// ignored, neither clamped nor reported. Without a console only the tracked cell
// moves: nothing is written into a file or pipe.
void move_cursor_to(int32_t column, int32_t row) {
    if (column < 1 || column > screen_columns || row < 1 || row > screen_rows) {
        return;
    }
    if (!output_is_console) {
        virtual_column = column;
        virtual_row = row;
        return;
    }
    platform_set_cursor(static_cast<int16_t>(column - 1), static_cast<int16_t>(row - 1));
}

// Whether a key is waiting. Reads, one at a time and in order, at most the events
// counted at the start, until one gives a key; the events behind it stay queued.
// An input stream answers false: its bytes are read by read_key only, never discarded.
bool key_available() {
    if (pending_key != 0) {
        return true;
    }
    if (!input_is_console) {
        return false;
    }
    uint32_t count = platform_input_event_count();
    for (uint32_t i = 0; i < count; ++i) {
        InputEvent event{};
        if (!platform_read_input_event(&event)) {
            return false;
        }
        if (take_key_from(event)) {
            return true;
        }
    }
    return false;
}

// Hands out the next key byte, polling with a short pause before every test. An
// extended key comes in two calls: 0, then its code. An input stream is read directly.
uint8_t read_key() {
    if (!input_is_console) {
        return read_stream_key();
    }
    do {
        platform_pause(pending_key == 0);
    } while (!key_available());
    if (extended_pending) {
        extended_pending = false;
        return 0;
    }
    uint8_t key = pending_key;
    pending_key = 0;
    return key;
}

// Ctrl+Break counts as handled so the process goes on; every other control event
// (close, logoff, shutdown) is passed on to the next handler.
bool console_ctrl_handler(uint32_t event_type) { return event_type == CONTROL_BREAK_EVENT; }

// Follows the bytes written to standard output on the tracked screen when standard
// output is no console: characters advance and wrap at the last column, CR returns
// to column 1, LF goes to column 1 of the next row, BS steps one back, BEL shows
// nothing; on the last row the screen scrolls, so the row stays.
void console_note_output(const char* data, uint32_t size) {
    if (output_is_console) {
        return;
    }
    for (uint32_t i = 0; i < size; ++i) {
        switch (data[i]) {
        case '\r':
            virtual_column = 1;
            break;
        case '\n':
            virtual_column = 1;
            if (virtual_row < VIRTUAL_SCREEN_HEIGHT) {
                ++virtual_row;
            }
            break;
        case '\b':
            if (virtual_column > 1) {
                --virtual_column;
            }
            break;
        case '\a':
            break;
        default:
            if (++virtual_column > VIRTUAL_SCREEN_WIDTH) {
                virtual_column = 1;
                if (virtual_row < VIRTUAL_SCREEN_HEIGHT) {
                    ++virtual_row;
                }
            }
        }
    }
}
