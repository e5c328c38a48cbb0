// edit_harness.h - runs edit_line on the scripted console for the editor's tests:
// a painted screen, keys in a short notation, and views of the cells and the cursor.
#pragma once

#include "editor/editor_internal.h"

#include <cstdint>
#include <string>

// The modes and capacity handed to edit_line.
struct Mode {
    int32_t capacity = 2040;
    bool mask = false;
    bool upper = false;
    bool numeric = false;
    bool overtype = false;
    bool at_start = false;
};

// The console: its size and the 0-based cell where the edit line begins.
struct Layout {
    int width = 20;
    int height = 6;
    int x = 3;
    int y = 1;
};

// How one run of edit_line ended.
struct EditRun {
    int status;          // -1 when edit_line returned, SCRIPTED_STARVED when it waited for a key
    bool accepted;       // edit_line's result, when it returned
    std::string buffer;  // the caller's buffer afterwards
};

// Resets the scripted console to layout and fills every cell but the last with '.',
// so that any cell the editor writes (a blank too) shows. Then runs edit_line from
// the layout's start cell on initial, with the keys (see queue_keys) arriving once
// editing has begun. typed_ahead keys are queued before edit_line is called. An
// initial value of TEXT_BUFFER_SIZE characters or more leaves the buffer without its zero.
EditRun run_edit(const Layout& layout, const Mode& mode, const std::string& initial,
                 const std::string& keys, const std::string& typed_ahead = "");

// Makes the nth write to standard output of the next run fail, counted from the
// first write the edit makes (0: none fails).
void fail_edit_write(int nth);

// Queues keys written in a short notation. A plain character is a key press with that
// character. {Home} {End} {Left} {Right} {Up} {Down} {PgUp} {PgDn} {Ins} {Del} {F1}
// {F10} {F11} {F12} are the keys without a character; with ^ ({^Left}) Ctrl is held.
// {BS} {Enter} {Esc} {Tab} {^C} {^U} are those keys with their characters; {xN} is a
// press with no character and scan code N (the extended code N when no table changes
// it); {cN} a press of the character code N. late: the keys arrive only after the
// first count of waiting input, that is after the keys typed ahead have been dropped.
void queue_keys(const std::string& keys, bool late);

// What the edit wrote to standard output, after the painting of the screen.
std::string edit_output(const Layout& layout);

// n screen cells read row by row from the 0-based cell (x, y) on, across row ends.
std::string cells(int x, int y, int n);

// The 0-based cell (x, y) as one number, y * width + x, counting on across row ends.
int cell_index(const Layout& layout, int x, int y);

// The console cursor's cell as y * width + x.
int cursor_cell(const Layout& layout);
