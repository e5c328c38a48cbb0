// A property test of edit_line: random keys in random modes, with the editor's
// invariants between two keys checked after every key.
//
// The scripted console ends a run when the editor waits for a key that will never
// come, which is exactly between two keys. Each random sequence is therefore run
// once for every prefix of it, and the state and the screen are checked where the
// prefix runs out. The editor is deterministic, so the prefixes replay the same edit.
#include "edit_harness.h"

#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// 8 rows of 24 cells, the line beginning in row 1: even the largest capacity used
// here ends well before the last cell, so the screen never scrolls.
const Layout LAYOUT{24, 8, 5, 1};
constexpr int LARGEST_CAPACITY = 150;

constexpr int SEQUENCES = 50;
constexpr int KEYS_PER_SEQUENCE = 80;

// Keys by weight: characters, movement, deletion, the mode key, Esc and Ctrl+U, and
// keys that do nothing (Enter and Ctrl+C would end the edit and are left out).
struct WeightedKeys {
    int weight;
    std::vector<const char*> keys;
};
const WeightedKeys KEY_CHOICES[] = {
    {35, {"a", "b", "z", "A", " ", ";", ",", "1", "9", "\xe9"}},
    {8, {"{BS}"}},
    {20, {"{Left}", "{Right}", "{Home}", "{End}"}},
    {6, {"{Del}"}},
    {4, {"{Ins}"}},
    {10, {"{^Left}", "{^Right}"}},
    {4, {"{^End}", "{^Home}"}},
    {3, {"{Esc}"}},
    {3, {"{^U}"}},
    {7, {"{Tab}", "{c1}", "{c127}", "{Up}", "{F1}", "{^PgDn}", "{x13}"}},
};

// One random edit: its modes, its initial value and its keys.
struct RandomEdit {
    Mode mode;
    std::string initial;
    std::vector<std::string> keys;
};

RandomEdit make_random_edit(std::mt19937& rng) {
    auto chance = [&rng](int one_in) { return rng() % static_cast<unsigned>(one_in) == 0; };
    RandomEdit edit;
    switch (rng() % 4) {
    case 0: edit.mode.capacity = static_cast<int32_t>(1 + rng() % 3); break;
    case 1: edit.mode.capacity = LARGEST_CAPACITY; break;
    default: edit.mode.capacity = static_cast<int32_t>(4 + rng() % 30); break;
    }
    edit.mode.mask = chance(6);
    edit.mode.upper = chance(4);
    edit.mode.numeric = chance(5);
    edit.mode.overtype = chance(3);
    edit.mode.at_start = chance(3);

    const char* alphabet = chance(2) ? "0123456789" : "ab cd;e,f1\xe9";
    size_t length = rng() % static_cast<unsigned>(edit.mode.capacity + 4);
    for (size_t i = 0; i < length && i < 40; ++i) {
        edit.initial += alphabet[rng() % std::strlen(alphabet)];
    }

    int total = 0;
    for (const WeightedKeys& choice : KEY_CHOICES) {
        total += choice.weight;
    }
    for (int k = 0; k < KEYS_PER_SEQUENCE; ++k) {
        int pick = static_cast<int>(rng() % static_cast<unsigned>(total));
        for (const WeightedKeys& choice : KEY_CHOICES) {
            if (pick < choice.weight) {
                edit.keys.push_back(choice.keys[rng() % choice.keys.size()]);
                break;
            }
            pick -= choice.weight;
        }
    }
    return edit;
}

// The whole screen as it must stand: the painting's dots, and over them from the
// start cell the text (or asterisks) followed by blanks up to shown_length.
std::string expected_screen(const EditorState& state) {
    std::string screen(static_cast<size_t>(LAYOUT.width * LAYOUT.height - 1), '.');
    screen += ' ';
    const int start = cell_index(LAYOUT, LAYOUT.x, LAYOUT.y);
    const int length = static_cast<int>(std::strlen(state.text));
    for (int i = 0; i < state.shown_length; ++i) {
        char shown = i >= length ? ' ' : state.mask_input ? '*' : state.text[i];
        screen[static_cast<size_t>(start + i)] = shown;
    }
    return screen;
}

std::string actual_screen() {
    std::string screen;
    for (int y = 0; y < LAYOUT.height; ++y) {
        screen += scripted_row(y);
    }
    return screen;
}

// The invariants between two keys, given the shown_length seen one key earlier.
::testing::AssertionResult holds_between_keys(const Mode& mode, int previous_shown) {
    const EditorState& state = editor_state();
    const int length = static_cast<int>(std::strlen(state.text));
    if (length > mode.capacity || state.capacity != mode.capacity) {
        return ::testing::AssertionFailure() << "length " << length << " beyond capacity "
                                             << mode.capacity;
    }
    if (state.cursor < 1 || state.cursor > length + 1) {
        return ::testing::AssertionFailure() << "cursor " << state.cursor << " outside 1.."
                                             << length + 1;
    }
    if (state.shown_length < length || state.shown_length < previous_shown) {
        return ::testing::AssertionFailure() << "shown_length " << state.shown_length
                                             << " below length " << length << " or the earlier "
                                             << previous_shown;
    }
    for (int i = 0; i < length; ++i) {
        char ch = state.text[i];
        if ((mode.numeric && (ch < '0' || ch > '9')) || (mode.upper && ch >= 'a' && ch <= 'z')) {
            return ::testing::AssertionFailure() << "text '" << state.text << "' breaks a filter";
        }
    }
    if (!state.accepted) {
        return ::testing::AssertionFailure() << "accepted turned false";
    }
    if (actual_screen() != expected_screen(state)) {
        return ::testing::AssertionFailure() << "screen does not show the text '" << state.text
                                             << "':\n" << scripted_screen();
    }
    const int start = cell_index(LAYOUT, LAYOUT.x, LAYOUT.y);
    if (cursor_cell(LAYOUT) != start + state.cursor - 1) {
        return ::testing::AssertionFailure() << "console cursor on cell " << cursor_cell(LAYOUT)
                                             << ", position " << state.cursor << " is cell "
                                             << start + state.cursor - 1;
    }
    return ::testing::AssertionSuccess();
}

TEST(EditLineProperty, InvariantsHoldAfterEveryKey) {
    std::mt19937 rng(20240611);
    for (int sequence = 0; sequence < SEQUENCES; ++sequence) {
        const RandomEdit edit = make_random_edit(rng);
        SCOPED_TRACE("sequence " + std::to_string(sequence) + ", initial '" + edit.initial + "'");
        std::string keys;
        int previous_shown = 0;
        for (size_t k = 0; k <= edit.keys.size(); ++k) {
            if (k > 0) {
                keys += edit.keys[k - 1];
            }
            EditRun run = run_edit(LAYOUT, edit.mode, edit.initial, keys);
            ASSERT_EQ(run.status, SCRIPTED_STARVED) << "keys " << keys;
            ASSERT_EQ(scripted_pending_events(), 0u);
            ASSERT_TRUE(holds_between_keys(edit.mode, previous_shown)) << "after keys " << keys;
            previous_shown = editor_state().shown_length;
        }

        // Enter hands back the text and leaves the cursor at the start of the row
        // after the line's last cell.
        const std::string text = editor_state().text;
        const int end = cell_index(LAYOUT, LAYOUT.x, LAYOUT.y) + static_cast<int>(text.size());
        EditRun run = run_edit(LAYOUT, edit.mode, edit.initial, keys + "{Enter}");
        ASSERT_EQ(run.status, -1);
        EXPECT_TRUE(run.accepted);
        EXPECT_EQ(run.buffer, text);
        EXPECT_EQ(scripted_cursor_x(), 0);
        EXPECT_EQ(scripted_cursor_y(), end / LAYOUT.width + 1);
    }
}

}  // namespace
