// Tests of the scripted in-memory console the other tests run on: the screen grid,
// the environment, the files and the planned failures.
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

void write(const std::string& text) {
    ASSERT_TRUE(platform_write_stdout(text.data(), static_cast<uint32_t>(text.size())));
}

TEST(ScriptedScreen, WritingInTheLastColumnWrapsToTheNextRow) {
    scripted_reset(5, 3, 3, 0);
    write("ab");
    EXPECT_EQ(scripted_row(0), "   ab");
    EXPECT_EQ(scripted_cursor_x(), 0);
    EXPECT_EQ(scripted_cursor_y(), 1);
    write("c");
    EXPECT_EQ(scripted_row(1), "c    ");
    EXPECT_EQ(scripted_cursor_x(), 1);
}

TEST(ScriptedScreen, WrapOnTheLastRowScrollsTheBufferUp) {
    scripted_reset(4, 3, 0, 0);
    write("top!mid!lowe");
    // The third row filled: the top row is gone and the cursor starts a blank last row.
    EXPECT_EQ(scripted_row(0), "mid!");
    EXPECT_EQ(scripted_row(1), "lowe");
    EXPECT_EQ(scripted_row(2), "    ");
    EXPECT_EQ(scripted_cursor_x(), 0);
    EXPECT_EQ(scripted_cursor_y(), 2);
}

TEST(ScriptedScreen, ControlBytesMoveTheCursor) {
    struct Case {
        const char* text;
        int cursor_x;
        int cursor_y;
        const char* row0;
        const char* row1;
    };
    const Case cases[] = {
        {"abc\r", 0, 0, "abc   ", "      "},
        {"abc\rX", 1, 0, "Xbc   ", "      "},
        {"abc\n", 0, 1, "abc   ", "      "},
        {"ab\r\ncd", 2, 1, "ab    ", "cd    "},
        {"ab\bX", 2, 0, "aX    ", "      "},
        {"\b\bX", 1, 0, "X     ", "      "},  // Backspace stops at column 0
        {"a\aB", 2, 0, "aB    ", "      "},   // BEL shows nothing
        {"a\tb", 3, 0, "a\tb   ", "      "},  // other control bytes fill a cell
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        scripted_reset(6, 3);
        write(c.text);
        EXPECT_EQ(scripted_cursor_x(), c.cursor_x);
        EXPECT_EQ(scripted_cursor_y(), c.cursor_y);
        EXPECT_EQ(scripted_row(0), c.row0);
        EXPECT_EQ(scripted_row(1), c.row1);
    }
}

TEST(ScriptedScreen, LineFeedOnTheLastRowScrolls) {
    scripted_reset(3, 2, 0, 1);
    write("ab\nc");
    EXPECT_EQ(scripted_row(0), "ab ");
    EXPECT_EQ(scripted_row(1), "c  ");
    EXPECT_EQ(scripted_cursor_y(), 1);
    EXPECT_EQ(scripted_stdout(), "ab\nc");
}

TEST(ScriptedScreen, CursorPlacementOutsideTheGridIsIgnored) {
    scripted_reset(10, 4, 2, 1);
    const int16_t outside[][2] = {{-1, 0}, {10, 0}, {0, -1}, {0, 4}};
    for (const auto& cell : outside) {
        platform_set_cursor(cell[0], cell[1]);
        EXPECT_EQ(scripted_cursor_x(), 2);
        EXPECT_EQ(scripted_cursor_y(), 1);
    }
    platform_set_cursor(9, 3);
    ScreenInfo info{};
    ASSERT_TRUE(platform_screen_info(&info));
    EXPECT_EQ(info.width, 10);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.cursor_x, 9);
    EXPECT_EQ(info.cursor_y, 3);
}

TEST(ScriptedScreen, OutputThatIsNoConsoleIsRecordedButNotShown) {
    scripted_reset(10, 4);
    scripted_set_output_is_console(false);
    ScreenInfo info{};
    EXPECT_FALSE(platform_screen_info(&info));
    EXPECT_FALSE(platform_output_is_console());
    EXPECT_FALSE(platform_stdout_is_char_device());
    write("hello");
    EXPECT_EQ(scripted_stdout(), "hello");
    EXPECT_EQ(scripted_row(0), "          ");
}

TEST(ScriptedEnvironment, AnswersAsGetEnvironmentVariable) {
    scripted_reset();
    scripted_set_env("Name", "Bob");
    scripted_set_env("EMPTY", "");
    char buffer[8];
    EXPECT_EQ(platform_get_env("NAME", buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "Bob");
    EXPECT_EQ(platform_get_env("MISSING", buffer, sizeof buffer), 0u);
    EXPECT_EQ(platform_get_env("EMPTY", buffer, sizeof buffer), 0u);
    // Too small: the size needed, the ending zero included.
    EXPECT_EQ(platform_get_env("name", buffer, 3), 4u);
    EXPECT_EQ(platform_get_env("name", buffer, 4), 3u);
    scripted_set_env("NAME", nullptr);
    EXPECT_EQ(platform_get_env("NAME", buffer, sizeof buffer), 0u);
}

TEST(ScriptedFiles, CreateWriteCloseDelete) {
    scripted_reset();
    scripted_put_file("out.bat", "old");
    uint32_t error = 0;
    FileHandle file = platform_file_create("out.bat", &error);
    ASSERT_NE(file, 0u);
    EXPECT_EQ(scripted_file_contents("out.bat"), "");
    EXPECT_TRUE(platform_file_write(file, "SET ", 4));
    EXPECT_TRUE(platform_file_write(file, "A=1", 3));
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET A=1");
    EXPECT_FALSE(platform_file_is_char_device(file));
    // Held without sharing: neither a second create nor a delete gets through.
    EXPECT_EQ(platform_file_create("out.bat", &error), 0u);
    EXPECT_EQ(error, 32u);
    EXPECT_FALSE(platform_file_delete("out.bat", &error));
    EXPECT_EQ(error, 32u);
    platform_file_close(file);
    EXPECT_FALSE(scripted_file_is_open("out.bat"));
    EXPECT_TRUE(platform_file_delete("out.bat", &error));
    EXPECT_FALSE(scripted_file_exists("out.bat"));
    EXPECT_FALSE(platform_file_delete("out.bat", &error));
    EXPECT_EQ(error, 2u);
}

TEST(ScriptedFailures, NthCallFailsOnceOrFromThenOn) {
    scripted_reset();
    uint32_t error = 0;
    FileHandle file = platform_file_create("a", &error);
    scripted_fail(ScriptedOp::file_write, 2, 0);
    EXPECT_TRUE(platform_file_write(file, "1", 1));
    EXPECT_FALSE(platform_file_write(file, "2", 1));
    EXPECT_TRUE(platform_file_write(file, "3", 1));
    EXPECT_EQ(scripted_file_contents("a"), "13");
    EXPECT_EQ(scripted_call_count(ScriptedOp::file_write), 3);

    scripted_fail(ScriptedOp::file_create, 1, 5, true);
    for (int i = 0; i < 3; ++i) {
        error = 0;
        EXPECT_EQ(platform_file_create("b", &error), 0u);
        EXPECT_EQ(error, 5u);
    }
    scripted_fail(ScriptedOp::stdout_write, 1, 0);
    EXPECT_FALSE(platform_write_stdout("x", 1));
    EXPECT_TRUE(platform_write_stdout("y", 1));
    EXPECT_EQ(scripted_stdout(), "y");
}

void exits_with_seven() { platform_exit(7); }
void returns() {}
void waits_for_input() {
    platform_pause(false);
    platform_pause(true);
}

TEST(ScriptedRun, EndsWithTheExitStatusOrStarvation) {
    scripted_reset();
    EXPECT_EQ(scripted_run(exits_with_seven), 7);
    EXPECT_EQ(scripted_run(returns), -1);
    EXPECT_EQ(scripted_run(waits_for_input), SCRIPTED_STARVED);
    EXPECT_EQ(scripted_pause_count(), 2);
    EXPECT_EQ(scripted_waiting_pause_count(), 1);
    // With an event queued a waiting pause returns.
    scripted_push_key(0x41, 30, 'a');
    EXPECT_EQ(scripted_run(waits_for_input), -1);
}

TEST(ScriptedInput, StreamBytesComeInChunks) {
    scripted_reset();
    scripted_set_input_is_console(false);
    EXPECT_FALSE(platform_console_open());
    scripted_set_input_bytes("abcde");
    scripted_set_input_chunk(2);
    char buffer[8];
    EXPECT_EQ(platform_read_input_bytes(buffer, 8), 2);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    EXPECT_EQ(platform_read_input_bytes(buffer, 1), 1);
    EXPECT_EQ(platform_read_input_bytes(buffer, 8), 2);
    EXPECT_EQ(platform_read_input_bytes(buffer, 8), 0);
    scripted_fail(ScriptedOp::input_read, 1, 0);
    EXPECT_EQ(platform_read_input_bytes(buffer, 8), -1);
}

}  // namespace
