// fuzz_edit_line.cpp - fuzz target: edit_line driven by an arbitrary stream of key
// bytes on the scripted console, with the editor's invariants checked between every
// two keys and the result checked against the capacity.
//
// Standard input is a stream handed over one byte per read, and the target wraps
// platform_read_input_bytes (linked with --wrap on its C++ symbol name,
// _Z25platform_read_input_bytesPcj): the editor reads a byte only when
// it waits for its next key, so every read is a moment between two keys, where the
// state and the screen are checked.
//
// Input: 8 bytes of set-up, then the initial value, then the key stream.
//   0  modes: bit 0 mask, 1 upper case, 2 numeric, 3 overtype, 4 cursor at start,
//      bit 5 a small capacity (1 to 64), bits 6-7 with byte 7: a failing write
//   1-2  capacity (1 to 2040, or 1 to 64 with bit 5)
//   3-4  screen width (1 to 120) and height (1 to 40)
//   5-6  the cell the line begins on (taken modulo the size)
//   7  the nth write to standard output that fails, counted from the first write of
//      the edit, when bits 6-7 of byte 0 are set (0: none)
//   8-9  length of the initial value (at most 2048), then its bytes (cut at a zero)
//   the rest: key bytes as standard input delivers them (CR and LF are Enter; the end
//   of the input is Ctrl+C).
#include "console/console.h"
#include "console/output.h"
#include "editor/editor_internal.h"
#include "platform/scripted/scripted_console.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int32_t __real__Z25platform_read_input_bytesPcj(char* buffer, uint32_t size);

namespace {

struct Plan {
    bool mask, upper, numeric, overtype, at_start;
    int32_t capacity;
    int width, height, x, y;
    int failing_write;
};

Plan plan;
char buffer[TEXT_BUFFER_SIZE];
bool accepted = false;
bool editing = false;     // edit_line is running, so a read is a moment between keys
bool screen_checked = false;  // the line can never reach the last cell, so nothing scrolls
int previous_shown = 0;

[[noreturn]] void fail(const char* what) {
    const EditorState& state = editor_state();
    std::fprintf(stderr, "fuzz_edit_line: %s\n  text '%s' cursor %d shown %d capacity %d\n%s",
                 what, state.text, state.cursor, state.shown_length, state.capacity,
                 scripted_screen().c_str());
    std::abort();
}

int start_cell() { return plan.y * plan.width + plan.x; }

// The invariants between two keys: lengths, cursor, the filters, and (when the line
// cannot scroll) the screen cells from the start cell on and the console cursor.
void check_between_keys() {
    const EditorState& state = editor_state();
    const int length = static_cast<int>(std::strlen(state.text));
    if (length > state.capacity || state.capacity != plan.capacity) {
        fail("the text is longer than the capacity");
    }
    if (state.cursor < 1 || state.cursor > length + 1) {
        fail("the cursor is outside the text");
    }
    if (state.shown_length < length || state.shown_length < previous_shown) {
        fail("shown_length is below the length or went down");
    }
    previous_shown = state.shown_length;
    if (!state.accepted) {
        fail("accepted turned false before the edit ended");
    }
    for (int i = 0; i < length; ++i) {
        char ch = state.text[i];
        if ((plan.numeric && (ch < '0' || ch > '9')) || (plan.upper && ch >= 'a' && ch <= 'z')) {
            fail("the text breaks a filter");
        }
    }
    if (!screen_checked) {
        return;
    }
    const int start = start_cell();
    for (int i = 0; i < state.shown_length; ++i) {
        int cell = start + i;
        char shown = i >= length ? ' ' : plan.mask ? '*' : state.text[i];
        if (scripted_row(cell / plan.width)[static_cast<size_t>(cell % plan.width)] != shown) {
            fail("the screen does not show the text");
        }
    }
    int after = start + state.shown_length;
    if (after < plan.width * plan.height &&
        scripted_row(after / plan.width)[static_cast<size_t>(after % plan.width)] != '.') {
        fail("a cell after the line was written");
    }
    int cursor = scripted_cursor_y() * plan.width + scripted_cursor_x();
    if (cursor != start + state.cursor - 1) {
        fail("the console cursor is not on the cursor's cell");
    }
}

// The dots painted over the screen; static, since a run that ends the process leaves
// edit_body without running destructors.
char paint[120 * 40];

// The body of a run: the console started, the screen painted with dots, the cursor
// on the start cell, then the edit.
void edit_body() {
    console_init();
    std::memset(paint, '.', sizeof paint);
    move_cursor_to(1, 1);
    write_stdout(paint, static_cast<uint32_t>(plan.width * plan.height - 1));
    move_cursor_to(plan.x + 1, plan.y + 1);
    if (plan.failing_write > 0) {
        scripted_fail(ScriptedOp::stdout_write, plan.failing_write, 0);
    }
    editing = true;
    accepted = edit_line(buffer, plan.capacity, plan.mask, plan.upper, plan.numeric,
                         plan.overtype, plan.at_start);
    editing = false;
}

}  // namespace

// Every read of standard input comes from read_key while the editor waits for a key.
extern "C" int32_t __wrap__Z25platform_read_input_bytesPcj(char* data, uint32_t size) {
    if (editing) {
        check_between_keys();
    }
    return __real__Z25platform_read_input_bytesPcj(data, size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) {
        return 0;
    }
    plan.mask = (data[0] & 1) != 0;
    plan.upper = (data[0] & 2) != 0;
    plan.numeric = (data[0] & 4) != 0;
    plan.overtype = (data[0] & 8) != 0;
    plan.at_start = (data[0] & 16) != 0;
    unsigned raw_capacity = data[1] | (data[2] << 8);
    plan.capacity = static_cast<int32_t>(1 + raw_capacity % ((data[0] & 32) != 0 ? 64 : 2040));
    plan.width = 1 + data[3] % 120;
    plan.height = 1 + data[4] % 40;
    plan.x = data[5] % plan.width;
    plan.y = data[6] % plan.height;
    plan.failing_write = (data[0] & 0xC0) == 0xC0 ? data[7] : 0;
    size_t length = (data[8] | (data[9] << 8)) % (TEXT_BUFFER_SIZE);
    size_t used = 10;
    if (length > size - used) {
        length = size - used;
    }
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer, data + used, length);  // a zero byte in it ends the value early
    used += length;
    const size_t initial_length = std::strlen(buffer);

    scripted_reset(plan.width, plan.height, 0, 0);
    scripted_set_input_is_console(false);
    scripted_set_input_bytes(std::string(reinterpret_cast<const char*>(data) + used, size - used));
    scripted_set_input_chunk(1);
    take_failure();

    // The line reaches at most capacity cells (mask or not), "^C" two more: when that
    // stays short of the last cell, no write can scroll the screen.
    int cells = plan.width * plan.height;
    int longest = plan.capacity > static_cast<int32_t>(initial_length)
                      ? plan.capacity : static_cast<int>(initial_length);
    // Control characters of the initial value (BEL, BS, CR, LF ...) act on the console
    // when shown, so the cells are compared only for values without them; typed
    // control characters never reach the text.
    bool plain_initial = true;
    for (size_t i = 0; i < initial_length; ++i) {
        plain_initial = plain_initial && static_cast<uint8_t>(buffer[i]) >= 32;
    }
    screen_checked = plain_initial && start_cell() + longest + 2 < cells - 1;
    previous_shown = 0;
    accepted = false;
    editing = false;

    int status = scripted_run(edit_body);
    editing = false;
    if (status != -1) {
        // Only a planned failing write ends the run: with the failure report, status 101.
        if (plan.failing_write == 0 || status != 101) {
            fail("the edit ended the process unexpectedly");
        }
        if (scripted_stdout().find("Runtime error 101 at 0x") == std::string::npos) {
            fail("a failed write ended without the failure report");
        }
        take_failure();
        return 0;
    }
    const size_t result = std::strlen(buffer);
    if (result > static_cast<size_t>(plan.capacity)) {
        fail("the result is longer than the capacity");
    }
    if (accepted ? std::strcmp(buffer, editor_state().text) != 0 : result != 0) {
        fail("the result is not the edited text (Enter) or empty (Ctrl+C)");
    }
    // A masked edit never shows the initial value.
    if (plan.mask && initial_length > 0) {
        std::string shown = scripted_stdout().substr(static_cast<size_t>(cells - 1));
        for (char ch : shown) {
            if (ch != '*' && ch != ' ' && ch != '\r' && ch != '\n' && ch != '^' && ch != 'C') {
                fail("a masked edit wrote a character of the text");
            }
        }
    }
    return 0;
}
