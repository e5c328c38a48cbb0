// Tests of edit_line on the scripted console: what the screen shows, where the
// console cursor stands and what the editor holds after a sequence of keys.
#include "edit_harness.h"

#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One edit that runs until the keys run out, and what it must leave behind.
struct LineCase {
    const char* name;
    Mode mode;
    const char* initial;
    const char* keys;
    const char* screen;  // the cells from the line's start on; '.' is a cell never written
    const char* text;    // the text being edited once the keys ran out
    int cursor;          // the cursor's position then, 1-based
};

// Runs the case and checks the cells, the text, the cursor position and that the
// console cursor stands on the cell of that position.
void check_line_case(const Layout& layout, const LineCase& c) {
    SCOPED_TRACE(c.name);
    EditRun run = run_edit(layout, c.mode, c.initial, c.keys);
    ASSERT_EQ(run.status, SCRIPTED_STARVED) << "the edit ended early";
    EXPECT_EQ(scripted_pending_events(), 0u);
    EXPECT_EQ(cells(layout.x, layout.y, static_cast<int>(std::string(c.screen).size())), c.screen)
        << scripted_screen();
    const EditorState& state = editor_state();
    EXPECT_STREQ(state.text, c.text);
    EXPECT_EQ(state.cursor, c.cursor);
    EXPECT_EQ(cursor_cell(layout), cell_index(layout, layout.x, layout.y) + c.cursor - 1);
}

const Layout ONE_ROW{20, 6, 3, 1};

TEST(EditLine, TypingDeletingAndMoving) {
    const LineCase cases[] = {
        {"empty initial value shows nothing", {}, "", "", ".", "", 1},
        {"initial value shown, cursor after it", {}, "abc", "", "abc.", "abc", 4},
        {"cursor_at_start leaves the cursor on the first character", {.at_start = true}, "abc", "",
         "abc.", "abc", 1},
        {"typed characters are appended", {}, "", "abc", "abc.", "abc", 4},
        {"insert in front shifts the rest right", {}, "abc", "{Home}xy", "xyabc.", "xyabc", 3},
        {"overtype replaces inside the text", {.overtype = true}, "abcd", "{Home}{Right}XY",
         "aXYd.", "aXYd", 4},
        {"overtype at the end appends", {.overtype = true}, "ab", "cd", "abcd.", "abcd", 5},
        {"Backspace at the end leaves a blank cell", {}, "abc", "{BS}", "ab .", "ab", 3},
        {"Backspace inside closes the gap", {}, "abcd", "{Left}{Left}{BS}", "acd .", "acd", 2},
        {"Del inside closes the gap and blanks the last cell", {}, "abcd", "{Home}{Right}{Del}",
         "acd .", "acd", 2},
        {"Esc blanks up to the longest length shown", {}, "abc", "defg{BS}{BS}{BS}{Esc}",
         "       .", "", 1},
        {"typing after Esc starts a new text over the blanks", {}, "abc", "{Esc}x", "x  .", "x",
         2},
        {"Home", {}, "abc", "{Home}", "abc.", "abc", 1},
        {"End", {.at_start = true}, "abc", "{End}", "abc.", "abc", 4},
        {"Left twice", {}, "abc", "{Left}{Left}", "abc.", "abc", 2},
        {"Right", {.at_start = true}, "abc", "{Right}", "abc.", "abc", 2},
        {"Ctrl+Home on the c of abcdef", {}, "abcdef", "{Home}{Right}{Right}{^Home}", "cdef  .",
         "cdef", 1},
        {"Ctrl+End on the c of abcdef", {}, "abcdef", "{Home}{Right}{Right}{^End}", "ab    .",
         "ab", 3},
        {"Ctrl+End at the end removes nothing", {}, "abc", "{^End}", "abc.", "abc", 4},
        {"Ctrl+Home at position 1 removes nothing", {.at_start = true}, "abc", "{^Home}", "abc.",
         "abc", 1},
    };
    for (const LineCase& c : cases) {
        check_line_case(ONE_ROW, c);
    }
}

TEST(EditLine, WordMoves) {
    const LineCase cases[] = {
        {"Ctrl+Left from the end lands on e", {}, "ab cd;ef", "{^Left}", "ab cd;ef.", "ab cd;ef",
         7},
        {"then on c", {}, "ab cd;ef", "{^Left}{^Left}", "ab cd;ef.", "ab cd;ef", 4},
        {"then on a", {}, "ab cd;ef", "{^Left}{^Left}{^Left}", "ab cd;ef.", "ab cd;ef", 1},
        {"and stays on a", {}, "ab cd;ef", "{^Left}{^Left}{^Left}{^Left}", "ab cd;ef.",
         "ab cd;ef", 1},
        {"Ctrl+Right from a lands on c", {.at_start = true}, "ab cd;ef", "{^Right}", "ab cd;ef.",
         "ab cd;ef", 4},
        {"then on e", {.at_start = true}, "ab cd;ef", "{^Right}{^Right}", "ab cd;ef.", "ab cd;ef",
         7},
        {"then after f", {.at_start = true}, "ab cd;ef", "{^Right}{^Right}{^Right}", "ab cd;ef.",
         "ab cd;ef", 9},
        {"Ctrl+Right from the first of two blanks lands on c", {.at_start = true}, "ab  cd",
         "{Right}{Right}{^Right}", "ab  cd.", "ab  cd", 5},
        {"Ctrl+Left from c skips both blanks to a", {.at_start = true}, "ab  cd",
         "{Right}{Right}{^Right}{^Left}", "ab  cd.", "ab  cd", 1},
        {"punctuation belongs to the word: Ctrl+Left", {}, "a,b.c-d", "{^Left}", "a,b.c-d.",
         "a,b.c-d", 1},
        {"punctuation belongs to the word: Ctrl+Right", {.at_start = true}, "a,b.c-d", "{^Right}",
         "a,b.c-d.", "a,b.c-d", 8},
        {"Tab separates words", {}, "ab\tcd", "{^Left}", "ab\tcd.", "ab\tcd", 4},
        {"masked text moves by its hidden words", {.mask = true}, "", "ab cd{^Left}", "*****.",
         "ab cd", 4},
    };
    for (const LineCase& c : cases) {
        check_line_case(ONE_ROW, c);
    }
}

TEST(EditLine, RestoreAndInsertMode) {
    const LineCase cases[] = {
        {"Ctrl+U restores the initial text, cursor after it", {}, "abc", "xy{Home}{Del}{^U}",
         "abc  .", "abc", 4},
        {"Ctrl+U with cursor_at_start leaves the cursor on position 1", {.at_start = true}, "abc",
         "{End}xy{^U}", "abc  .", "abc", 1},
        {"Ctrl+U restores the value cut to capacity", {.capacity = 3}, "abcdef", "{Esc}{^U}",
         "abc.", "abc", 4},
        {"Ctrl+U restores the upper-cased value", {.upper = true}, "ab1", "{BS}{BS}{^U}", "AB1.",
         "AB1", 4},
        {"Ctrl+U after a masked start restores the empty line", {.mask = true}, "secret",
         "pw{^U}", "  .", "", 1},
        {"Ctrl+U after a discarded numeric value restores the empty line", {.numeric = true},
         "12a", "34{^U}", "  .", "", 1},
        {"Ins switches to overtype", {}, "ab", "{Home}{Ins}X", "Xb.", "Xb", 2},
        {"Ins twice returns to insert", {}, "ab", "{Home}{Ins}{Ins}X", "Xab.", "Xab", 2},
        {"Ins after an overtype start inserts", {.overtype = true}, "ab", "{Home}{Ins}X", "Xab.",
         "Xab", 2},
        {"Esc and Ctrl+U keep the mode chosen with Ins", {}, "ab", "{Ins}{Esc}{^U}{Home}X", "Xb.",
         "Xb", 2},
    };
    for (const LineCase& c : cases) {
        check_line_case(ONE_ROW, c);
    }
}

TEST(EditLine, FiltersAndCapacity) {
    const LineCase cases[] = {
        {"mask discards the initial value and shows asterisks", {.mask = true}, "secret", "pw",
         "**.", "pw", 3},
        {"upper_case changes the initial a to z only", {.upper = true}, "abc1\xe9", "",
         "ABC1\xe9.", "ABC1\xe9", 6},
        {"upper_case changes typed a to z only", {.upper = true}, "", "xY\xe9z", "XY\xe9Z.",
         "XY\xe9Z", 5},
        {"mask with upper_case stores capitals", {.mask = true, .upper = true}, "", "ab", "**.",
         "AB", 3},
        {"numeric_only keeps an all-digit value", {.numeric = true}, "0123", "", "0123.", "0123",
         5},
        {"numeric_only discards a value with a letter", {.numeric = true}, "12a3", "", ".", "", 1},
        {"numeric_only discards a value with a blank", {.numeric = true}, "1 2", "", ".", "", 1},
        {"numeric_only discards a value with a sign", {.numeric = true}, "-12", "", ".", "", 1},
        {"numeric_only ignores typed non-digits", {.numeric = true}, "", "1a2 -3\xe9", "123.",
         "123", 4},
        {"initial value cut to capacity", {.capacity = 4}, "abcdefg", "", "abcd.", "abcd", 5},
        {"insert mode: a full text refuses at the end", {.capacity = 3}, "abc", "x", "abc.", "abc",
         4},
        {"insert mode: a full text refuses inside", {.capacity = 3}, "abc", "{Home}x", "abc.",
         "abc", 1},
        {"insert mode fills up to capacity, then refuses", {.capacity = 3}, "a", "bcd", "abc.",
         "abc", 4},
        {"overtype mode: a full text is replaced inside", {.capacity = 3, .overtype = true}, "abc",
         "{Home}xy", "xyc.", "xyc", 3},
        {"overtype mode: a full text refuses at the end", {.capacity = 3, .overtype = true}, "abc",
         "{Home}wxyz", "wxy.", "wxy", 4},
        {"overtype mode appends while there is room", {.capacity = 3, .overtype = true}, "ab",
         "xy", "abx.", "abx", 4},
        {"capacity 1", {.capacity = 1}, "", "xy{BS}z", "z.", "z", 2},
    };
    for (const LineCase& c : cases) {
        check_line_case(ONE_ROW, c);
    }
}

// A line that runs on from the middle of a 10-cell row into the next: positions 1 to 4
// stand on row 1, positions 5 on on row 2.
TEST(EditLine, LineAcrossARowEnd) {
    const Layout layout{10, 6, 6, 1};
    const char* line = "abcdefghijkl";
    const LineCase cases[] = {
        {"shown across the row end, cursor after it", {}, line, "", "abcdefghijkl.", line, 13},
        {"Right from the row's last cell goes to the next row", {.at_start = true}, line,
         "{Right}{Right}{Right}{Right}", "abcdefghijkl.", line, 5},
        {"Left from column 1 goes to the row above", {.at_start = true}, line,
         "{Right}{Right}{Right}{Right}{Left}", "abcdefghijkl.", line, 4},
        {"Home from the second row", {}, line, "{Home}", "abcdefghijkl.", line, 1},
        {"End from the first row", {.at_start = true}, line, "{End}", "abcdefghijkl.", line, 13},
        {"inserting on the first row shifts the text across the row end", {.at_start = true},
         line, "{Right}{Right}{Right}X", "abcXdefghijkl.", "abcXdefghijkl", 5},
        {"Backspace from column 1 removes the character above", {.at_start = true}, line,
         "{Right}{Right}{Right}{Right}{BS}", "abcefghijkl .", "abcefghijkl", 4},
        {"Ctrl+Left to a word on the row above", {}, "ab cdefgh", "{^Left}", "ab cdefgh.",
         "ab cdefgh", 4},
        {"Ctrl+Home from the second row", {}, line, "{Left}{Left}{^Home}", "kl          .", "kl",
         1},
        {"Esc blanks both rows", {}, line, "{Esc}", "            .", "", 1},
        {"typing past the row end", {}, "", "abcde", "abcde.", "abcde", 6},
    };
    for (const LineCase& c : cases) {
        check_line_case(layout, c);
    }
}

// A 30-character line on a screen of 3 rows of 10 cells, begun in column 6 of the last
// row. Showing it scrolls the screen three times; the cursor moves back 30 cells and
// stops in the top-left cell, and moving on 30 cells stops in the bottom-right cell.
TEST(EditLine, MovesStopAtTheFirstAndLastRow) {
    const Layout layout{10, 3, 5, 2};
    const char* line = "abcdefghijklmnopqrstuvwxyz0123";
    struct ClampCase {
        const char* name;
        Mode mode;
        const char* keys;
        int x, y;    // the console cursor's cell
        int cursor;  // the cursor's position
    };
    const ClampCase cases[] = {
        {"the end stops in the last cell of the last row", {}, "", 9, 2, 31},
        {"the start stops in the first cell of row 1", {.at_start = true}, "", 0, 0, 1},
        {"Home stops on row 1", {}, "{Home}", 0, 0, 1},
        {"End after Home stops on the last row", {}, "{Home}{End}", 9, 2, 31},
        {"Left from the clamped end moves one cell", {}, "{Left}", 8, 2, 30},
    };
    for (const ClampCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditRun run = run_edit(layout, c.mode, line, c.keys);
        ASSERT_EQ(run.status, SCRIPTED_STARVED);
        EXPECT_EQ(scripted_row(0), "fghijklmno");
        EXPECT_EQ(scripted_row(1), "pqrstuvwxy");
        EXPECT_EQ(scripted_row(2), "z0123     ");
        EXPECT_EQ(scripted_cursor_x(), c.x);
        EXPECT_EQ(scripted_cursor_y(), c.y);
        EXPECT_EQ(editor_state().cursor, c.cursor);
    }
}

// A 2040-character line over 26 rows of an 80-column screen.
TEST(EditLine, LongestLine) {
    const Layout layout{80, 30, 10, 2};
    std::string line;
    for (int i = 0; i < 2040; ++i) {
        line += static_cast<char>('a' + i % 26);
    }
    const int start = cell_index(layout, layout.x, layout.y);

    EditRun run = run_edit(layout, {.capacity = 2040}, line, "");
    ASSERT_EQ(run.status, SCRIPTED_STARVED);
    EXPECT_EQ(cells(layout.x, layout.y, 2041), line + ".");
    EXPECT_EQ(cursor_cell(layout), start + 2040);

    // Full: x is refused. Home, Del and Z rewrite the whole line; End goes back.
    run = run_edit(layout, {.capacity = 2040}, line, "x{Home}{Del}Z{End}");
    ASSERT_EQ(run.status, SCRIPTED_STARVED);
    std::string edited = "Z" + line.substr(1);
    EXPECT_STREQ(editor_state().text, edited.c_str());
    EXPECT_EQ(cells(layout.x, layout.y, 2041), edited + ".");
    EXPECT_EQ(cursor_cell(layout), start + 2040);

    // A 2048-character value is cut to 2040, and Ctrl+U restores the cut value.
    std::string longer = line + "ABCDEFGH";
    run = run_edit(layout, {.capacity = 2040}, longer, "{Esc}{^U}{Enter}");
    ASSERT_EQ(run.status, -1);
    EXPECT_EQ(run.buffer, line);
    EXPECT_EQ(cells(layout.x, layout.y, 2041), line + ".");
}

// A capacity outside 0..2048 or a buffer without its ending zero cannot make the
// editor go beyond its 2048 characters.
TEST(EditLine, CallerSlipsStayWithinTheBuffers) {
    const Layout layout{80, 30, 0, 1};
    struct SlipCase {
        const char* name;
        Mode mode;
        std::string initial;
        size_t length;  // the text's length afterwards
        int capacity;   // the capacity the editor works with
    };
    const SlipCase cases[] = {
        {"a capacity above 2048 holds 2048 characters", {.capacity = 5000},
         std::string(2048, 'a'), 2048, 2048},
        {"a negative capacity holds nothing", {.capacity = -1}, "abc", 0, 0},
        {"a buffer without its zero is read as its first 2048 characters",
         {.capacity = 2048, .upper = true}, std::string(2100, 'a'), 2048, 2048},
    };
    for (const SlipCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditRun run = run_edit(layout, c.mode, c.initial, "xy");
        ASSERT_EQ(run.status, SCRIPTED_STARVED);
        EXPECT_EQ(std::string(editor_state().text).size(), c.length);
        EXPECT_EQ(editor_state().capacity, c.capacity);
        EXPECT_EQ(cells(layout.x, layout.y, static_cast<int>(c.length) + 1),
                  std::string(c.length, c.mode.upper ? 'A' : 'a') + ".");
    }
}

// Edits that end with Enter or Ctrl+C, on a 10-cell row begun in column 5, so that
// where the cursor stood before the line end shows in the row the line end leads to.
TEST(EditLine, EnterAndCtrlC) {
    const Layout layout{10, 6, 4, 1};
    struct EndCase {
        const char* name;
        Mode mode;
        const char* initial;
        const char* keys;
        const char* row1;
        const char* row2;
        int end_row;  // the row the console cursor ends on, in column 0
        bool accepted;
        const char* buffer;
    };
    const EndCase cases[] = {
        {"Ctrl+C on position 3 of abcdef: ab^Cef, the cursor past the f", {}, "abcdef",
         "{Home}{Right}{Right}{^C}", "....ab^Cef", "..........", 3, false, ""},
        {"Ctrl+C at the end of abc", {}, "abc", "{^C}", "....abc^C.", "..........", 2, false, ""},
        {"Enter inside the text moves after the last character first", {}, "abcdefgh",
         "{Home}{Enter}", "....abcdef", "gh........", 3, true, "abcdefgh"},
        {"Enter returns the typed text of a masked edit", {.mask = true}, "secret", "pw{Enter}",
         "....**....", "..........", 2, true, "pw"},
        {"Enter on an empty line", {}, "", "{Enter}", "..........", "..........", 2, true, ""},
        {"an unknown extended code 13 or 3 does not end the edit", {}, "ab", "{x13}{x3}c{Enter}",
         "....abc...", "..........", 2, true, "abc"},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditRun run = run_edit(layout, c.mode, c.initial, c.keys);
        ASSERT_EQ(run.status, -1) << "edit_line did not return";
        EXPECT_EQ(run.accepted, c.accepted);
        EXPECT_EQ(run.buffer, c.buffer);
        EXPECT_EQ(scripted_row(1), c.row1);
        EXPECT_EQ(scripted_row(2), c.row2);
        EXPECT_EQ(scripted_cursor_x(), 0);
        EXPECT_EQ(scripted_cursor_y(), c.end_row);
        EXPECT_TRUE(edit_output(layout).ends_with("\r\n"));
    }
}

// Keys that have nothing to do where they are pressed change nothing and write nothing:
// the run with them ends exactly as the run without them.
TEST(EditLine, KeysThatDoNothing) {
    std::string control_codes;
    for (int code : {1, 2, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 22, 23, 24, 25,
                     26, 28, 29, 30, 31, 127}) {
        control_codes += "{c" + std::to_string(code) + "}";
    }
    struct NoOpCase {
        const char* name;
        Mode mode;
        const char* initial;
        std::string keys;
    };
    const NoOpCase cases[] = {
        {"control codes, Tab among them", {}, "abc", control_codes},
        {"extended codes outside the command table", {}, "abc",
         "{Up}{Down}{PgUp}{PgDn}{F1}{F10}{F11}{F12}{^PgDn}{^Up}{^Ins}{^Del}"
         "{x3}{x8}{x13}{x21}{x27}{x255}"},
        {"moves and Backspace at position 1", {.at_start = true}, "abc", "{Home}{Left}{^Left}{BS}"},
        {"moves and Del after the last character", {}, "abc", "{End}{Right}{^Right}{Del}"},
        {"moves, Del and Backspace on an empty text", {}, "",
         "{Home}{Left}{Right}{End}{Del}{^Left}{^Right}{BS}"},
        {"characters when the text is full, insert mode", {.capacity = 3}, "abc", "xyz"},
        {"a character on a full text, cursor inside", {.capacity = 3, .at_start = true}, "abc",
         "x"},
        {"a character on a full text, overtype at the end", {.capacity = 3, .overtype = true},
         "abc", "x"},
        {"non-digits in numeric mode", {.numeric = true}, "12", "a -.,{c200}"},
        {"Ins pressed twice", {.at_start = true}, "abc", "{Ins}{Ins}"},
    };
    for (const NoOpCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(run_edit(ONE_ROW, c.mode, c.initial, "").status, SCRIPTED_STARVED);
        const std::string output = scripted_stdout();
        const std::string screen = scripted_screen();
        const int cursor = cursor_cell(ONE_ROW);
        const EditorState before = editor_state();

        ASSERT_EQ(run_edit(ONE_ROW, c.mode, c.initial, c.keys).status, SCRIPTED_STARVED);
        EXPECT_EQ(scripted_pending_events(), 0u) << "not every key was read";
        EXPECT_EQ(scripted_stdout(), output);
        EXPECT_EQ(scripted_screen(), screen);
        EXPECT_EQ(cursor_cell(ONE_ROW), cursor);
        const EditorState& after = editor_state();
        EXPECT_STREQ(after.text, before.text);
        EXPECT_EQ(after.cursor, before.cursor);
        EXPECT_EQ(after.insert_mode, before.insert_mode);
        EXPECT_EQ(after.shown_length, before.shown_length);
    }
}

// Keys typed before edit_line is called are dropped, extended keys with both their
// bytes: the edit then waits for keys with the initial value untouched.
TEST(EditLine, DropsKeysTypedAhead) {
    EditRun run = run_edit(ONE_ROW, {}, "abc", "", "xy{Left}{Home}{^C}{Enter}");
    EXPECT_EQ(run.status, SCRIPTED_STARVED) << "a key typed ahead ended the edit";
    EXPECT_EQ(scripted_pending_events(), 0u);
    EXPECT_EQ(cells(ONE_ROW.x, ONE_ROW.y, 4), "abc.");
    EXPECT_STREQ(editor_state().text, "abc");
    EXPECT_EQ(editor_state().cursor, 4);
    EXPECT_EQ(edit_output(ONE_ROW), "abc");
}

// Each write is handed over as it happens: the echo of a typed character comes before
// the redraw of the rest of the line.
TEST(EditLine, EchoBeforeRedraw) {
    EditRun run = run_edit(ONE_ROW, {}, "abc", "{Home}x");
    ASSERT_EQ(run.status, SCRIPTED_STARVED);
    // The initial display, then the echo, then the rest of the line from the cursor on.
    EXPECT_EQ(edit_output(ONE_ROW), "abcxabc");
    EXPECT_EQ(scripted_call_count(ScriptedOp::stdout_write), 4);  // painting, display, echo, redraw
}

// A failed write ends the process at once with the failure report and status 101.
TEST(EditLine, FailedWriteEndsTheProcess) {
    struct FailCase {
        const char* name;
        int failing_write;
        const char* keys;
        const char* written_before;  // what the edit wrote before the report
    };
    const FailCase cases[] = {
        {"the initial display", 1, "x", ""},
        {"the echo of a typed character", 2, "xy", "abc"},
        {"the redraw after Esc", 2, "{Esc}y", "abc"},
    };
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.name);
        fail_edit_write(c.failing_write);
        EditRun run = run_edit(ONE_ROW, {}, "abc", c.keys);
        EXPECT_EQ(run.status, 101);
        std::string output = edit_output(ONE_ROW);
        EXPECT_EQ(output.substr(0, std::string(c.written_before).size()), c.written_before);
        EXPECT_EQ(output.substr(std::string(c.written_before).size(), 17), "Runtime error 101");
        EXPECT_GT(scripted_pending_events(), 0u) << "keys were handled after the failure";
    }
}

}  // namespace
