// edit_harness.cpp - runs edit_line on the scripted console for the editor's tests.
#include "edit_harness.h"

#include "console/console.h"
#include "console/output.h"
#include "platform/scripted/scripted_console.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// What the run's body needs; scripted_run takes a plain procedure.
Layout run_layout;
Mode run_mode;
char run_buffer[TEXT_BUFFER_SIZE];
bool run_accepted;
int failing_write = 0;

// The body of a run: the console started as the program starts it, the screen
// painted, the cursor on the start cell, then the edit.
void edit_body() {
    console_init();
    move_cursor_to(1, 1);
    {
        // Gone before the edit: the run may end inside it by a jump that skips destructors.
        std::string paint(static_cast<size_t>(run_layout.width * run_layout.height - 1), '.');
        write_stdout(paint.data(), static_cast<uint32_t>(paint.size()));
    }
    move_cursor_to(run_layout.x + 1, run_layout.y + 1);
    if (failing_write > 0) {
        scripted_fail(ScriptedOp::stdout_write, failing_write, 0);
    }
    run_accepted = edit_line(run_buffer, run_mode.capacity, run_mode.mask, run_mode.upper,
                             run_mode.numeric, run_mode.overtype, run_mode.at_start);
}

void push(bool late, const InputEvent& event) {
    if (late) {
        scripted_push_late_event(event);
    } else {
        scripted_push_event(event);
    }
}

// Queues a press and a release of one key.
void push_key(bool late, uint16_t virtual_key, uint16_t scan_code, uint8_t character,
              uint32_t control_state) {
    InputEvent event{};
    event.event_type = EVENT_KEY;
    event.key = KeyEvent{true, 1, virtual_key, scan_code, character, control_state};
    push(late, event);
    event.key.key_down = false;
    push(late, event);
}

struct NamedKey {
    const char* name;
    uint16_t virtual_key;
    uint16_t scan_code;
    uint8_t character;
    uint32_t control_state;
};

// The keys of the notation, as a US keyboard reports them.
const NamedKey named_keys[] = {
    {"Home", 0x24, 71, 0, ENHANCED_KEY},  {"End", 0x23, 79, 0, ENHANCED_KEY},
    {"Left", 0x25, 75, 0, ENHANCED_KEY},  {"Right", 0x27, 77, 0, ENHANCED_KEY},
    {"Up", 0x26, 72, 0, ENHANCED_KEY},    {"Down", 0x28, 80, 0, ENHANCED_KEY},
    {"PgUp", 0x21, 73, 0, ENHANCED_KEY},  {"PgDn", 0x22, 81, 0, ENHANCED_KEY},
    {"Ins", 0x2D, 82, 0, ENHANCED_KEY},   {"Del", 0x2E, 83, 0, ENHANCED_KEY},
    {"F1", 0x70, 59, 0, 0},               {"F10", 0x79, 68, 0, 0},
    {"F11", 0x7A, 87, 0, 0},              {"F12", 0x7B, 88, 0, 0},
    {"BS", 0x08, 14, 8, 0},               {"Enter", 0x0D, 28, 13, 0},
    {"Esc", 0x1B, 1, 27, 0},              {"Tab", 0x09, 15, 9, 0},
    {"^C", 0x43, 46, 3, LEFT_CTRL_PRESSED}, {"^U", 0x55, 22, 21, LEFT_CTRL_PRESSED},
};

[[noreturn]] void bad_notation(const std::string& keys) {
    throw std::invalid_argument("bad key notation: " + keys);
}

}  // namespace

void queue_keys(const std::string& keys, bool late) {
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] != '{') {
            push_key(late, 0, 0, static_cast<uint8_t>(keys[i]), 0);
            continue;
        }
        size_t close = keys.find('}', i);
        if (close == std::string::npos) {
            bad_notation(keys);
        }
        std::string token = keys.substr(i + 1, close - i - 1);
        i = close;
        if (token.size() > 1 && (token[0] == 'x' || token[0] == 'c') && token[1] >= '0' &&
            token[1] <= '9') {
            int number = std::atoi(token.c_str() + 1);
            if (token[0] == 'x') {
                push_key(late, 0, static_cast<uint16_t>(number), 0, 0);
            } else {
                push_key(late, 0, 0, static_cast<uint8_t>(number), 0);
            }
            continue;
        }
        uint32_t ctrl = 0;
        if (token.size() > 2 && token[0] == '^') {
            ctrl = LEFT_CTRL_PRESSED;
            token.erase(0, 1);
        }
        const NamedKey* found = nullptr;
        for (const NamedKey& key : named_keys) {
            if (token == key.name) {
                found = &key;
            }
        }
        if (found == nullptr) {
            bad_notation(keys);
        }
        push_key(late, found->virtual_key, found->scan_code, found->character,
                 found->control_state | ctrl);
    }
}

EditRun run_edit(const Layout& layout, const Mode& mode, const std::string& initial,
                 const std::string& keys, const std::string& typed_ahead) {
    scripted_reset(layout.width, layout.height, 0, 0);
    run_layout = layout;
    run_mode = mode;
    std::memset(run_buffer, 0, sizeof run_buffer);
    // An initial value of TEXT_BUFFER_SIZE characters or more fills the whole buffer
    // and leaves it without an ending zero.
    std::memcpy(run_buffer, initial.data(), std::min(initial.size(), sizeof run_buffer));
    run_accepted = false;
    queue_keys(typed_ahead, false);
    queue_keys(keys, true);
    int status = scripted_run(edit_body);
    failing_write = 0;
    return EditRun{status, run_accepted, run_buffer};
}

void fail_edit_write(int nth) { failing_write = nth; }

std::string edit_output(const Layout& layout) {
    return scripted_stdout().substr(static_cast<size_t>(layout.width * layout.height - 1));
}

std::string cells(int x, int y, int n) {
    std::string screen;
    for (int row = y; static_cast<int>(screen.size()) < x + n; ++row) {
        std::string text = scripted_row(row);
        if (text.empty()) {
            break;
        }
        screen += text;
    }
    return screen.substr(static_cast<size_t>(x), static_cast<size_t>(n));
}

int cell_index(const Layout& layout, int x, int y) { return y * layout.width + x; }

int cursor_cell(const Layout& layout) {
    return cell_index(layout, scripted_cursor_x(), scripted_cursor_y());
}
