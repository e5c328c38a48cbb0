// Tests of console services on the scripted console: start-up, the cursor, key
// input from console events and from an input stream, and the tracked screen.
#include "console/console.h"

#include "console/keys.h"
#include "console/output.h"
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint16_t VK_A = 0x41;
constexpr uint16_t VK_X = 0x58;
constexpr uint16_t VK_F1 = 0x70;
constexpr uint16_t VK_RIGHT = 0x27;

InputEvent key(bool down, uint16_t virtual_key, uint16_t scan_code, uint8_t character,
               uint32_t control_state = 0, uint16_t repeat_count = 1) {
    InputEvent event{};
    event.event_type = EVENT_KEY;
    event.key = KeyEvent{down, repeat_count, virtual_key, scan_code, character, control_state};
    return event;
}

InputEvent press(uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                 uint32_t control_state = 0) {
    return key(true, virtual_key, scan_code, character, control_state);
}

InputEvent release(uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                   uint32_t control_state = 0) {
    return key(false, virtual_key, scan_code, character, control_state);
}

InputEvent other_event(uint16_t event_type) {
    InputEvent event{};
    event.event_type = event_type;
    // A key-like payload that must not be taken for a key.
    event.key = KeyEvent{true, 1, VK_A, 30, 'a', 0};
    return event;
}

// The keys of Alt with the keypad, as the console reports them with Num Lock on.
constexpr uint32_t ALT_NUM = LEFT_ALT_PRESSED | NUMLOCK_ON;
InputEvent alt_down() { return press(VK_CODE_MENU, 56, 0, ALT_NUM); }
InputEvent alt_up() { return release(VK_CODE_MENU, 56, 0, NUMLOCK_ON); }
InputEvent keypad_digit(int digit) {
    const uint16_t scans[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
    return press(static_cast<uint16_t>(VK_CODE_NUMPAD0 + digit), scans[digit], 0, ALT_NUM);
}

std::vector<int> keys_read;

// Reads keys until the run starves for input.
void read_all_keys() {
    for (;;) {
        keys_read.push_back(read_key());
    }
}

// Reads keys until no more come, and returns them.
std::vector<int> drain() {
    keys_read.clear();
    EXPECT_EQ(scripted_run(read_all_keys), SCRIPTED_STARVED);
    return keys_read;
}

// A fresh console and fresh console services for each test.
class Console : public ::testing::Test {
protected:
    void SetUp() override { start(80, 25); }

    static void start(int width, int height, int x = 0, int y = 0) {
        scripted_reset(width, height, x, y);
        alt_code_active = false;
        alt_code_value = 0;
        console_init();
    }

    static void push(const std::vector<InputEvent>& events) {
        for (const InputEvent& event : events) {
            scripted_push_event(event);
        }
    }
};

TEST_F(Console, InitTurnsCtrlCIntoAKeyAndReadsTheScreenSize) {
    scripted_reset(100, 40, 0, 0);
    scripted_set_input_mode(0x1F7);
    console_init();
    EXPECT_EQ(scripted_input_mode(), 0x1F6u);
    EXPECT_EQ(screen_width(), 100);
    EXPECT_EQ(screen_height(), 40);
    ASSERT_EQ(scripted_control_handler(), &console_ctrl_handler);

    // Only the processed-input bit is cleared; the others stay as they were.
    scripted_reset();
    scripted_set_input_mode(0x0006);
    console_init();
    EXPECT_EQ(scripted_input_mode(), 0x0006u);
}

TEST_F(Console, ControlHandlerHandlesOnlyCtrlBreak) {
    EXPECT_TRUE(console_ctrl_handler(CONTROL_BREAK_EVENT));
    const uint32_t passed_on[] = {CONTROL_C_EVENT, CONTROL_CLOSE_EVENT, CONTROL_LOGOFF_EVENT,
                                  CONTROL_SHUTDOWN_EVENT};
    for (uint32_t event : passed_on) {
        EXPECT_FALSE(console_ctrl_handler(event)) << event;
    }
}

TEST_F(Console, CursorIsQueriedAfreshAndMovedOnlyInsideTheStartUpSize) {
    start(10, 5, 3, 2);
    EXPECT_EQ(cursor_column(), 4);
    EXPECT_EQ(cursor_row(), 3);
    // Writes move the console's cursor; the next query sees it.
    platform_write_stdout("ab", 2);
    EXPECT_EQ(cursor_column(), 6);

    const int outside[][2] = {{0, 1}, {11, 1}, {1, 0}, {1, 6}, {-1, 3}, {0, 0}};
    for (const auto& cell : outside) {
        move_cursor_to(cell[0], cell[1]);
        EXPECT_EQ(scripted_cursor_x(), 5) << cell[0] << "," << cell[1];
        EXPECT_EQ(scripted_cursor_y(), 2) << cell[0] << "," << cell[1];
    }
    move_cursor_to(10, 5);
    EXPECT_EQ(scripted_cursor_x(), 9);
    EXPECT_EQ(scripted_cursor_y(), 4);
    move_cursor_to(1, 1);
    EXPECT_EQ(scripted_cursor_x(), 0);
    EXPECT_EQ(scripted_cursor_y(), 0);
    move_cursor_to(7, 2);
    EXPECT_EQ(cursor_column(), 7);
    EXPECT_EQ(cursor_row(), 2);
}

// Each case: the events queued and the key bytes they give, read to the end.
TEST_F(Console, EventsGiveKeyBytesByTheFirstRowThatFits) {
    struct Case {
        const char* name;
        std::vector<InputEvent> events;
        std::vector<int> bytes;
    };
    const Case cases[] = {
        {"other kinds of event are dropped",
         {other_event(EVENT_MOUSE), other_event(EVENT_BUFFER_SIZE), other_event(EVENT_MENU),
          other_event(EVENT_FOCUS)},
         {}},
        {"releases are dropped", {release(VK_A, 30, 'a')}, {}},
        {"modifier and lock presses are dropped",
         {press(VK_CODE_SHIFT, 42, 0, SHIFT_PRESSED), press(VK_CODE_CONTROL, 29, 0, LEFT_CTRL_PRESSED),
          press(VK_CODE_MENU, 56, 0, LEFT_ALT_PRESSED), press(VK_CODE_CAPITAL, 58, 0),
          press(VK_CODE_NUMLOCK, 69, 0), press(VK_CODE_SCROLL, 70, 0)},
         {}},
        {"a plain character", {press(VK_A, 30, 'a'), release(VK_A, 30, 'a')}, {'a'}},
        {"Ctrl+C is the key 3", {press(0x43, 46, 3, LEFT_CTRL_PRESSED)}, {3}},
        {"Pause is not dropped", {press(VK_CODE_PAUSE, 69, 0)}, {0, 69}},
        {"F1", {press(VK_F1, 59, 0)}, {0, 59}},
        {"only the low 8 bits of scan code and state", {press(VK_F1, 0x13B, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED)}, {0, 94}},
        {"character with exactly left Alt", {press(VK_X, 45, 'x', LEFT_ALT_PRESSED)}, {0, 45}},
        {"character with left Alt and Num Lock", {press(VK_X, 45, 'x', LEFT_ALT_PRESSED | NUMLOCK_ON)}, {'x'}},
        {"character with right Alt", {press(VK_X, 45, 'x', RIGHT_ALT_PRESSED)}, {'x'}},
        {"character with left Alt, enhanced", {press(VK_X, 45, 'x', LEFT_ALT_PRESSED | ENHANCED_KEY)}, {'x'}},
        {"Enter with left Alt", {press(VK_CODE_RETURN, 28, 13, LEFT_ALT_PRESSED)}, {0, 166}},
        {"repeat count ignored", {key(true, VK_A, 30, 'a', 0, 5)}, {'a'}},
        {"a code of 0 gives no key", {press(0xFF, 0x100, 0), press(VK_A, 30, 'b')}, {'b'}},
        {"Alt with keypad 6 and Num Lock off acts as Right",
         {alt_down(), press(VK_RIGHT, 77, 0, LEFT_ALT_PRESSED), alt_up()},
         {0, 157}},
        {"keypad digit with Alt and a character gives nothing and adds no digit",
         {alt_down(), press(VK_CODE_NUMPAD0 + 6, 77, '6', ALT_NUM), alt_up()},
         {}},
        {"several keys in the order typed",
         {press(VK_A, 30, 'a'), release(VK_A, 30, 'a'), press(VK_F1, 59, 0), press(0x42, 48, 'b'),
          release(0x42, 48, 'b')},
         {'a', 0, 59, 'b'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(80, 25);
        push(c.events);
        EXPECT_EQ(drain(), c.bytes);
        EXPECT_EQ(scripted_pending_events(), 0u);
    }
}

TEST_F(Console, AltKeypadCompositionThroughTheKeyReader) {
    struct Case {
        const char* name;
        std::vector<InputEvent> events;
        std::vector<int> bytes;
    };
    const Case cases[] = {
        {"6 5", {alt_down(), keypad_digit(6), keypad_digit(5), alt_up()}, {65}},
        {"3 0 0 wraps", {alt_down(), keypad_digit(3), keypad_digit(0), keypad_digit(0), alt_up()}, {44}},
        {"2 5 6 gives nothing, 6 6 then gives 66",
         {alt_down(), keypad_digit(2), keypad_digit(5), keypad_digit(6), alt_up(), alt_down(),
          keypad_digit(6), keypad_digit(6), alt_up()},
         {66}},
        {"F1 in between",
         {alt_down(), keypad_digit(6), press(VK_F1, 59, 0, ALT_NUM), keypad_digit(5), alt_up()},
         {0, 104, 65}},
        {"Alt alone", {alt_down(), alt_up()}, {}},
        {"the right Alt key",
         {press(VK_CODE_MENU, 56, 0, RIGHT_ALT_PRESSED | NUMLOCK_ON | ENHANCED_KEY),
          press(VK_CODE_NUMPAD0 + 9, 73, 0, RIGHT_ALT_PRESSED | NUMLOCK_ON),
          press(VK_CODE_NUMPAD0 + 7, 71, 0, RIGHT_ALT_PRESSED | NUMLOCK_ON),
          release(VK_CODE_MENU, 56, 0, NUMLOCK_ON | ENHANCED_KEY)},
         {97}},
        {"the digit's release is no key",
         {alt_down(), keypad_digit(6), release(VK_CODE_NUMPAD0 + 6, 77, 0, ALT_NUM), keypad_digit(5),
          alt_up(), press(VK_A, 30, 'a')},
         {65, 'a'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(80, 25);
        push(c.events);
        EXPECT_EQ(drain(), c.bytes);
    }
}

TEST_F(Console, AFoundKeyLeavesTheEventsBehindItQueued) {
    push({press(VK_A, 30, 'a'), release(VK_A, 30, 'a'), press(0x42, 48, 'b'), release(0x42, 48, 'b')});
    EXPECT_TRUE(key_available());
    EXPECT_EQ(scripted_input_log(), "nr");  // one count, one event read
    EXPECT_EQ(scripted_pending_events(), 3u);
    // With the key waiting nothing more is read.
    EXPECT_TRUE(key_available());
    EXPECT_EQ(scripted_input_log(), "nr");
    EXPECT_EQ(read_key(), 'a');
    EXPECT_EQ(scripted_pending_events(), 3u);
    EXPECT_TRUE(key_available());
    EXPECT_EQ(scripted_pending_events(), 1u);
    EXPECT_EQ(read_key(), 'b');
}

TEST_F(Console, OnlyTheEventsCountedAtTheStartAreLookedAt) {
    push({release(VK_A, 30, 'a')});
    scripted_push_late_event(press(0x42, 48, 'b'));
    EXPECT_FALSE(key_available());
    EXPECT_EQ(scripted_input_log(), "nr");
    EXPECT_EQ(scripted_pending_events(), 1u);
    EXPECT_TRUE(key_available());
    EXPECT_EQ(read_key(), 'b');
}

TEST_F(Console, EmptyInputAnswersAtOnce) {
    EXPECT_FALSE(key_available());
    EXPECT_EQ(scripted_input_log(), "n");
    EXPECT_EQ(scripted_pause_count(), 0);
}

TEST_F(Console, ReadKeyPausesBeforeEveryTestAndWaitsOnlyWithoutAWaitingKey) {
    push({press(VK_F1, 59, 0), press(VK_A, 30, 'a')});
    EXPECT_EQ(read_key(), 0);
    EXPECT_EQ(scripted_input_log(), "Pnr");
    // Between the two calls the code is waiting.
    EXPECT_TRUE(key_available());
    EXPECT_EQ(read_key(), 59);
    EXPECT_EQ(scripted_input_log(), "Pnrp");
    // A key found before read_key still costs one brief pause.
    EXPECT_TRUE(key_available());
    EXPECT_EQ(read_key(), 'a');
    EXPECT_EQ(scripted_input_log(), "Pnrpnrp");
    EXPECT_FALSE(key_available());
}

TEST_F(Console, ReadKeyPollsUntilAKeyComes) {
    push({release(VK_A, 30, 'a'), other_event(EVENT_FOCUS)});
    scripted_push_late_event(press(VK_A, 30, 'a'));
    EXPECT_EQ(read_key(), 'a');
    // First poll: two events, no key (the third arrived after the count); second poll finds it.
    EXPECT_EQ(scripted_input_log(), "PnrrPnr");
}

// Standard input that is no console: its bytes are the key bytes.
TEST_F(Console, InputStreamGivesKeyBytes) {
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t chunk;
        std::vector<int> keys;
    };
    const Case cases[] = {
        {"line ends", "ab\r\ncd\ne\rf", 0, {'a', 'b', 13, 'c', 'd', 13, 'e', 13, 'f', 3, 3}},
        {"CR LF split across reads", "a\r\nb", 2, {'a', 13, 'b', 3}},
        {"CR CR LF and LF CR", "\r\r\n\n\r", 1, {13, 13, 13, 13, 3}},
        {"extended key", std::string("\0G", 2), 0, {0, 71, 3}},
        {"code bytes are not line ends", std::string("\0\n\0\r\n", 5), 0, {0, 10, 0, 13, 13, 3}},
        {"empty input", "", 0, {3, 3, 3}},
        {"high bytes", "\xE9\xFF", 0, {0xE9, 0xFF, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scripted_reset();
        scripted_set_input_is_console(false);
        scripted_set_input_bytes(c.bytes);
        scripted_set_input_chunk(c.chunk);
        console_init();
        std::vector<int> keys;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            keys.push_back(read_key());
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(scripted_pause_count(), 0);
    }
}

TEST_F(Console, InputStreamIsNeverDiscardedAndEndsWithCtrlCOnAnError) {
    scripted_reset();
    scripted_set_input_is_console(false);
    scripted_set_input_bytes("ok");
    console_init();
    EXPECT_EQ(scripted_input_mode(), 0x1F7u);  // no console input mode to change
    EXPECT_FALSE(key_available());
    EXPECT_EQ(scripted_pending_input_bytes(), 2u);
    EXPECT_EQ(read_key(), 'o');
    scripted_fail(ScriptedOp::input_read, 1, 0);
    EXPECT_EQ(read_key(), 'k');  // already in the buffer
    EXPECT_EQ(read_key(), 3);
    EXPECT_EQ(read_key(), 3);
}

// Standard output that is no console: an 80 x 25 screen tracked from what is written.
TEST_F(Console, TrackedScreenFollowsTheOutput) {
    struct Case {
        const char* name;
        std::string text;
        int column;
        int row;
    };
    const std::string full_row(80, 'x');
    const Case cases[] = {
        {"characters advance", "abc", 4, 1},
        {"the last column wraps", full_row, 1, 2},
        {"one short of the end", full_row.substr(1), 80, 1},
        {"CR", "abc\r", 1, 1},
        {"LF", "abc\n", 1, 2},
        {"CR LF", "abc\r\nd", 2, 2},
        {"BS", "abc\b\b", 2, 1},
        {"BS stops at column 1", "\b\b", 1, 1},
        {"BEL shows nothing", "a\a", 2, 1},
        {"LF on the last row keeps the row", std::string(30, '\n') + "ab", 3, 25},
        {"wrap on the last row keeps the row", std::string(24, '\n') + full_row + "a", 2, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scripted_reset();
        scripted_set_output_is_console(false);
        console_init();
        EXPECT_EQ(screen_width(), 80);
        EXPECT_EQ(screen_height(), 25);
        write_stdout(c.text.data(), static_cast<uint32_t>(c.text.size()));
        EXPECT_EQ(cursor_column(), c.column);
        EXPECT_EQ(cursor_row(), c.row);
    }
}

TEST_F(Console, TrackedCursorMovesWithoutWritingAnything) {
    scripted_reset();
    scripted_set_output_is_console(false);
    console_init();
    write_stdout("hello", 5);
    move_cursor_to(3, 4);
    EXPECT_EQ(cursor_column(), 3);
    EXPECT_EQ(cursor_row(), 4);
    move_cursor_to(81, 1);
    move_cursor_to(1, 26);
    move_cursor_to(0, 2);
    EXPECT_EQ(cursor_column(), 3);
    EXPECT_EQ(cursor_row(), 4);
    move_cursor_to(80, 25);
    EXPECT_EQ(cursor_column(), 80);
    write_stdout("z", 1);
    EXPECT_EQ(cursor_column(), 1);
    EXPECT_EQ(cursor_row(), 25);
    EXPECT_EQ(scripted_stdout(), "helloz");
}

}  // namespace

namespace {

// Text typed on the scripted keyboard comes back byte for byte, with modifiers,
// control characters and named keys as the editor receives them.
TEST(ScriptedKeyboard, TypedTextAndNamedKeysReadBack) {
    scripted_reset();
    alt_code_active = false;
    alt_code_value = 0;
    console_init();
    const std::string text = "Hi! a~Z{}|:\"<>?\x03\x15\x1b\b\t\r";
    scripted_type(text);
    scripted_push_named_key(ScriptedKey::home);
    scripted_push_named_key(ScriptedKey::left, LEFT_CTRL_PRESSED);
    scripted_push_named_key(ScriptedKey::f12, SHIFT_PRESSED);
    std::vector<int> expected(text.begin(), text.end());
    expected.insert(expected.end(), {0, 71, 0, 115, 0, 136});
    EXPECT_EQ(drain(), expected);
}

}  // namespace
