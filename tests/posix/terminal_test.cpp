// Pseudo-terminal tests of the terminal back-end: the key viewer (and the program)
// run on a pseudo-terminal whose other end is libvterm, a terminal emulator model
// that answers the cursor-position question, turns key presses into the bytes
// xterm sends, and keeps the screen the program's output makes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <vterm.h>
}

namespace {

// How long any one wait may take before the test gives up (a hang, not a timing check).
constexpr auto GIVE_UP_AFTER = std::chrono::seconds(10);

// How the program's standard input and output are connected.
enum class Ends { terminal, input_pipe, output_pipe };

// One run of a program on a pseudo-terminal with libvterm at the other end.
struct Session {
    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    VTermState* state = nullptr;
    int master = -1;
    int slave = -1;
    int report_read = -1;
    int input_write = -1;   // standard input when it is a pipe
    int output_read = -1;   // standard output when it is a pipe
    pid_t pid = -1;
    bool hold_answers = false;  // keep the terminal's answers back instead of sending them
    std::string held_answers;
    std::string terminal_output;  // every byte the program wrote to the terminal
    std::string pipe_output;      // every byte the program wrote to an output pipe
    std::string reports;
    size_t report_position = 0;
    struct termios original_mode {};
    int status = -1;
    bool ended = false;
};

// The terminal model's answers (the cursor-position report) and key bytes go to the program.
void on_terminal_output(const char* bytes, size_t length, void* user) {
    Session* session = static_cast<Session*>(user);
    if (session->hold_answers) {
        session->held_answers.append(bytes, length);
        return;
    }
    ssize_t ignored = write(session->master, bytes, length);
    (void)ignored;
}

struct Options {
    int rows = 6;
    int columns = 20;
    bool utf8 = true;
    std::string prefill;  // bytes the terminal model shows before the program starts
    Ends ends = Ends::terminal;
    std::string program = KEY_VIEWER_PATH;
    std::string directory;  // working directory of the program ("" to keep)
    bool as_job = false;    // run as a shell runs a job: its own process group, in the foreground
    std::vector<std::pair<std::string, std::string>> environment;
};

// Starts the program with args on a fresh terminal model.
void start(Session& s, const std::vector<std::string>& args, const Options& options = Options()) {
    struct winsize size {};
    size.ws_row = static_cast<unsigned short>(options.rows);
    size.ws_col = static_cast<unsigned short>(options.columns);
    ASSERT_EQ(openpty(&s.master, &s.slave, nullptr, nullptr, &size), 0);
    ASSERT_EQ(tcgetattr(s.slave, &s.original_mode), 0);
    s.vt = vterm_new(options.rows, options.columns);
    vterm_set_utf8(s.vt, 1);
    vterm_output_set_callback(s.vt, on_terminal_output, &s);
    s.screen = vterm_obtain_screen(s.vt);
    vterm_screen_reset(s.screen, 1);
    s.state = vterm_obtain_state(s.vt);
    if (!options.prefill.empty()) {
        vterm_input_write(s.vt, options.prefill.data(), options.prefill.size());
    }
    int report_pipe[2];
    int input_pipe[2] = {-1, -1};
    int output_pipe[2] = {-1, -1};
    ASSERT_EQ(pipe(report_pipe), 0);
    if (options.ends == Ends::input_pipe) {
        ASSERT_EQ(pipe(input_pipe), 0);
    }
    if (options.ends == Ends::output_pipe) {
        ASSERT_EQ(pipe(output_pipe), 0);
    }
    std::vector<std::string> all_args = {options.program};
    all_args.insert(all_args.end(), args.begin(), args.end());
    s.pid = fork();
    ASSERT_GE(s.pid, 0);
    if (s.pid == 0) {
        setsid();
        ioctl(s.slave, TIOCSCTTY, 0);
        dup2(options.ends == Ends::input_pipe ? input_pipe[0] : s.slave, 0);
        dup2(options.ends == Ends::output_pipe ? output_pipe[1] : s.slave, 1);
        dup2(report_pipe[1], 2);
        for (int fd = 3; fd < 256; fd++) {
            close(fd);
        }
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        signal(SIGPIPE, SIG_DFL);
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        setenv("LANG", options.utf8 ? "C.UTF-8" : "C", 1);
        setenv("TERM", "xterm", 1);
        for (const auto& [name, value] : options.environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char*> argv;
        for (std::string& arg : all_args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (options.as_job) {
            // The session leader plays the shell: the program runs in a process
            // group of its own in the foreground, so that a stop signal really
            // stops it (an orphaned process group is never stopped). The shell
            // reports the program's id and ends as the program ends.
            signal(SIGTTOU, SIG_IGN);
            pid_t job = fork();
            if (job == 0) {
                setpgid(0, 0);
                tcsetpgrp(0, getpid());
                signal(SIGTTOU, SIG_DFL);
                execv(argv[0], argv.data());
                _exit(127);
            }
            setpgid(job, job);
            tcsetpgrp(0, job);
            std::string line = "job " + std::to_string(job) + "\n";
            ssize_t ignored = write(2, line.data(), line.size());
            (void)ignored;
            int job_status = 0;
            while (waitpid(job, &job_status, 0) != job) {
            }
            _exit(WIFEXITED(job_status) ? WEXITSTATUS(job_status) : 128 + WTERMSIG(job_status));
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(report_pipe[1]);
    s.report_read = report_pipe[0];
    if (options.ends == Ends::input_pipe) {
        close(input_pipe[0]);
        s.input_write = input_pipe[1];
    }
    if (options.ends == Ends::output_pipe) {
        close(output_pipe[1]);
        s.output_read = output_pipe[0];
    }
}

// Reads what has arrived from the program, waiting up to timeout_ms for something.
void pump(Session& s, int timeout_ms) {
    struct pollfd entries[3] = {{s.master, POLLIN, 0}, {s.report_read, POLLIN, 0}, {s.output_read, POLLIN, 0}};
    int count = s.output_read >= 0 ? 3 : 2;
    if (poll(entries, count, timeout_ms) <= 0) {
        return;
    }
    char buffer[4096];
    if ((entries[0].revents & POLLIN) != 0) {
        ssize_t n = read(s.master, buffer, sizeof buffer);
        if (n > 0) {
            s.terminal_output.append(buffer, static_cast<size_t>(n));
            vterm_input_write(s.vt, buffer, static_cast<size_t>(n));
        }
    }
    if ((entries[1].revents & (POLLIN | POLLHUP)) != 0) {
        ssize_t n = read(s.report_read, buffer, sizeof buffer);
        if (n > 0) {
            s.reports.append(buffer, static_cast<size_t>(n));
        }
    }
    if (count == 3 && (entries[2].revents & (POLLIN | POLLHUP)) != 0) {
        ssize_t n = read(s.output_read, buffer, sizeof buffer);
        if (n > 0) {
            s.pipe_output.append(buffer, static_cast<size_t>(n));
        }
    }
}

// Pumps until condition holds; false when it never does.
bool wait_until(Session& s, const std::function<bool()>& condition) {
    auto give_up = std::chrono::steady_clock::now() + GIVE_UP_AFTER;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        pump(s, 20);
    }
    return true;
}

// The next report line of the program, or "(none)" when none comes.
std::string next_report(Session& s) {
    bool arrived = wait_until(s, [&] { return s.reports.find('\n', s.report_position) != std::string::npos; });
    if (!arrived) {
        return "(none)";
    }
    size_t end = s.reports.find('\n', s.report_position);
    std::string line = s.reports.substr(s.report_position, end - s.report_position);
    s.report_position = end + 1;
    return line;
}

// Waits for the program to end, reading its output meanwhile, and returns its wait status.
int finish(Session& s) {
    if (!s.ended) {
        wait_until(s, [&] { return waitpid(s.pid, &s.status, WNOHANG) == s.pid; });
        pump(s, 0);
        s.ended = true;
    }
    return s.status;
}

void close_session(Session& s) {
    if (!s.ended && s.pid > 0) {
        kill(s.pid, SIGKILL);
        waitpid(s.pid, &s.status, 0);
    }
    for (int fd : {s.master, s.slave, s.report_read, s.input_write, s.output_read}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (s.vt != nullptr) {
        vterm_free(s.vt);
    }
}

// Sends bytes as they stand to the program's terminal.
void send(Session& s, const std::string& bytes) {
    ssize_t ignored = write(s.master, bytes.data(), bytes.size());
    (void)ignored;
}

// One screen row of the terminal model as UTF-8, without trailing blanks.
std::string row_text(Session& s, int row) {
    int rows = 0;
    int columns = 0;
    vterm_get_size(s.vt, &rows, &columns);
    std::string text;
    for (int column = 0; column < columns; column++) {
        VTermScreenCell cell;
        vterm_screen_get_cell(s.screen, VTermPos{row, column}, &cell);
        uint32_t c = cell.chars[0] == 0 ? ' ' : cell.chars[0];
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xE0 | (c >> 12)));
            text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// The terminal model's cursor as "column,row", 1-based like the program's reports.
std::string model_cursor(Session& s) {
    VTermPos position;
    vterm_state_get_cursorpos(s.state, &position);
    return std::to_string(position.col + 1) + "," + std::to_string(position.row + 1);
}

// The terminal's mode as the program's terminal has it now.
struct termios terminal_mode(Session& s) {
    struct termios mode {};
    tcgetattr(s.slave, &mode);
    return mode;
}

// Whether two terminal modes agree in everything a shell relies on.
bool same_mode(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
           a.c_cc[VINTR] == b.c_cc[VINTR];
}

class Terminal : public ::testing::Test {
protected:
    Session s;
    void TearDown() override { close_session(s); }
};

// ---------------------------------------------------------------------------
// Keys

// A key pressed on the terminal model: a libvterm key or character with
// modifiers, or bytes as they stand; and the key bytes the program must read.
struct KeyPress {
    std::string name;
    std::function<void(Session&)> press;
    std::string expected;
};

KeyPress key(const char* name, int k, VTermModifier mod, const char* expected) {
    return {name, [k, mod](Session& s) { vterm_keyboard_key(s.vt, static_cast<VTermKey>(k), mod); }, expected};
}
KeyPress character(const char* name, uint32_t c, VTermModifier mod, const char* expected) {
    return {name, [c, mod](Session& s) { vterm_keyboard_unichar(s.vt, c, mod); }, expected};
}
KeyPress bytes(const char* name, const std::string& raw, const char* expected) {
    return {name, [raw](Session& s) { send(s, raw); }, expected};
}

const VTermModifier SHIFT = VTERM_MOD_SHIFT;
const VTermModifier ALT = VTERM_MOD_ALT;
const VTermModifier CTRL = VTERM_MOD_CTRL;
const VTermModifier NONE = VTERM_MOD_NONE;
VTermModifier operator|(VTermModifier a, VTermModifier b) {
    return static_cast<VTermModifier>(static_cast<int>(a) | static_cast<int>(b));
}

TEST_F(Terminal, KeysPressedOnTheTerminalArriveAsTheConsoleKeyBytes) {
    start(s, {"keys"});
    ASSERT_EQ(next_report(s), "ready 20x6");
    const std::vector<KeyPress> presses = {
        character("a", 'a', NONE, "key 97"),
        character("shifted A", 'A', NONE, "key 65"),
        character("space", ' ', NONE, "key 32"),
        key("Enter", VTERM_KEY_ENTER, NONE, "key 13"),
        key("Backspace", VTERM_KEY_BACKSPACE, NONE, "key 8"),
        bytes("Backspace as BS", "\x08", "key 8"),
        key("Tab", VTERM_KEY_TAB, NONE, "key 9"),
        key("Esc alone", VTERM_KEY_ESCAPE, NONE, "key 27"),
        character("Ctrl+U", 'u', CTRL, "key 21"),
        character("Ctrl+Z", 'z', CTRL, "key 26"),
        character("Ctrl+backslash", '\\', CTRL, "key 28"),
        character("Ctrl+S", 's', CTRL, "key 19"),
        character("Ctrl+Q", 'q', CTRL, "key 17"),
        key("Up", VTERM_KEY_UP, NONE, "key 0 72"),
        key("Down", VTERM_KEY_DOWN, NONE, "key 0 80"),
        key("Left", VTERM_KEY_LEFT, NONE, "key 0 75"),
        key("Right", VTERM_KEY_RIGHT, NONE, "key 0 77"),
        key("Home", VTERM_KEY_HOME, NONE, "key 0 71"),
        key("End", VTERM_KEY_END, NONE, "key 0 79"),
        bytes("Home as CSI 1~", "\x1b[1~", "key 0 71"),
        bytes("End as SS3 F", "\x1bOF", "key 0 79"),
        key("Ins", VTERM_KEY_INS, NONE, "key 0 82"),
        key("Del", VTERM_KEY_DEL, NONE, "key 0 83"),
        key("PgUp", VTERM_KEY_PAGEUP, NONE, "key 0 73"),
        key("PgDn", VTERM_KEY_PAGEDOWN, NONE, "key 0 81"),
        key("Shift+Home", VTERM_KEY_HOME, SHIFT, "key 0 71"),
        key("Ctrl+Left", VTERM_KEY_LEFT, CTRL, "key 0 115"),
        key("Ctrl+Right", VTERM_KEY_RIGHT, CTRL, "key 0 116"),
        key("Ctrl+Home", VTERM_KEY_HOME, CTRL, "key 0 119"),
        key("Ctrl+End", VTERM_KEY_END, CTRL, "key 0 117"),
        key("Ctrl+Shift+Left", VTERM_KEY_LEFT, CTRL | SHIFT, "key 0 115"),
        key("Alt+Left", VTERM_KEY_LEFT, ALT, "key 0 155"),
        key("Alt+Del", VTERM_KEY_DEL, ALT, "key 0 163"),
        key("Ctrl+PgDn", VTERM_KEY_PAGEDOWN, CTRL, "key 0 118"),
        key("F1", VTERM_KEY_FUNCTION(1), NONE, "key 0 59"),
        key("F4", VTERM_KEY_FUNCTION(4), NONE, "key 0 62"),
        key("F5", VTERM_KEY_FUNCTION(5), NONE, "key 0 63"),
        key("F10", VTERM_KEY_FUNCTION(10), NONE, "key 0 68"),
        key("F11", VTERM_KEY_FUNCTION(11), NONE, "key 0 133"),
        key("F12", VTERM_KEY_FUNCTION(12), NONE, "key 0 134"),
        key("Shift+F1", VTERM_KEY_FUNCTION(1), SHIFT, "key 0 84"),
        key("Ctrl+F3", VTERM_KEY_FUNCTION(3), CTRL, "key 0 96"),
        key("Alt+F10", VTERM_KEY_FUNCTION(10), ALT, "key 0 113"),
        key("Shift+F12", VTERM_KEY_FUNCTION(12), SHIFT, "key 0 136"),
        key("Ctrl+Alt+F1", VTERM_KEY_FUNCTION(1), CTRL | ALT, "key 0 104"),
        character("Alt+X", 'x', ALT, "key 0 45"),
        character("Alt+1", '1', ALT, "key 0 120"),
        key("Alt+Enter", VTERM_KEY_ENTER, ALT, "key 0 166"),
        character("e acute", 0xE9, NONE, "key 233"),
        character("y diaeresis", 0xFF, NONE, "key 255"),
        character("euro sign, then x", 0x20AC, NONE, ""),
        character("x", 'x', NONE, "key 120"),
        bytes("garbage, then y", "\x1b[99;9z\x1b[?5c", ""),
        character("y", 'y', NONE, "key 121"),
        character("Ctrl+C", 'c', CTRL, "key 3"),
    };
    for (const KeyPress& press : presses) {
        SCOPED_TRACE(press.name);
        press.press(s);
        if (!press.expected.empty()) {
            EXPECT_EQ(next_report(s), press.expected);
        }
    }
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Terminal, KeysTypedBeforeTheCursorAnswerAreKeptInOrder) {
    Options options;
    options.prefill = "\x1b[3;4H";
    s.hold_answers = true;
    start(s, {"where", "key", "key", "key"}, options);
    ASSERT_TRUE(wait_until(s, [&] { return !s.held_answers.empty(); }));
    send(s, "ab\x1b[A");
    s.hold_answers = false;
    send(s, s.held_answers);
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "at 4,3");
    EXPECT_EQ(next_report(s), "key 97");
    EXPECT_EQ(next_report(s), "key 98");
    EXPECT_EQ(next_report(s), "key 0 72");
    EXPECT_TRUE(WIFEXITED(finish(s)));
}

TEST_F(Terminal, ATerminalThatDoesNotAnswerGetsItsCursorOnTheLastRow) {
    Options options;
    options.prefill = "shell$ ";
    s.hold_answers = true;
    start(s, {"where", "text:x", "where"}, options);
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "at 1,6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 2,6");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(model_cursor(s), "2,6");
    EXPECT_EQ(row_text(s, 5), "x");
}

// ---------------------------------------------------------------------------
// Screen and cursor

TEST_F(Terminal, OutputStartsWhereTheCursorStandsAndWrapsAtTheRightEdge) {
    Options options;
    options.prefill = "\x1b[2;6H";
    start(s, {"where", "text:abcdefghijklmnopqrstuvwxyz", "where"}, options);
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "at 6,2");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 12,3");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(row_text(s, 1), "     abcdefghijklmno");
    EXPECT_EQ(row_text(s, 2), "pqrstuvwxyz");
    EXPECT_EQ(model_cursor(s), "12,3");
}

TEST_F(Terminal, ARowFilledToItsLastColumnLeavesTheCursorOnTheNextRowAsTheConsoleDoes) {
    start(s, {"text:0123456789ABCDEFGHIJ", "where", "text:X", "where", "move:20,1", "text:Y", "where"});
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 1,2");
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "1,2"; }));
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 2,2");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 1,2");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(row_text(s, 0), "0123456789ABCDEFGHIY");
    EXPECT_EQ(row_text(s, 1), "X");
    EXPECT_EQ(model_cursor(s), "1,2");
}

TEST_F(Terminal, ALineEndGoesOutOnceAndAMoveToTheCursorsOwnCellWritesNothing) {
    start(s, {"text:ab\\x0d\\x0a", "move:1,2", "where"});
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 1,2");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    // Output processing is off in raw mode, so the terminal adds no CR of its own.
    EXPECT_NE(s.terminal_output.find("ab\r\n"), std::string::npos);
    EXPECT_EQ(s.terminal_output.find("\r\r"), std::string::npos);
    EXPECT_EQ(s.terminal_output.find("\x1b[2;1H"), std::string::npos);
}

TEST_F(Terminal, WritingPastTheLastRowScrollsTheScreen) {
    Options options;
    options.prefill = "row1\r\nrow2\r\nrow3\r\nrow4\r\nrow5\r\nrow6";
    start(s, {"move:18,6", "text:12345", "where", "move:20,6", "text:Z", "where"}, options);
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 3,6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 1,6");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(row_text(s, 0), "row3");
    EXPECT_EQ(row_text(s, 3), "row6" + std::string(13, ' ') + "123");
    EXPECT_EQ(row_text(s, 4), "45" + std::string(17, ' ') + "Z");
    EXPECT_EQ(row_text(s, 5), "");
    EXPECT_EQ(model_cursor(s), "1,6");
}

TEST_F(Terminal, ControlBytesTabsAndBackspacesMoveTheCursorAsOnTheConsole) {
    start(s, {"text:ab\\x09c", "where", "text:\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08\\x08!", "where",
              "text:\\x0d\\x0a\\x1b[2J\\x07", "where"});
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 10,1");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 2,1");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 5,2");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    // The ESC of the text is shown as the console shows it, and clears nothing.
    EXPECT_EQ(row_text(s, 0), "!b" + std::string(6, ' ') + "c");
    EXPECT_EQ(row_text(s, 1), "\u2190[2J");
    EXPECT_EQ(model_cursor(s), "5,2");
}

TEST_F(Terminal, Latin1OutputTakesOneCellInAUtf8Locale) {
    start(s, {"text:caf\\xe9 \\xfc\\xa0\\xff\\x80|", "where"});
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 11,1");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(row_text(s, 0), "caf\u00e9 \u00fc\u00a0\u00ff\ufffd|");
    EXPECT_EQ(model_cursor(s), "11,1");
}

TEST_F(Terminal, OtherLocalesPassBytesThrough) {
    Options options;
    options.utf8 = false;
    start(s, {"text:\\xe9\\x1bx", "key"}, options);
    EXPECT_EQ(next_report(s), "ready 20x6");
    EXPECT_EQ(next_report(s), "written");
    send(s, "\xe9");
    EXPECT_EQ(next_report(s), "key 233");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_NE(s.terminal_output.find("\xe9?x"), std::string::npos);
}

// ---------------------------------------------------------------------------
// One end a terminal, the other not

TEST_F(Terminal, InputFromAPipeAsksTheTerminalNothing) {
    Options options;
    options.ends = Ends::input_pipe;
    start(s, {"key", "key", "text:done", "key"}, options);
    ssize_t ignored = write(s.input_write, "a\x1b\r\n", 4);
    (void)ignored;
    close(s.input_write);
    s.input_write = -1;
    EXPECT_EQ(next_report(s), "ready 80x25");
    EXPECT_EQ(next_report(s), "key 97");
    EXPECT_EQ(next_report(s), "key 27");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "key 13");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(s.terminal_output.find("\x1b["), std::string::npos);
    EXPECT_EQ(row_text(s, 0), "done");
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
}

TEST_F(Terminal, ADumbTerminalIsWrittenToAsAStream) {
    Options options;
    options.environment = {{"TERM", "dumb"}};
    start(s, {"text:ab", "where", "key"}, options);
    EXPECT_EQ(next_report(s), "ready 80x25");
    EXPECT_EQ(next_report(s), "written");
    EXPECT_EQ(next_report(s), "at 3,1");
    send(s, "z");
    EXPECT_EQ(next_report(s), "key 122");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(s.terminal_output, "ab");
}

TEST_F(Terminal, OutputToAPipeGetsTheBytesAsTheyAre) {
    Options options;
    options.ends = Ends::output_pipe;
    start(s, {"text:\\xe9\\x1b!", "key"}, options);
    EXPECT_EQ(next_report(s), "ready 80x25");
    EXPECT_EQ(next_report(s), "written");
    vterm_keyboard_key(s.vt, VTERM_KEY_UP, VTERM_MOD_NONE);
    EXPECT_EQ(next_report(s), "key 0 72");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(s.pipe_output, "\xe9\x1b!");
    EXPECT_EQ(s.terminal_output, "");
}

// ---------------------------------------------------------------------------
// The terminal's mode

TEST_F(Terminal, RawModeWhileRunningAndTheOwnModeBackAfterANormalEnd) {
    start(s, {"key", "exit:101"});
    ASSERT_EQ(next_report(s), "ready 20x6");
    struct termios raw = terminal_mode(s);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    send(s, "q");
    EXPECT_EQ(next_report(s), "key 113");
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 101);
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
}

TEST_F(Terminal, SignalsFromOutsideEndTheProgramAfterTheModeIsPutBack) {
    for (int signal_number : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal_number));
        Session run;
        start(run, {"key"});
        ASSERT_EQ(next_report(run), "ready 20x6");
        ASSERT_FALSE(same_mode(terminal_mode(run), run.original_mode));
        kill(run.pid, signal_number);
        int status = finish(run);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_TRUE(same_mode(terminal_mode(run), run.original_mode));
        close_session(run);
    }
}

// The state letter of a process (R running, S sleeping, T stopped ...).
char process_state(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() ? text[end + 2] : '?';
}

TEST_F(Terminal, AStopFromOutsideLendsTheTerminalBackUntilTheProgramContinues) {
    Options options;
    options.as_job = true;
    start(s, {"key"}, options);
    std::string job_line = next_report(s);
    ASSERT_EQ(job_line.rfind("job ", 0), 0u) << job_line;
    pid_t job = static_cast<pid_t>(std::stol(job_line.substr(4)));
    ASSERT_EQ(next_report(s), "ready 20x6");
    struct termios raw = terminal_mode(s);
    kill(job, SIGTSTP);
    ASSERT_TRUE(wait_until(s, [&] { return process_state(job) == 'T'; })) << process_state(job);
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
    kill(job, SIGCONT);
    ASSERT_TRUE(wait_until(s, [&] { return same_mode(terminal_mode(s), raw); }));
    send(s, "k");
    EXPECT_EQ(next_report(s), "key 107");
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Terminal, ACrashPutsTheModeBackToo) {
    start(s, {"crash"});
    ASSERT_EQ(next_report(s), "ready 20x6");
    int status = finish(s);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
}

TEST_F(Terminal, ATerminalThatGoesAwayEndsTheProgram) {
    start(s, {"key"});
    ASSERT_EQ(next_report(s), "ready 20x6");
    close(s.master);
    s.master = -1;
    int status = 0;
    auto give_up = std::chrono::steady_clock::now() + GIVE_UP_AFTER;
    while (waitpid(s.pid, &status, WNOHANG) != s.pid && std::chrono::steady_clock::now() < give_up) {
        usleep(10000);
    }
    ASSERT_TRUE(WIFSIGNALED(status) || WIFEXITED(status));
    s.ended = true;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP);
}

// The voluntary context switches of a process so far.
long context_switches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::stol(line.substr(24));
        }
    }
    return -1;
}

TEST_F(Terminal, AProgramWaitingForAKeySleepsUntilOneComes) {
    start(s, {"key"});
    ASSERT_EQ(next_report(s), "ready 20x6");
    pump(s, 50);
    long before = context_switches(s.pid);
    if (before < 0) {
        GTEST_SKIP() << "no /proc here";
    }
    usleep(300000);
    long after = context_switches(s.pid);
    // A program polling the terminal every millisecond would wake some 300 times.
    EXPECT_LE(after - before, 3);
    send(s, "k");
    EXPECT_EQ(next_report(s), "key 107");
    EXPECT_TRUE(WIFEXITED(finish(s)));
}

// ---------------------------------------------------------------------------
// The line editor on the terminal

TEST_F(Terminal, TheEditorEditsALineThatWrapsAcrossTheRightEdge) {
    Options options;
    options.prefill = "\x1b[2;1HName: ";
    start(s, {"edit:0123456789abcdefghij"}, options);
    ASSERT_EQ(next_report(s), "ready 20x6");
    // The value runs from column 7 of row 2 to column 6 of row 3.
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "7,3"; })) << model_cursor(s);
    EXPECT_EQ(row_text(s, 1), "Name: 0123456789abcd");
    EXPECT_EQ(row_text(s, 2), "efghij");
    vterm_keyboard_key(s.vt, VTERM_KEY_HOME, VTERM_MOD_NONE);
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "7,2"; })) << model_cursor(s);
    vterm_keyboard_key(s.vt, VTERM_KEY_DEL, VTERM_MOD_NONE);
    vterm_keyboard_unichar(s.vt, 'X', VTERM_MOD_NONE);
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 1) == "Name: X123456789abcd"; })) << row_text(s, 1);
    vterm_keyboard_key(s.vt, VTERM_KEY_END, VTERM_MOD_NONE);
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "7,3"; })) << model_cursor(s);
    vterm_keyboard_unichar(s.vt, 0xE9, VTERM_MOD_NONE);
    vterm_keyboard_key(s.vt, VTERM_KEY_ENTER, VTERM_MOD_NONE);
    EXPECT_EQ(next_report(s), "line 1 X123456789abcdefghij\xe9");
    EXPECT_TRUE(WIFEXITED(finish(s)));
    EXPECT_EQ(row_text(s, 2), "efghij\u00e9");
}

// ---------------------------------------------------------------------------
// The program itself

// A folder for the program's output file, removed at the end.
class Program : public Terminal {
protected:
    std::string folder;
    void SetUp() override {
        char pattern[] = "/tmp/kestin-terminal-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        Terminal::TearDown();
        std::string command = "rm -rf '" + folder + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string output_file() {
        std::ifstream file(folder + "/out.bat", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return text;
    }
    bool output_file_exists() { return access((folder + "/out.bat").c_str(), F_OK) == 0; }
    Options program_options(const std::string& value) {
        Options options;
        options.program = KESTIN_PATH;
        options.directory = folder;
        options.environment = {{"NAME", value}};
        return options;
    }
};

TEST_F(Program, EditsTheValueWhereThePromptEndsAndWritesTheBatchFile) {
    Options options = program_options("Bob");
    options.prefill = "$ kestin\r\n";
    start(s, {"-v", "name", "-f", "out.bat", "-p", "Name: "}, options);
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 1) == "Name: Bob" && model_cursor(s) == "10,2"; }))
        << row_text(s, 1) << " " << model_cursor(s);
    ASSERT_FALSE(same_mode(terminal_mode(s), s.original_mode));
    for (int i = 0; i < 3; i++) {
        vterm_keyboard_key(s.vt, VTERM_KEY_BACKSPACE, VTERM_MOD_NONE);
    }
    for (uint32_t c : {0x41u, 0x6Cu, 0x69u, 0x63u, 0x65u, 0xE9u}) {  // Aliceé
        vterm_keyboard_unichar(s.vt, c, VTERM_MOD_NONE);
    }
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 1) == "Name: Alice\u00e9"; })) << row_text(s, 1);
    vterm_keyboard_key(s.vt, VTERM_KEY_ENTER, VTERM_MOD_NONE);
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(output_file(), "SET NAME=Alice\xe9\r\n");
    EXPECT_EQ(model_cursor(s), "1,3");
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
}

TEST_F(Program, CtrlCAbandonsTheLineAndPutsTheTerminalBack) {
    start(s, {"-v", "name", "-f", "out.bat", "-p", "Name: "}, program_options("Bob"));
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 0) == "Name: Bob"; })) << row_text(s, 0);
    vterm_keyboard_unichar(s.vt, 'c', VTERM_MOD_CTRL);
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_FALSE(output_file_exists());
    EXPECT_TRUE(same_mode(terminal_mode(s), s.original_mode));
}

TEST_F(Program, ALongValueOnTheLastRowWrapsAndScrollsAndEditsInPlace) {
    Options options = program_options("0123456789abcdefghijklmnopqrst");
    options.prefill = "\x1b[6;1H$ ";
    start(s, {"-v", "name", "-f", "out.bat", "-p", "> "}, options);
    // "$ > " and 30 characters fill the last row and part of a second one that the screen scrolled up for.
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 5) == "ghijklmnopqrst"; }))
        << row_text(s, 4) << "|" << row_text(s, 5);
    EXPECT_EQ(row_text(s, 4), "$ > 0123456789abcdef");
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "15,6"; })) << model_cursor(s);
    vterm_keyboard_key(s.vt, VTERM_KEY_HOME, VTERM_MOD_NONE);
    ASSERT_TRUE(wait_until(s, [&] { return model_cursor(s) == "5,5"; })) << model_cursor(s);
    vterm_keyboard_key(s.vt, VTERM_KEY_END, VTERM_MOD_CTRL);
    ASSERT_TRUE(wait_until(s, [&] { return row_text(s, 4) == "$ >" && row_text(s, 5).empty(); }))
        << row_text(s, 4) << "|" << row_text(s, 5);
    vterm_keyboard_unichar(s.vt, 'x', VTERM_MOD_NONE);
    vterm_keyboard_key(s.vt, VTERM_KEY_ENTER, VTERM_MOD_NONE);
    int status = finish(s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(output_file(), "SET NAME=x\r\n");
}

}  // namespace
