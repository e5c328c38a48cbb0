// editor_internal.h - the line editor's state record, readable by the editor's tests.
#pragma once

#include "editor/editor.h"

#include <cstdint>

// The state of the one edit in progress; edit_line sets every field anew at its start.
struct EditorState {
    char text[TEXT_BUFFER_SIZE];  // the text being edited, zero-ended
    bool mask_input;              // characters show as asterisks
    bool upper_case;              // typed letters a to z are stored as capitals
    bool numeric_only;            // only the digits 0 to 9 can be typed
    int32_t capacity;             // the largest number of characters text may hold
    bool accepted;                // true until Ctrl+C; the result of edit_line
    int32_t cursor;               // 1-based position under the cursor; length + 1 is after the end
    bool insert_mode;             // true: typed characters are inserted; false: they overwrite
    bool cursor_at_start;         // the cursor starts, and returns after Ctrl+U, on position 1
    int32_t shown_length;         // the greatest length displayed so far; every redraw fills it
};

// The editor's state as it stands, for inspection between two keys.
const EditorState& editor_state();
