// countdown_test.cpp - countdown fault injection over whole runs of the program on
// the scripted console: for every operation that can fail (a write to standard
// output, the create, a write, the close and the delete of the output file, a read
// of the input stream), the 1st, 2nd, ... call of a run is made to fail, once or from
// then on, and each run must end as the failure rules say: a defined status, the
// failure report or the message on standard output, and the output file complete,
// empty, gone or untouched as the case may be. Never a crash, never a wait for a key
// that will not come, never status 0 with a wrong file.
#include "app/failure.h"
#include "app/program.h"
#include "console/keys.h"
#include "console/output.h"
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What an existing output file holds before each run.
const std::string OLD_FILE = "old\r\n";

// One whole run: its arguments, the variable's value, the keys typed once the edit
// has begun, and whether standard input and output are the console or a stream and
// a file.
struct Scenario {
    const char* name;
    std::vector<std::string> arguments;
    const char* value;  // nullptr: the variable is not set
    std::string keys;
    bool console;
};

const std::string LONG_VALUE(600, 'v');

const Scenario SCENARIOS[] = {
    {"help", {"/?"}, "abc", "", true},
    {"refusal", {"-v", "name"}, "abc", "", true},
    {"accepted", {"-v", "name", "-f", "out.bat", "-p", "Name: "}, "Bob", "\b\b\bAlice\r", true},
    {"accepted_long", {"-v", "name", "-f", "out.bat"}, LONG_VALUE.c_str(), "\r", true},
    {"ctrl_c", {"-v", "name", "-f", "out.bat", "-p", "> "}, "abc", "de\x03", true},
    {"empty_line", {"-v", "name", "-f", "out.bat"}, nullptr, "\r", true},
    {"stream_accepted", {"-v", "name", "-f", "out.bat", "-p", "Name: "}, "Bob", "\bX\r", false},
    {"stream_ctrl_c", {"-v", "name", "-f", "out.bat"}, "abc", "d\x03", false},
    {"stream_empty_line", {"-v", "name", "-f", "out.bat"}, "abc", "\x1b\r", false},
};

// Test names show the scenario by its name.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

// The state of the output file after a run.
struct FileState {
    bool exists;
    std::string contents;
    bool operator==(const FileState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FileState& state) {
    return out << (state.exists ? "'" + state.contents + "'" : std::string("(no file)"));
}

// How a run ended.
struct Outcome {
    int status;
    std::string output;
    FileState file;
    size_t keys_left;
};

// Queues the keys as console key events that arrive after the edit has begun
// (keys typed ahead would be dropped), or as the bytes of the input stream.
void queue_keys(const Scenario& scenario) {
    if (!scenario.console) {
        scripted_set_input_bytes(scenario.keys);
        return;
    }
    for (char c : scenario.keys) {
        InputEvent event{};
        event.event_type = EVENT_KEY;
        event.key.key_down = true;
        event.key.repeat_count = 1;
        event.key.virtual_key = 0x41;  // any key that is neither a modifier nor on the keypad
        if (c == '\r' || c == '\b') {
            event.key.virtual_key = c == '\r' ? uint16_t{VK_CODE_RETURN} : uint16_t{VK_CODE_BACK};
        }
        event.key.character = static_cast<uint8_t>(c);
        event.key.control_state = c == '\x03' ? uint32_t{LEFT_CTRL_PRESSED} : 0u;
        scripted_push_late_event(event);
        event.key.key_down = false;
        scripted_push_late_event(event);
    }
}

// Resets the back-end and every piece of module state a run leaves behind, then sets
// up the scenario with an existing output file.
void prepare(const Scenario& scenario) {
    scripted_reset();
    take_failure();
    alt_code_active = false;
    alt_code_value = 0;
    scripted_set_input_is_console(scenario.console);
    scripted_set_output_is_console(scenario.console);
    std::vector<std::string> all{"kestin"};
    all.insert(all.end(), scenario.arguments.begin(), scenario.arguments.end());
    scripted_set_arguments(all);
    if (scenario.value != nullptr) {
        scripted_set_env("NAME", scenario.value);
    }
    scripted_put_file("out.bat", OLD_FILE);
    queue_keys(scenario);
}

Outcome finish(int status) {
    Outcome outcome;
    outcome.status = status;
    outcome.output = scripted_stdout();
    outcome.file = FileState{scripted_file_exists("out.bat"), scripted_file_contents("out.bat")};
    outcome.keys_left = scripted_pending_events() + scripted_pending_input_bytes();
    return outcome;
}

Outcome run_scenario(const Scenario& scenario) {
    prepare(scenario);
    return finish(scripted_run(run_program));
}

// The failure report as the scripted console's fake stack gives it, on a console (at
// most 9 call lines) or into a file.
std::string report(unsigned number) {
    return "Runtime error " + std::to_string(number) +
           " at 0x00001234\r\n  0x00001234\r\n  0x00001100\r\n  0x00001200\r\n  0x00001300\r\n\r\n";
}

struct Injection {
    ScriptedOp op;
    const char* name;
    std::vector<uint32_t> errors;  // the codes tried; writes ignore the code
};

const Injection INJECTIONS[] = {
    {ScriptedOp::stdout_write, "stdout_write", {29}},
    {ScriptedOp::file_create, "file_create", {3, 5, 32}},
    {ScriptedOp::file_write, "file_write", {112}},
    {ScriptedOp::file_close, "file_close", {6}},
    {ScriptedOp::file_delete, "file_delete", {5, 32, 19, 2, 0}},
    {ScriptedOp::input_read, "input_read", {23}},
};

// The exit status a failure number ends the process with: its low byte, never 0.
int status_of(unsigned number) { return number % 256 != 0 ? static_cast<int>(number % 256) : 255; }

class Countdown : public testing::TestWithParam<Scenario> {};

// Walks N = 1, 2, ... over every operation of the scenario's run, and checks each
// failing run against the rule for that operation, derived from the undisturbed run.
TEST_P(Countdown, EveryFailureEndsAsTheRulesSay) {
    const Scenario& scenario = GetParam();
    const Outcome base = run_scenario(scenario);
    ASSERT_NE(base.status, SCRIPTED_STARVED) << base.output;
    ASSERT_NE(base.status, -1);
    int counts[6];
    for (const Injection& injection : INJECTIONS) {
        counts[static_cast<int>(injection.op)] = scripted_call_count(injection.op);
    }
    const FileState untouched{true, OLD_FILE};
    const FileState empty{true, ""};

    for (const Injection& injection : INJECTIONS) {
        const int calls = counts[static_cast<int>(injection.op)];
        size_t previous_prefix = 0;
        for (int n = 1; n <= calls; ++n) {
            for (bool sticky : {false, true}) {
                for (uint32_t error : injection.errors) {
                    SCOPED_TRACE(std::string(injection.name) + " call " + std::to_string(n) +
                                 (sticky ? " and on" : " once") + ", error " +
                                 std::to_string(error));
                    prepare(scenario);
                    scripted_fail(injection.op, n, error, sticky);
                    const Outcome got = finish(scripted_run(run_program));
                    ASSERT_NE(got.status, SCRIPTED_STARVED) << "waited for a key that never comes";
                    ASSERT_NE(got.status, -1) << "the main sequence returned";

                    switch (injection.op) {
                    case ScriptedOp::stdout_write: {
                        // What was written before stays; the report follows unless
                        // standard output keeps failing. A file opened before is left
                        // empty, one never opened untouched.
                        EXPECT_EQ(got.status, 101);
                        std::string rest = sticky ? "" : report(101);
                        ASSERT_GE(got.output.size(), rest.size());
                        size_t prefix = got.output.size() - rest.size();
                        EXPECT_EQ(got.output.substr(prefix), rest);
                        EXPECT_EQ(got.output.substr(0, prefix), base.output.substr(0, prefix));
                        if (n > 1 && !sticky) {
                            EXPECT_GT(prefix, previous_prefix) << "the write before was lost";
                        }
                        if (!sticky) {
                            previous_prefix = prefix;
                        }
                        bool file_opened = scripted_call_count(ScriptedOp::file_create) > 0;
                        EXPECT_EQ(got.file, file_opened ? empty : untouched);
                        break;
                    }
                    case ScriptedOp::file_create:
                        // Refused before the prompt and before any key; the old file stays.
                        EXPECT_EQ(got.status, 3);
                        EXPECT_EQ(got.output, "Cannot open file for output\r\nUse -h for help\r\n");
                        EXPECT_EQ(got.file, untouched);
                        EXPECT_EQ(got.keys_left, scenario.keys.size() * (scenario.console ? 2 : 1));
                        break;
                    case ScriptedOp::file_write: {
                        // The file keeps the whole buffers handed over before the failure.
                        EXPECT_EQ(got.status, 101);
                        EXPECT_EQ(got.output, base.output + report(101));
                        size_t kept = static_cast<size_t>(n - 1) * 256;
                        EXPECT_EQ(got.file, (FileState{true, base.file.contents.substr(0, kept)}));
                        break;
                    }
                    case ScriptedOp::file_close:
                        // The close's result is not looked at. After Enter the line is
                        // already handed over; a file left open cannot then be deleted,
                        // which ends the run with that failure (sharing violation: 5).
                        if (base.status == 0) {
                            EXPECT_EQ(got.status, 0);
                            EXPECT_EQ(got.output, base.output);
                            EXPECT_EQ(got.file, base.file);
                        } else {
                            EXPECT_EQ(got.status, 5);
                            EXPECT_EQ(got.output, base.output + report(5));
                            EXPECT_EQ(got.file, empty);
                        }
                        break;
                    case ScriptedOp::file_delete: {
                        unsigned number = failure_number(error);
                        EXPECT_EQ(got.status, status_of(number));
                        EXPECT_EQ(got.output, base.output + report(number));
                        EXPECT_EQ(got.file, empty);
                        break;
                    }
                    case ScriptedOp::input_read:
                        // A stream that cannot be read ends like one that has ended:
                        // Ctrl+C, and the file is deleted.
                        EXPECT_EQ(got.status, 1);
                        EXPECT_FALSE(got.file.exists);
                        EXPECT_EQ(got.output.find("Runtime error"), std::string::npos);
                        break;
                    }
                    // A run that ends with status 0 has done all it was to do.
                    if (got.status == 0) {
                        EXPECT_EQ(base.status, 0);
                        EXPECT_EQ(got.file, base.file);
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Countdown, testing::ValuesIn(SCENARIOS),
                         [](const testing::TestParamInfo<Scenario>& param_info) {
                             return std::string(param_info.param.name);
                         });

// The undisturbed runs themselves, so that the walk above starts from the right place.
TEST(CountdownBaseline, RunsEndAsExpected) {
    struct Expected {
        int status;
        FileState file;
    };
    const Expected expected[] = {
        {0, {true, OLD_FILE}},
        {3, {true, OLD_FILE}},
        {0, {true, "SET NAME=Alice\r\n"}},
        {0, {true, "SET NAME=" + LONG_VALUE + "\r\n"}},
        {1, {false, ""}},
        {2, {false, ""}},
        {0, {true, "SET NAME=BoX\r\n"}},
        {1, {false, ""}},
        {2, {false, ""}},
    };
    static_assert(std::size(expected) == std::size(SCENARIOS));
    for (size_t i = 0; i < std::size(SCENARIOS); ++i) {
        SCOPED_TRACE(SCENARIOS[i].name);
        Outcome outcome = run_scenario(SCENARIOS[i]);
        EXPECT_EQ(outcome.status, expected[i].status);
        EXPECT_EQ(outcome.file, expected[i].file);
    }
}

}  // namespace
