// program_test.cpp - whole runs of the main program on the scripted console: the
// settings from the options, help and refusals, the output batch file, the exit
// status, and the handling of failed writes and deletes.
#include "app/failure.h"
#include "app/program.h"
#include "app/settings.h"
#include "console/output.h"
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string HELP =
    "Kestin * Version 6 * an editable input line for batch files\r\n"
    "\r\n"
    "Usage: kestin -v var -f filename [-l length] [-p prompt] [-b] [-m] [-n] [-o]\r\n"
    "              [-u]\r\n"
    "\r\n"
    "  -v var       specifies the environment variable name to create/edit\r\n"
    "  -f filename  specifies the name of the output batch file\r\n"
    "  -l length    limits the length of the input string (range=1 to 2040)\r\n"
    "  -p prompt    the prompt to display (enclose in quotes if needed)\r\n"
    "  -b           position cursor at beginning of input line, instead of the end\r\n"
    "  -m           mask input (typed characters appear as asterisks)\r\n"
    "  -n           numeric input only (0-9)\r\n"
    "  -o           start editing in overtype mode rather than insert mode\r\n"
    "  -u           upper case input (all typed characters forced to upper case)\r\n"
    "\r\n"
    "Places the contents of the specified environment variable onto the input line\r\n"
    "for editing. Then the output batch file is created in the following form:\r\n"
    "  SET varname=value\r\n"
    "\r\n"
    "Exit codes:\r\n"
    "  1  User pressed Ctrl+C to abort the input\r\n"
    "  2  Nothing entered on the input line\r\n"
    "  3  Error on the command line\r\n";

std::string refusal(const std::string& message) { return message + "\r\nUse -h for help\r\n"; }

const std::string NO_NAME = refusal("Environment variable name not specified");
const std::string NO_FILE = refusal("Output file name not specified");
const std::string BAD_LENGTH = refusal("Invalid maximum length specified");
const std::string CANNOT_OPEN = refusal("Cannot open file for output");

// The report for a failure found at the scripted fake place with a call stack of
// depth 3 (as after a reset).
std::string report(unsigned number) {
    return "Runtime error " + std::to_string(number) +
           " at 0x00001234\r\n  0x00001234\r\n  0x00001100\r\n  0x00001200\r\n  0x00001300\r\n\r\n";
}

// The console and files start fresh; standard input is a stream of key bytes and
// standard output a file, so that what is written can be compared byte for byte.
class Program : public testing::Test {
protected:
    void SetUp() override {
        scripted_reset();
        take_failure();
        scripted_set_input_is_console(false);
        scripted_set_output_is_console(false);
    }

    // Runs the program with the arguments after its name and the key bytes.
    int run(const std::vector<std::string>& arguments, const std::string& keys = "") {
        std::vector<std::string> all{"kestin"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        scripted_set_arguments(all);
        scripted_set_input_bytes(keys);
        return scripted_run(run_program);
    }
};

// ---------------------------------------------------------------------------
// Help and refusals

struct EarlyEndCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const std::string* output;
};

// Cases print as their names in test listings.
void PrintTo(const EarlyEndCase& c, std::ostream* os) { *os << c.name; }

class EarlyEnd : public Program, public testing::WithParamInterface<EarlyEndCase> {};

// Runs that end before the output file is touched: the exact output and status, no
// file created, no key read, and an existing file left as it was.
TEST_P(EarlyEnd, WritesTheTextAndTouchesNoFile) {
    scripted_put_file("out.bat", "old\r\n");
    EXPECT_EQ(run(GetParam().arguments, "abc\r"), GetParam().status);
    EXPECT_EQ(scripted_stdout(), *GetParam().output);
    EXPECT_EQ(scripted_call_count(ScriptedOp::file_create), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "old\r\n");
    EXPECT_EQ(scripted_pending_input_bytes(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EarlyEnd,
    testing::Values(
        EarlyEndCase{"help_slash_question", {"/?"}, 0, &HELP},
        EarlyEndCase{"help_slash_question_then_anything", {"/?", "-l", "0", "-v"}, 0, &HELP},
        EarlyEndCase{"help_h_after_options", {"-v", "x", "-f", "out.bat", "-h"}, 0, &HELP},
        EarlyEndCase{"help_h_stops_the_scan", {"-H", "-l", "0"}, 0, &HELP},
        EarlyEndCase{"help_h_after_bad_length", {"-l", "x", "-h"}, 0, &HELP},
        EarlyEndCase{"help_h_grouped", {"/bh"}, 0, &HELP},
        EarlyEndCase{"slash_question_not_first", {"-v", "x", "/?"}, 3, &NO_FILE},
        EarlyEndCase{"slash_question_with_more", {"/??"}, 3, &NO_NAME},
        EarlyEndCase{"h_as_a_value", {"-v", "x", "-p", "-h"}, 3, &NO_FILE},
        EarlyEndCase{"no_arguments", {}, 3, &NO_NAME},
        EarlyEndCase{"only_output_file", {"-f", "out.bat"}, 3, &NO_NAME},
        EarlyEndCase{"empty_name", {"-v", "", "-f", "out.bat"}, 3, &NO_NAME},
        EarlyEndCase{"name_missing_at_end", {"-f", "out.bat", "-v"}, 3, &NO_NAME},
        EarlyEndCase{"name_refused_before_length", {"-l", "0"}, 3, &NO_NAME},
        EarlyEndCase{"no_output_file", {"-v", "x", "-l", "0"}, 3, &NO_FILE},
        EarlyEndCase{"file_after_double_dash", {"-v", "x", "--", "-f", "out.bat"}, 3, &NO_FILE},
        EarlyEndCase{"length_zero", {"-v", "x", "-f", "out.bat", "-l", "0"}, 3, &BAD_LENGTH},
        EarlyEndCase{"length_2041", {"-v", "x", "-f", "out.bat", "-l", "2041"}, 3, &BAD_LENGTH},
        EarlyEndCase{"length_negative", {"-v", "x", "-f", "out.bat", "-l", "-1"}, 3, &BAD_LENGTH},
        EarlyEndCase{"length_hex_wraps_negative", {"-v", "x", "-f", "out.bat", "-l", "$FFFFFFFF"},
                     3, &BAD_LENGTH},
        EarlyEndCase{"length_not_a_number", {"-v", "x", "-f", "out.bat", "-l", "0x10"}, 3,
                     &BAD_LENGTH}),
    [](const testing::TestParamInfo<EarlyEndCase>& param_info) {
        return std::string(param_info.param.name);
    });

// A value missing at the end is passed over: the length keeps its default.
TEST_F(Program, MissingLengthValueKeepsTheDefault) {
    EXPECT_EQ(run({"-v", "x", "-f", "out.bat", "-l"}, "abc\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET X=abc\r\n");
}

// The help and a refusal end with status 101 when standard output cannot be
// written, and the lines after the failed one are not written.
TEST_F(Program, HelpStopsAtTheFirstLineThatCannotBeWritten) {
    scripted_fail(ScriptedOp::stdout_write, 5, 29);
    EXPECT_EQ(run({"/?"}), 101);
    std::string first_four = HELP.substr(0, HELP.find("\r\n\r\n  -v var") + 2);
    EXPECT_EQ(scripted_stdout(), first_four + report(101));
}

TEST_F(Program, RefusalWhoseHintCannotBeWrittenEndsWith101) {
    scripted_fail(ScriptedOp::stdout_write, 2, 29);
    EXPECT_EQ(run({}), 101);
    EXPECT_EQ(scripted_stdout(), "Environment variable name not specified\r\n" + report(101));
}

TEST_F(Program, NothingWritableOnStandardOutputStillEndsWith101) {
    scripted_fail(ScriptedOp::stdout_write, 1, 29, true);
    EXPECT_EQ(run({"/?"}), 101);
    EXPECT_EQ(scripted_stdout(), "");
}

// ---------------------------------------------------------------------------
// Settings from the options

// Runs the start-up and the command-line processing only, then returns.
void parse_only() {
    start_up();
    parse_command_line();
}

struct SettingsCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string var_name;
    std::string output_file;
    std::string prompt;
    int32_t max_length;
    const char* flags;  // letters of the flags set: b m n o u
};

// Cases print as their names in test listings.
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class SettingsFromOptions : public Program, public testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFromOptions, AreSetInCommandLineOrder) {
    std::vector<std::string> all{"kestin"};
    all.insert(all.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    scripted_set_arguments(all);
    ASSERT_EQ(scripted_run(parse_only), -1);
    EXPECT_EQ(settings.var_name, GetParam().var_name);
    EXPECT_EQ(settings.output_file, GetParam().output_file);
    EXPECT_EQ(settings.prompt, GetParam().prompt);
    EXPECT_EQ(settings.max_length, GetParam().max_length);
    std::string flags;
    if (settings.cursor_at_start) flags += 'b';
    if (settings.mask_input) flags += 'm';
    if (settings.numeric_only) flags += 'n';
    if (settings.overtype_start) flags += 'o';
    if (settings.upper_case) flags += 'u';
    EXPECT_EQ(flags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFromOptions,
    testing::Values(
        SettingsCase{"defaults", {}, "", "", "", 2040, ""},
        SettingsCase{"all_options", {"-v", "name", "-f", "out.bat", "-p", "Name: ", "-l", "10",
                                     "-b", "-m", "-n", "-o", "-u"},
                     "NAME", "out.bat", "Name: ", 10, "bmnou"},
        SettingsCase{"capital_letters_and_slashes", {"/V", "x", "/F", "o.bat", "/P", "p", "/L",
                                                     "5", "/B", "/M", "/N", "/O", "/U"},
                     "X", "o.bat", "p", 5, "bmnou"},
        SettingsCase{"grouped_flags", {"-bmu"}, "", "", "", 2040, "bmu"},
        SettingsCase{"name_in_same_argument", {"-vname"}, "NAME", "", "", 2040, ""},
        SettingsCase{"flag_and_name_grouped", {"-bvname"}, "NAME", "", "", 2040, "b"},
        SettingsCase{"only_a_to_z_become_capitals",
                     {"-v", "my_var1-\xE4\xDF"}, "MY_VAR1-\xE4\xDF", "", "", 2040, ""},
        SettingsCase{"file_name_kept_as_typed", {"-f", "Dir/Out.BAT"}, "", "Dir/Out.BAT", "",
                     2040, ""},
        SettingsCase{"later_value_wins", {"-l", "10", "-l", "20", "-v", "a", "-v", "b"}, "B",
                     "", "", 20, ""},
        SettingsCase{"invalid_length_gives_zero", {"-l", "20", "-l", "x"}, "", "", "", 0, ""},
        SettingsCase{"length_with_leading_blanks", {"-l", "  $7F8"}, "", "", "", 2040, ""},
        SettingsCase{"prompt_takes_dash_v", {"-p", "-v", "name"}, "", "", "-v", 2040, ""},
        SettingsCase{"nothing_after_double_dash", {"-v", "n", "--", "-f", "o", "-b"}, "N", "",
                     "", 2040, ""},
        SettingsCase{"unknown_letters_and_words_passed_over",
                     {"word", "-x", "-?", "-bxm", "/", "-"}, "", "", "", 2040, "bm"}),
    [](const testing::TestParamInfo<SettingsCase>& param_info) {
        return std::string(param_info.param.name);
    });

// Masked input takes any character, so the check turns numeric-only input off.
TEST_F(Program, MaskedInputIsNotNumericOnly) {
    EXPECT_EQ(run({"-v", "x", "-f", "out.bat", "-m", "-n"}, "a1\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET X=a1\r\n");
    EXPECT_EQ(run({"-v", "x", "-f", "out.bat", "-n"}, "a1\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET X=1\r\n");
}

// ---------------------------------------------------------------------------
// The environment value

struct EnvironmentCase {
    const char* name;
    const char* value;  // nullptr: no such variable
    std::string expected;
};

// Cases print as their names in test listings.
void PrintTo(const EnvironmentCase& c, std::ostream* os) { *os << c.name; }

class EnvironmentValue : public Program, public testing::WithParamInterface<EnvironmentCase> {};

TEST_P(EnvironmentValue, IsReadIntoTheValueBuffer) {
    scripted_set_env("NAME", GetParam().value);
    scripted_set_arguments({"kestin", "-v", "name"});
    std::memset(value_buffer, 'z', sizeof value_buffer);
    ASSERT_EQ(scripted_run(parse_only), -1);
    EXPECT_EQ(std::string(value_buffer), GetParam().expected);
}

const std::string VALUE_2040(2040, 'v');
const std::string VALUE_2041(2041, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvironmentValue,
    testing::Values(EnvironmentCase{"missing", nullptr, ""}, EnvironmentCase{"empty", "", ""},
                    EnvironmentCase{"plain", "abc", "abc"},
                    EnvironmentCase{"special_characters", "50% & <a> \"b\"", "50% & <a> \"b\""},
                    EnvironmentCase{"longest_taken_whole", VALUE_2040.c_str(), VALUE_2040},
                    // Longer values are not cut short: the edit line begins empty.
                    EnvironmentCase{"longer_not_taken", VALUE_2041.c_str(), ""}),
    [](const testing::TestParamInfo<EnvironmentCase>& param_info) {
        return std::string(param_info.param.name);
    });

TEST_F(Program, ValueLongerThanTheLimitAndEnterWritesNothing) {
    scripted_set_env("PATH", VALUE_2041.c_str());
    EXPECT_EQ(run({"-v", "path", "-f", "out.bat"}, "\r"), 2);
    EXPECT_FALSE(scripted_file_exists("out.bat"));
}

// ---------------------------------------------------------------------------
// Whole runs: the output batch file and the status

TEST_F(Program, EnterAtOnceWritesTheLineAndCloses) {
    scripted_set_env("NAME", "abc");
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat", "-p", "Name: "}, "\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET NAME=abc\r\n");
    EXPECT_FALSE(scripted_file_is_open("out.bat"));
    EXPECT_EQ(scripted_stdout(), "Name: abc\r\n");
}

TEST_F(Program, EditedValueIsWritten) {
    scripted_set_env("NAME", "Bob");
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, "\b\b\bAlice\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET NAME=Alice\r\n");
}

TEST_F(Program, EditingOnTheConsoleAfterThePrompt) {
    scripted_set_input_is_console(true);
    scripted_set_output_is_console(true);
    scripted_set_env("NAME", "Bob");
    scripted_set_arguments({"kestin", "-v", "name", "-f", "out.bat", "-p", "Name: "});
    // Keys that arrive once the edit has begun.
    for (char c : std::string("\b\b\bAl\r")) {
        InputEvent event{};
        event.event_type = EVENT_KEY;
        event.key.key_down = true;
        event.key.virtual_key = c == '\r' ? VK_CODE_RETURN : c == '\b' ? VK_CODE_BACK : 0;
        event.key.character = static_cast<uint8_t>(c);
        scripted_push_late_event(event);
        event.key.key_down = false;
        scripted_push_late_event(event);
    }
    EXPECT_EQ(scripted_run(run_program), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET NAME=Al\r\n");
    EXPECT_EQ(scripted_row(0).substr(0, 12), "Name: Al    ");
    EXPECT_EQ(scripted_cursor_y(), 1);
}

struct DeleteCase {
    const char* name;
    std::string keys;
    int status;
};

// Cases print as their names in test listings.
void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.name; }

class LineNotSet : public Program, public testing::WithParamInterface<DeleteCase> {};

// Ctrl+C and an empty line delete the output file, also one that existed before.
TEST_P(LineNotSet, DeletesTheFile) {
    scripted_put_file("out.bat", "SET OLD=1\r\n");
    scripted_set_env("NAME", "abc");
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, GetParam().keys), GetParam().status);
    EXPECT_FALSE(scripted_file_exists("out.bat"));
}

INSTANTIATE_TEST_SUITE_P(Cases, LineNotSet,
                         testing::Values(DeleteCase{"ctrl_c", "xy\x03", 1},
                                         DeleteCase{"end_of_input", "xy", 1},
                                         DeleteCase{"empty_line", "\b\b\b\r", 2}),
                         [](const testing::TestParamInfo<DeleteCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

TEST_F(Program, FileThatCannotBeCreatedIsRefusedBeforeAnyKey) {
    scripted_fail(ScriptedOp::file_create, 1, 3);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat", "-p", "Name: "}, "abc\r"), 3);
    EXPECT_EQ(scripted_stdout(), CANNOT_OPEN);
    EXPECT_EQ(scripted_pending_input_bytes(), 4u);
}

TEST_F(Program, SlashesBecomeBackslashesWhereTheSystemUsesThem) {
    scripted_set_env("NAME", "v");
    EXPECT_EQ(run({"-v", "name", "-f", "dir/sub/out.bat"}, "\r"), 0);
    EXPECT_EQ(scripted_file_contents("dir\\sub\\out.bat"), "SET NAME=v\r\n");
    EXPECT_FALSE(scripted_file_exists("dir/sub/out.bat"));
    // The deletion uses the name as opened.
    EXPECT_EQ(run({"-v", "name", "-f", "dir/sub/out.bat"}, "\x03"), 1);
    EXPECT_FALSE(scripted_file_exists("dir\\sub\\out.bat"));
}

TEST_F(Program, SlashesStayWhereTheyAreTheSeparator) {
    scripted_set_backslash_paths(false);
    scripted_set_env("NAME", "v");
    EXPECT_EQ(run({"-v", "name", "-f", "dir/out.bat"}, "\r"), 0);
    EXPECT_EQ(scripted_file_contents("dir/out.bat"), "SET NAME=v\r\n");
}

// The line goes through a 256-byte buffer: each full buffer is one write, the rest is
// handed over by the close.
TEST_F(Program, LongLineIsWrittenInWholeBuffers) {
    scripted_set_env("NAME", VALUE_2040.c_str());
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, "\r"), 0);
    EXPECT_EQ(scripted_file_contents("out.bat"), "SET NAME=" + VALUE_2040 + "\r\n");
    EXPECT_EQ(scripted_call_count(ScriptedOp::file_write), 9);  // 2051 bytes: 8 x 256 + 3
}

// A character device takes the line at once, and its handle stays open; Ctrl+C does
// not try to delete a device.
TEST_F(Program, CharacterDeviceIsWrittenAtOnceAndNeitherClosedNorDeleted) {
    scripted_set_char_device("CON");
    scripted_set_env("NAME", "abc");
    scripted_fail(ScriptedOp::file_write, 1, 0);
    EXPECT_EQ(run({"-v", "name", "-f", "CON", "-p", "p> "}, "\r"), 101);
    // The failure was found at the write statement, before any close was tried.
    EXPECT_EQ(scripted_call_count(ScriptedOp::file_close), 0);

    SetUp();
    scripted_set_char_device("CON");
    scripted_set_env("NAME", "abc");
    EXPECT_EQ(run({"-v", "name", "-f", "CON"}, "\r"), 0);
    EXPECT_EQ(scripted_file_contents("CON"), "SET NAME=abc\r\n");
    EXPECT_TRUE(scripted_file_is_open("CON"));
    EXPECT_EQ(run({"-v", "name", "-f", "CON"}, "\x03"), 1);
    EXPECT_EQ(scripted_call_count(ScriptedOp::file_delete), 0);
    EXPECT_TRUE(scripted_file_exists("CON"));
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(Program, FullDiskKeepsTheBuffersWrittenBefore) {
    scripted_set_env("NAME", VALUE_2040.c_str());
    scripted_fail(ScriptedOp::file_write, 3, 112);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat", "-p", "> "}, "\r"), 101);
    std::string line = "SET NAME=" + VALUE_2040 + "\r\n";
    EXPECT_EQ(scripted_file_contents("out.bat"), line.substr(0, 512));
    // The failure inside the write statement leaves the handle open.
    EXPECT_TRUE(scripted_file_is_open("out.bat"));
    EXPECT_EQ(scripted_stdout(), "> " + VALUE_2040 + "\r\n" + report(101));
}

TEST_F(Program, FailureWhileClosingClosesAllTheSame) {
    scripted_set_env("NAME", "abc");
    scripted_fail(ScriptedOp::file_write, 1, 112);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, "\r"), 101);
    EXPECT_EQ(scripted_file_contents("out.bat"), "");
    EXPECT_FALSE(scripted_file_is_open("out.bat"));
}

TEST_F(Program, FailureWritingThePromptLeavesTheFileEmptyAndReadsNoKey) {
    scripted_put_file("out.bat", "old\r\n");
    scripted_fail(ScriptedOp::stdout_write, 1, 232);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat", "-p", "Name: "}, "abc\r"), 101);
    EXPECT_EQ(scripted_stdout(), report(101));
    EXPECT_TRUE(scripted_file_exists("out.bat"));
    EXPECT_EQ(scripted_file_contents("out.bat"), "");
    EXPECT_EQ(scripted_pending_input_bytes(), 4u);
}

struct DeleteFailureCase {
    const char* name;
    uint32_t error;   // the system's error code
    unsigned number;  // the failure number in the report
    int status;
};

// Cases print as their names in test listings.
void PrintTo(const DeleteFailureCase& c, std::ostream* os) { *os << c.name; }

class DeleteFailure : public Program, public testing::WithParamInterface<DeleteFailureCase> {};

// A failed delete reports its number and ends with it as status, never with 0.
TEST_P(DeleteFailure, EndsWithTheNumberOfTheFailure) {
    scripted_set_env("NAME", "abc");
    scripted_fail(ScriptedOp::file_delete, 1, GetParam().error);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat", "-p", "N: "}, "\x03"), GetParam().status);
    EXPECT_EQ(scripted_stdout(), "N: abc^C\r\n" + report(GetParam().number));
    EXPECT_TRUE(scripted_file_exists("out.bat"));
    EXPECT_FALSE(scripted_file_is_open("out.bat"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteFailure,
    testing::Values(DeleteFailureCase{"access_denied", 5, 5, 5},
                    DeleteFailureCase{"sharing_violation_as_access_denied", 32, 5, 5},
                    DeleteFailureCase{"write_protect", 19, 150, 150},
                    DeleteFailureCase{"general_failure", 31, 162, 162},
                    DeleteFailureCase{"lock_violation_unchanged", 33, 33, 33},
                    DeleteFailureCase{"file_not_found", 2, 2, 2},
                    DeleteFailureCase{"large_code_modulo_256", 1392, 1392, 1392 % 256},
                    DeleteFailureCase{"low_16_bits_kept", 0x10005, 5, 5},
                    // A code that would read as success gives a number that does not.
                    DeleteFailureCase{"code_zero", 0, FAILURE_UNKNOWN, 255},
                    DeleteFailureCase{"low_16_bits_zero", 0x20000, FAILURE_UNKNOWN, 255},
                    DeleteFailureCase{"multiple_of_256", 512, 512, 255}),
    [](const testing::TestParamInfo<DeleteFailureCase>& param_info) {
        return std::string(param_info.param.name);
    });

TEST_F(Program, FailedDeleteAfterAnEmptyLine) {
    scripted_fail(ScriptedOp::file_delete, 1, 5);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, "\r"), 5);
    EXPECT_EQ(scripted_stdout(), "\r\n" + report(5));
}

TEST(FailureNumber, MapsSystemCodes) {
    EXPECT_EQ(failure_number(18), 18);
    EXPECT_EQ(failure_number(19), 150);
    EXPECT_EQ(failure_number(31), 162);
    EXPECT_EQ(failure_number(32), 5);
    EXPECT_EQ(failure_number(0xFFFF), 0xFFFF);
    EXPECT_EQ(failure_number(0), FAILURE_UNKNOWN);
}

// The report lists at most 9 calls on a character device and at most 257 otherwise.
struct ReportLimitCase {
    const char* name;
    bool char_device;
    int depth;
    int call_lines;
};

// Cases print as their names in test listings.
void PrintTo(const ReportLimitCase& c, std::ostream* os) { *os << c.name; }

class ReportLimit : public Program, public testing::WithParamInterface<ReportLimitCase> {};

TEST_P(ReportLimit, CutsTheCallLines) {
    scripted_set_stdout_is_char_device(GetParam().char_device);
    scripted_set_stack_depth(GetParam().depth);
    scripted_fail(ScriptedOp::file_delete, 1, 5);
    EXPECT_EQ(run({"-v", "name", "-f", "out.bat"}, "\r"), 5);
    std::string out = scripted_stdout();
    std::string expected = "\r\nRuntime error 5 at 0x00001234\r\n  0x00001234\r\n";
    for (int i = 0; i < GetParam().call_lines; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "  0x%08X\r\n", 0x1100 + 0x100 * i);
        expected += line;
    }
    expected += "\r\n";
    EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportLimit,
                         testing::Values(ReportLimitCase{"device_short", true, 5, 5},
                                         ReportLimitCase{"device_cut", true, 300, 9},
                                         ReportLimitCase{"file_long", false, 257, 257},
                                         ReportLimitCase{"file_cut", false, 300, 257}),
                         [](const testing::TestParamInfo<ReportLimitCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

}  // namespace
