// editor.cpp - the line editor: state, display, key loop and editing commands.
#include "editor/editor.h"

#include "console/console.h"
#include "console/output.h"
#include "editor/editor_internal.h"
#include "editor/text_buffer.h"

#include <cstring>

// The characters that separate words for Ctrl+Left and Ctrl+Right: Tab, blank and
// semicolon. Every other character, punctuation included, belongs to a word.
constexpr char WORD_DELIMITERS[] = "\t ;";

// The largest number of characters any of the editor's buffers can hold.
constexpr int32_t MAX_TEXT_LENGTH = TEXT_BUFFER_SIZE - 1;

// Key codes the key loop answers to: plain codes first, then the second codes of extended keys.
enum : uint8_t {
    KEY_EXTENDED = 0,
    KEY_CTRL_C = 3,
    KEY_BACKSPACE = 8,
    KEY_ENTER = 13,
    KEY_CTRL_U = 21,
    KEY_ESCAPE = 27,
    KEY_FIRST_PRINTABLE = 32,
    KEY_DELETE_CHAR = 127,  // the control code 127, not the Del key
};
enum : uint8_t {
    EXT_HOME = 71,
    EXT_LEFT = 75,
    EXT_RIGHT = 77,
    EXT_END = 79,
    EXT_INSERT = 82,
    EXT_DELETE = 83,
    EXT_CTRL_LEFT = 115,
    EXT_CTRL_RIGHT = 116,
    EXT_CTRL_END = 117,
    EXT_CTRL_HOME = 119,
};

// The one edit in progress.
static EditorState state;

// The initial text as prepared by edit_line, kept unchanged for Ctrl+U.
static char saved_text[TEXT_BUFFER_SIZE];

// The line image that redraw_from_cursor builds and writes.
static char line_image[TEXT_BUFFER_SIZE];

const EditorState& editor_state() { return state; }

// ---------------------------------------------------------------------------
// Helpers

// Writes size bytes at the console cursor as one write statement, handed to the
// system at once, and ends the process with the failure report if it failed.
static void write_display(const char* data, int32_t size) {
    write_stdout(data, static_cast<uint32_t>(size));
    check_output();
}

// The number of characters in the text being edited.
static int32_t text_length() { return static_cast<int32_t>(std::strlen(state.text)); }

// Whether ch separates words.
static bool is_word_delimiter(char ch) {
    return ch != '\0' && std::strchr(WORD_DELIMITERS, ch) != nullptr;
}

// Whether the character at 1-based position p starts a word: it is no delimiter and
// the character before it is one.
static bool starts_word(int32_t p) {
    return is_word_delimiter(state.text[p - 2]) && !is_word_delimiter(state.text[p - 1]);
}

// ---------------------------------------------------------------------------
// Display

// Moves the console cursor n cells back from where it stands. A step from column 1
// goes to the last column of the row above; on row 1 it stays in column 1. The
// cursor is placed once at the end, also when n <= 0.
static void move_left_wrapped(int32_t n) {
    int32_t col = cursor_column();
    int32_t row = cursor_row();
    for (int32_t step = 0; step < n; ++step) {
        if (col == 1) {
            if (row > 1) {
                col = screen_width();
                row -= 1;
            }
        } else {
            col -= 1;
        }
    }
    move_cursor_to(col, row);
}

// Moves the console cursor n cells on from where it stands. A step from the last
// column goes to column 1 of the row below; on the last row it stays in the last column.
static void move_right_wrapped(int32_t n) {
    int32_t col = cursor_column();
    int32_t row = cursor_row();
    for (int32_t step = 0; step < n; ++step) {
        if (col == screen_width()) {
            if (row < screen_height()) {
                col = 1;
                row += 1;
            }
        } else {
            col += 1;
        }
    }
    move_cursor_to(col, row);
}

// Rewrites the line from the cursor's position to shown_length: the text (or
// asterisks) and blanks after it, so that characters removed from the text vanish
// from the screen. Only the part from the cursor on is written; the console cursor
// then goes back to the cursor's position.
static void redraw_from_cursor() {
    int32_t length = text_length();
    int32_t skip = state.cursor - 1;
    int32_t left = skip >= state.shown_length ? 0 : state.shown_length - skip;
    for (int32_t i = skip; i < state.shown_length; ++i) {
        if (i < length) {
            line_image[i] = state.mask_input ? '*' : state.text[i];
        } else {
            line_image[i] = ' ';
        }
    }
    if (left > 0) {
        write_display(line_image + skip, left);
    }
    move_left_wrapped(left);
}

// ---------------------------------------------------------------------------
// Cursor operations

// Moves the cursor n positions back; the caller keeps n within 1..cursor - 1.
static void cursor_left(int32_t n) {
    if (text_length() > 0 && state.cursor > 1) {
        move_left_wrapped(n);
        state.cursor -= n;
    }
}

// Moves the cursor n positions on; the caller keeps n within 1..length + 1 - cursor.
static void cursor_right(int32_t n) {
    if (text_length() > 0 && state.cursor <= text_length()) {
        move_right_wrapped(n);
        state.cursor += n;
    }
}

// Moves the cursor to the first character (Home).
static void cursor_to_start() {
    if (state.cursor > 1) {
        move_left_wrapped(state.cursor - 1);
        state.cursor = 1;
    }
}

// Moves the cursor to the cell after the last character (End).
static void cursor_to_end() {
    int32_t length = text_length();
    if (state.cursor < length + 1) {
        move_right_wrapped(length - state.cursor + 1);
        state.cursor = length + 1;
    }
}

// Removes the character under the cursor and redraws the rest of the line (Del).
static void delete_at_cursor() {
    if (text_length() > 0 && state.cursor <= text_length()) {
        text_delete(state.text, state.cursor - 1, 1);
        redraw_from_cursor();
    }
}

// ---------------------------------------------------------------------------
// Typed characters, Backspace, Enter and Ctrl+C

// Stores a typed character at the cursor, inserting or overwriting, after the room,
// upper-case and digit filters; a refused character changes and writes nothing. The
// character is echoed before the rest of the line is redrawn, so it shows at once.
static void type_char(uint8_t ch) {
    int32_t length = text_length();
    bool full = state.insert_mode ? length >= state.capacity : state.cursor > state.capacity;
    if (full) {
        return;
    }
    if (state.upper_case && ch >= 'a' && ch <= 'z') {
        ch = static_cast<uint8_t>(ch - 32);
    }
    if (state.numeric_only && (ch < '0' || ch > '9')) {
        return;
    }
    if (state.insert_mode) {
        const char one[2] = {static_cast<char>(ch), '\0'};
        text_insert(one, state.text, state.cursor - 1);
    } else {
        state.text[state.cursor - 1] = static_cast<char>(ch);
        if (state.cursor == length + 1) {
            state.text[state.cursor] = '\0';
        }
    }
    const char echo = state.mask_input ? '*' : static_cast<char>(ch);
    write_display(&echo, 1);
    state.cursor += 1;
    if (text_length() > state.shown_length) {
        state.shown_length = text_length();
    }
    redraw_from_cursor();
}

// Removes the character before the cursor; nothing at position 1.
static void backspace() {
    if (text_length() > 0 && state.cursor > 1) {
        cursor_left(1);
        delete_at_cursor();
    }
}

// Ends the edit with the text accepted: the cursor goes after the last character
// first, so that the line end follows the whole text.
static void accept_line() {
    cursor_to_end();
    write_display("\r\n", 2);
}

// Ends the edit as aborted: "^C" overwrites the two cells at the cursor, the cursor
// moves on past the displayed text when "^C" ended inside it, and the text is
// emptied while the display keeps the line as it stands.
static void abort_line() {
    write_display("^C", 2);
    state.cursor += 2;
    cursor_to_end();
    state.text[0] = '\0';
    state.accepted = false;
    write_display("\r\n", 2);
}

// ---------------------------------------------------------------------------
// Editing commands (extended keys, Esc, Ctrl+U)

// Switches between insert and overtype (Ins). Nothing is written.
static void toggle_insert() { state.insert_mode = !state.insert_mode; }

// Moves to the start of the word before the cursor, or to position 1 (Ctrl+Left).
static void word_left() {
    if (state.cursor <= 1) {
        return;
    }
    int32_t p = state.cursor;
    do {
        p -= 1;
    } while (p != 1 && !starts_word(p));
    cursor_left(state.cursor - p);
}

// Moves to the start of the next word, or after the last character (Ctrl+Right).
static void word_right() {
    int32_t end = text_length() + 1;
    if (state.cursor >= end) {
        return;
    }
    int32_t p = state.cursor;
    do {
        p += 1;
    } while (p != end && !starts_word(p));
    cursor_right(p - state.cursor);
}

// Removes the character under the cursor and everything after it (Ctrl+End).
static void delete_to_end() {
    text_delete(state.text, state.cursor - 1, text_length() - state.cursor + 1);
    cursor_to_end();
    redraw_from_cursor();
}

// Removes every character before the cursor and shows the rest from the start of
// the line (Ctrl+Home).
static void delete_to_start() {
    text_delete(state.text, 0, state.cursor - 1);
    cursor_to_start();
    redraw_from_cursor();
}

// Empties the line and blanks every cell ever shown in this edit (Esc).
static void clear_line() {
    cursor_to_start();
    state.text[0] = '\0';
    redraw_from_cursor();
}

// Puts back the text as it was when editing began (Ctrl+U); the mode chosen with
// Ins stays. The saved text is never longer than shown_length, so the redraw
// covers every cell that was shown.
static void restore_line(const char* saved) {
    clear_line();
    std::strcpy(state.text, saved);
    redraw_from_cursor();
    if (state.cursor_at_start) {
        cursor_to_start();
    } else {
        cursor_to_end();
    }
}

// Runs the command for the second code of an extended key; other codes do nothing.
static void run_extended_command(uint8_t code) {
    switch (code) {
    case EXT_HOME: cursor_to_start(); break;
    case EXT_LEFT: cursor_left(1); break;
    case EXT_RIGHT: cursor_right(1); break;
    case EXT_END: cursor_to_end(); break;
    case EXT_INSERT: toggle_insert(); break;
    case EXT_DELETE: delete_at_cursor(); break;
    case EXT_CTRL_LEFT: word_left(); break;
    case EXT_CTRL_RIGHT: word_right(); break;
    case EXT_CTRL_END: delete_to_end(); break;
    case EXT_CTRL_HOME: delete_to_start(); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// Entry

// Prepares the edit: drops keys typed ahead, sets up the state, filters and cuts
// the initial value in buffer itself, shows it and places the cursor. The buffer's
// last byte is made a zero and the capacity kept within 0..2048, so that a caller's
// slip cannot make the editor read or write outside its buffers.
static void prepare_edit(char* buffer, int32_t capacity, bool mask_input, bool upper_case,
                         bool numeric_only, bool overtype_start, bool cursor_at_start) {
    while (key_available()) {
        read_key();
    }

    state.capacity = capacity < 0 ? 0 : capacity > MAX_TEXT_LENGTH ? MAX_TEXT_LENGTH : capacity;
    state.mask_input = mask_input;
    state.upper_case = upper_case;
    state.numeric_only = numeric_only;
    state.accepted = true;
    state.insert_mode = !overtype_start;
    state.cursor_at_start = cursor_at_start;
    state.cursor = 1;

    buffer[MAX_TEXT_LENGTH] = '\0';
    if (mask_input) {
        buffer[0] = '\0';
    }
    if (numeric_only) {
        for (const char* p = buffer; *p != '\0'; ++p) {
            if (*p < '0' || *p > '9') {
                buffer[0] = '\0';
                break;
            }
        }
    }
    if (upper_case) {
        for (char* p = buffer; *p != '\0'; ++p) {
            if (*p >= 'a' && *p <= 'z') {
                *p = static_cast<char>(*p - 32);
            }
        }
    }
    if (static_cast<int32_t>(std::strlen(buffer)) > state.capacity) {
        text_truncate(buffer, state.capacity);
    }

    std::strcpy(saved_text, buffer);
    std::strcpy(state.text, buffer);
    state.shown_length = text_length();

    redraw_from_cursor();
    if (!cursor_at_start) {
        cursor_to_end();
    }
}

// Edits one line in place: prepares it, then handles keys until Enter or Ctrl+C.
// Extended keys, whatever their code, never end the edit.
bool edit_line(char* buffer, int32_t capacity, bool mask_input, bool upper_case,
               bool numeric_only, bool overtype_start, bool cursor_at_start) {
    prepare_edit(buffer, capacity, mask_input, upper_case, numeric_only, overtype_start,
                 cursor_at_start);

    bool ended = false;
    while (!ended) {
        uint8_t code = read_key();
        switch (code) {
        case KEY_EXTENDED: run_extended_command(read_key()); break;
        case KEY_CTRL_C:
            abort_line();
            ended = true;
            break;
        case KEY_BACKSPACE: backspace(); break;
        case KEY_ENTER:
            accept_line();
            ended = true;
            break;
        case KEY_CTRL_U: restore_line(saved_text); break;
        case KEY_ESCAPE: clear_line(); break;
        default:
            // Every other control code, Tab and 127 among them, does nothing.
            if (code >= KEY_FIRST_PRINTABLE && code != KEY_DELETE_CHAR) {
                type_char(code);
            }
            break;
        }
    }

    std::strcpy(buffer, state.text);
    return state.accepted;
}
