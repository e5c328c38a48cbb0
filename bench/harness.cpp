// harness.cpp - the benchmark driver: runs Kestin, the line editors a user might pick
// instead, and a floor program in 80x24 pseudo-terminals, and measures what a user
// feels (time to ready, key echo, accept) and what a waiting editor costs (CPU,
// wake-ups, memory, instructions). Prints the results as a markdown report.
//
// The terminal side of every pseudo-terminal is a libvterm screen: it keeps the
// screen contents the readiness checks look at, and it answers the programs'
// queries (the cursor position report ESC [ 6 n is answered ESC [ row ; col R)
// at once, as a terminal would.
//
// All candidates run interleaved: each round visits every program once, in an
// order rotated from round to round, so that a change in the machine's load
// touches all of them alike. Every figure is a median over rounds.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int ROWS = 24;
constexpr int COLS = 80;
constexpr const char* PROMPT = "Name: ";
constexpr const char* SHORT_VALUE = "Alice Smith";
constexpr int LONG_LENGTH = 2000;
constexpr int ECHO_KEYS = 50;

// ---------------------------------------------------------------------------
// Options

struct Options {
    std::string kestin;            // path of the native kestin, empty when not built
    std::string kestin_exe;        // path of kestin.exe, for its size only
    std::string floor;             // path of the static floor program
    int ready_rounds = 50;         // sessions per program that only measure ready and accept
    int echo_rounds = 8;           // sessions per program and value length that type 50 keys
    int idle_rounds = 3;           // idle measurements per program
    int idle_seconds = 5;          // length of one idle measurement
    int quiet_ms = 25;             // silence after which a program's answer counts as complete
    bool callgrind = true;         // count instructions with valgrind's callgrind
    bool pin = false;              // harness on the first CPU, programs on the second
    std::vector<std::string> only; // run only these programs (by name)
    std::string show;              // debug: run one session of this program and print its screens
    std::vector<std::pair<std::string, std::string>> also;  // further kestin builds to compare: name, path
};

Options options;

// ---------------------------------------------------------------------------
// Time and statistics

// The monotonic clock in nanoseconds.
int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The value at quantile q (0..1) of samples by nearest rank; NaN when there are none.
double quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return NAN;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(samples.size())));
    if (rank < 1) rank = 1;
    return samples[rank - 1];
}

// The median of samples; the mean of the two middle ones for an even count.
double median(std::vector<double> samples) {
    if (samples.empty()) return NAN;
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

// ---------------------------------------------------------------------------
// Candidates

enum class Kind { kestin, bash, zsh, fish, dialog, python, floor };

struct Candidate {
    std::string name;       // short name used in the table and with --only
    Kind kind;
    std::string program;    // executable checked for presence
    std::string how;        // how it is invoked, for the report
    std::string home_keys;  // bytes that move the cursor to the start of the line
    std::string version;    // filled at start-up
};

std::vector<Candidate> candidates;

const char* BASH_SCRIPT =
    "read -e -r -i \"$NAME\" -p 'Name: ' NAME && printf 'SET NAME=%s\\r\\n' \"$NAME\" > \"$OUT\"";
const char* ZSH_SCRIPT =
    "vared -p 'Name: ' NAME && print -rn -- \"SET NAME=$NAME\"$'\\r\\n' > $OUT";
const char* FISH_SCRIPT =
    "read -c \"$NAME\" -P 'Name: ' NAME; and printf 'SET NAME=%s\\r\\n' \"$NAME\" > \"$OUT\"";
const char* PYTHON_SCRIPT =
    "import os, readline\n"
    "v = os.environ['NAME']\n"
    "readline.set_startup_hook(lambda: readline.insert_text(v))\n"
    "s = input('Name: ')\n"
    "with open(os.environ['OUT'], 'w') as f: f.write('SET NAME=' + s + '\\r\\n')\n";

// The argument vector that runs candidate c on a value; at_start puts the cursor
// at the start of the value where the program has an option for it.
std::vector<std::string> command_for(const Candidate& c, const std::string& value, const std::string& out,
                                     bool at_start) {
    switch (c.kind) {
    case Kind::kestin: {
        std::vector<std::string> argv = {c.program, "-v", "NAME", "-f", out, "-p", PROMPT};
        if (at_start) argv.push_back("-b");
        return argv;
    }
    case Kind::bash: return {c.program, "--noprofile", "--norc", "-c", BASH_SCRIPT};
    case Kind::zsh: return {c.program, "-f", "-c", ZSH_SCRIPT};
    case Kind::fish: return {c.program, "-c", FISH_SCRIPT};
    case Kind::python: return {c.program, "-c", PYTHON_SCRIPT};
    case Kind::dialog: return {c.program, "--output-fd", "3", "--max-input", "4096", "--inputbox", PROMPT, "8", "60", value};
    case Kind::floor: return {c.program, out};
    }
    return {};
}

// What the program leaves in its result file after the value became edited.
std::string expected_result(const Candidate& c, const std::string& edited) {
    if (c.kind == Kind::dialog) return edited;
    return "SET NAME=" + edited + "\r\n";
}

// The first line of a command's output, for the report's list of versions.
std::string first_line_of(const std::string& command) {
    std::string line;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        if (fgets(buffer, sizeof buffer, pipe)) line = buffer;
        pclose(pipe);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// Whether path names an executable file.
bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

// Builds the list of candidates that are present on this machine.
void make_candidates() {
    std::vector<Candidate> all = {
        {"kestin", Kind::kestin, options.kestin, "`kestin -v NAME -f out.sh -p \"Name: \"` (`-b` for cursor at start)", "", ""},
        {"bash", Kind::bash, "/bin/bash", "`bash --norc -c 'read -e -r -i \"$NAME\" -p \"Name: \" NAME ...'`", "\x01", ""},
        {"zsh", Kind::zsh, "/usr/bin/zsh", "`zsh -f -c 'vared -p \"Name: \" NAME ...'`", "\x01", ""},
        {"fish", Kind::fish, "/usr/bin/fish", "`fish -c 'read -c \"$NAME\" -P \"Name: \" NAME ...'`", "\x01", ""},
        {"dialog", Kind::dialog, "/usr/bin/dialog", "`dialog --inputbox \"Name: \" 8 60 \"$NAME\"`", "\x1bOH", ""},
        {"python", Kind::python, "/usr/bin/python3", "`python3 -c` with `input()`, readline prefill by `set_startup_hook` + `insert_text`", "\x01", ""},
        {"floor", Kind::floor, options.floor, "static C program: one write of prompt and value, then the tty's own line input", "", ""},
    };
    for (size_t i = 0; i < options.also.size(); ++i)
        all.insert(all.begin() + 1 + static_cast<long>(i),
                   Candidate{options.also[i].first, Kind::kestin, options.also[i].second,
                             "another build of kestin: " + options.also[i].second, "", ""});
    for (Candidate& c : all) {
        if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), c.name) == options.only.end())
            continue;
        if (!executable(c.program)) {
            fprintf(stderr, "bench: %s not found (%s), left out\n", c.name.c_str(), c.program.c_str());
            continue;
        }
        switch (c.kind) {
        case Kind::kestin: c.version = c.name == "kestin" ? "this tree" : "comparison build"; break;
        case Kind::bash: c.version = first_line_of("/bin/bash --version"); break;
        case Kind::zsh: c.version = first_line_of("/usr/bin/zsh --version"); break;
        case Kind::fish: c.version = first_line_of("/usr/bin/fish --version"); break;
        case Kind::dialog: c.version = first_line_of("/usr/bin/dialog --version"); break;
        case Kind::python:
            c.version = first_line_of("/usr/bin/python3 -c 'import sys, readline; "
                                      "print(sys.version.split()[0], \"readline\", readline._READLINE_LIBRARY_VERSION)'");
            break;
        case Kind::floor: c.version = "bench/floor.c, static"; break;
        }
        candidates.push_back(c);
    }
}

// ---------------------------------------------------------------------------
// Sessions: one program in one pseudo-terminal

struct Session {
    const Candidate* candidate = nullptr;
    int master = -1;          // our side of the pseudo-terminal
    pid_t pid = -1;
    int pidfd = -1;           // readable once the program has ended
    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    std::string scrollback;   // rows pushed off the top, each padded to COLS
    std::string out_file;
    int64_t spawned = 0;      // clock just before the spawn
    int64_t last_data = 0;    // clock when the latest output arrived
    std::string received;     // output since the last clear_received
    bool hung_up = false;     // the terminal side has been closed by the program
    bool exited = false;
    int64_t exit_time = 0;
    int status = -1;
    std::vector<std::pair<int64_t, std::string>> timeline;  // with --show: each arrival of output and its bytes
};

// Collects a row that scrolls off the top of the screen, padded to the screen width.
int keep_scrolled_row(int cols, const VTermScreenCell* cells, void* user) {
    Session* s = static_cast<Session*>(user);
    for (int i = 0; i < COLS; ++i) {
        uint32_t ch = i < cols ? cells[i].chars[0] : 0;
        s->scrollback.push_back(ch >= 32 && ch < 127 ? static_cast<char>(ch) : ' ');
    }
    return 1;
}

VTermScreenCallbacks screen_callbacks = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, keep_scrolled_row, nullptr};

// Hands the terminal's answers (cursor reports, device attributes) to the program.
void answer_program(const char* bytes, size_t size, void* user) {
    Session* s = static_cast<Session*>(user);
    while (size > 0) {
        ssize_t put = write(s->master, bytes, size);
        if (put <= 0) return;
        bytes += put;
        size -= static_cast<size_t>(put);
    }
}

// The screen's contents as one text: the scrolled-off rows, then every row of the
// screen padded to COLS, so that text wrapped across rows reads on unbroken.
std::string screen_text(const Session& s) {
    std::string text = s.scrollback;
    text.reserve(text.size() + ROWS * COLS);
    VTermScreenCell cell;
    for (int row = 0; row < ROWS; ++row)
        for (int col = 0; col < COLS; ++col) {
            VTermPos pos = {row, col};
            uint32_t ch = vterm_screen_get_cell(s.screen, pos, &cell) ? cell.chars[0] : 0;
            text.push_back(ch >= 32 && ch < 127 ? static_cast<char>(ch) : ' ');
        }
    return text;
}

// The screen as rows of text, for --show.
std::string screen_dump(const Session& s) {
    std::string text = screen_text(s).substr(s.scrollback.size());
    std::string dump;
    for (int row = 0; row < ROWS; ++row) {
        std::string line = text.substr(static_cast<size_t>(row * COLS), COLS);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        dump += "|" + line + "\n";
    }
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(s.vt), &cursor);
    dump += "cursor row " + std::to_string(cursor.row + 1) + " col " + std::to_string(cursor.col + 1) + "\n";
    return dump;
}

// Keeps the calling thread (and what it starts from now on) on one CPU.
void pin_to_cpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// Starts program argv in a new 80x24 pseudo-terminal as the leader of its own
// session, with env as its environment. extra_fd3 is a file opened on descriptor 3.
bool spawn(Session& s, const std::vector<std::string>& argv, const std::vector<std::string>& env,
           const std::string& extra_fd3) {
    s.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.master < 0 || grantpt(s.master) != 0 || unlockpt(s.master) != 0) return false;
    const char* slave = ptsname(s.master);
    if (!slave) return false;
    winsize size = {ROWS, COLS, 0, 0};
    ioctl(s.master, TIOCSWINSZ, &size);
    fcntl(s.master, F_SETFL, fcntl(s.master, F_GETFL) | O_NONBLOCK);

    s.vt = vterm_new(ROWS, COLS);
    vterm_set_utf8(s.vt, 1);
    s.screen = vterm_obtain_screen(s.vt);
    vterm_screen_set_callbacks(s.screen, &screen_callbacks, &s);
    vterm_screen_reset(s.screen, 1);
    vterm_output_set_callback(s.vt, answer_program, &s);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    // The child: a new session whose first terminal opened becomes its controlling terminal.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slave, O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    if (!extra_fd3.empty())
        posix_spawn_file_actions_addopen(&actions, 3, extra_fd3.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    // The child inherits the CPU set of the moment it is made: the programs run on
    // CPU 1 and the harness on CPU 0, so that every program's key and answer take
    // the same path between the two.
    if (options.pin) pin_to_cpu(1);
    s.spawned = now_ns();
    int failed = posix_spawn(&s.pid, args[0], &actions, &attr, args.data(), envp.data());
    if (options.pin) pin_to_cpu(0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (failed) {
        fprintf(stderr, "bench: cannot start %s: %s\n", args[0], strerror(failed));
        s.pid = -1;
        return false;
    }
    s.pidfd = static_cast<int>(syscall(SYS_pidfd_open, s.pid, 0));
    s.last_data = s.spawned;
    return true;
}

// Reads what the program has written and passes it through the emulator.
// Returns the number of bytes read; marks the session hung up when the program
// has closed its terminal.
size_t drain(Session& s) {
    size_t total = 0;
    char buffer[65536];
    for (;;) {
        ssize_t got = read(s.master, buffer, sizeof buffer);
        if (got > 0) {
            s.received.append(buffer, static_cast<size_t>(got));
            vterm_input_write(s.vt, buffer, static_cast<size_t>(got));
            total += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EAGAIN) break;
        if (got < 0 && errno == EINTR) continue;
        s.hung_up = true;  // EIO: no process holds the terminal side any more
        break;
    }
    return total;
}

// Waits up to timeout_ms for output or the end of the program in any of the
// sessions and handles what came. Output is timestamped as soon as the wait
// returns, before any of the harness's own processing.
// Returns true when something happened.
bool pump(const std::vector<Session*>& sessions, int timeout_ms) {
    std::vector<pollfd> fds;
    std::vector<std::pair<Session*, bool>> owners;  // (session, is pidfd)
    for (Session* s : sessions) {
        if (!s->hung_up) {
            fds.push_back({s->master, POLLIN, 0});
            owners.push_back({s, false});
        }
        if (!s->exited && s->pidfd >= 0) {
            fds.push_back({s->pidfd, POLLIN, 0});
            owners.push_back({s, true});
        }
    }
    if (fds.empty()) return false;
    int ready = poll(fds.data(), fds.size(), timeout_ms);
    int64_t when = now_ns();
    if (ready <= 0) return false;
    bool happened = false;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        Session* s = owners[i].first;
        if (owners[i].second) {
            if (!s->exited) {
                s->exited = true;
                s->exit_time = when;
                happened = true;
            }
        } else if (size_t before = s->received.size(); drain(*s) > 0) {
            s->last_data = when;
            happened = true;
            if (!options.show.empty()) s->timeline.push_back({when - s->spawned, s->received.substr(before)});
        } else if (s->hung_up) {
            happened = true;
        }
    }
    return happened;
}

bool pump_one(Session& s, int timeout_ms) { return pump({&s}, timeout_ms); }

// Waits until the screen satisfies check; returns the clock at the output that
// made it so, or -1 after timeout_ms or when the program ended first.
template <typename Check>
int64_t wait_for_screen(Session& s, Check check, int timeout_ms) {
    int64_t deadline = now_ns() + static_cast<int64_t>(timeout_ms) * 1000000;
    if (check(screen_text(s))) return s.last_data;
    while (now_ns() < deadline && !s.hung_up && !s.exited) {
        int64_t left = (deadline - now_ns()) / 1000000;
        if (pump_one(s, static_cast<int>(std::max<int64_t>(left, 1))) && check(screen_text(s))) return s.last_data;
    }
    return -1;
}

// Waits until the program has been silent for quiet_ms (at most max_ms in all);
// returns the clock of the last output seen.
int64_t wait_quiet(Session& s, int quiet_ms, int max_ms) {
    int64_t deadline = now_ns() + static_cast<int64_t>(max_ms) * 1000000;
    for (;;) {
        int64_t before = s.last_data;
        pump_one(s, quiet_ms);
        if (s.last_data == before || s.hung_up || now_ns() > deadline) return s.last_data;
    }
}

// Writes bytes to the program as typed keys; returns the clock just before the write.
int64_t type(Session& s, const std::string& keys) {
    int64_t when = now_ns();
    if (write(s.master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        fprintf(stderr, "bench: short write to %s\n", s.candidate->name.c_str());
    return when;
}

// Waits for the program to end (at most timeout_ms), collects its status; true when it ended.
bool wait_exit(Session& s, int timeout_ms) {
    int64_t deadline = now_ns() + static_cast<int64_t>(timeout_ms) * 1000000;
    while (!s.exited && now_ns() < deadline) pump_one(s, 50);
    if (!s.exited) return false;
    int status = 0;
    if (waitpid(s.pid, &status, 0) == s.pid) s.status = status;
    s.pid = -1;
    return true;
}

// Ends the program if it still runs and releases the session's resources.
void close_session(Session& s) {
    if (s.pid > 0) {
        kill(s.pid, SIGKILL);
        int status;
        waitpid(s.pid, &status, 0);
        s.pid = -1;
    }
    if (s.pidfd >= 0) close(s.pidfd);
    if (s.master >= 0) close(s.master);
    if (s.vt) vterm_free(s.vt);
    s.pidfd = s.master = -1;
    s.vt = nullptr;
}

// Reads a whole file into a string ("" when it cannot be read).
std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---------------------------------------------------------------------------
// Process accounting from /proc

struct ProcessCost {
    int64_t cpu_ns = 0;                 // CPU time of the whole process, threads that ended included
    std::map<std::string, int64_t> voluntary;  // per thread: voluntary context switches, each a sleep that ended in a wake-up
};

// The CPU time of the process (its CPU-time clock, in nanoseconds) and the voluntary
// context switches of each of its threads.
ProcessCost process_cost(pid_t pid) {
    ProcessCost cost;
    clockid_t clock;
    timespec ts;
    if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &ts) == 0)
        cost.cpu_ns = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    std::string base = "/proc/" + std::to_string(pid) + "/task/";
    DIR* dir = opendir(base.c_str());
    if (!dir) return cost;
    while (dirent* entry = readdir(dir)) {
        std::string task = entry->d_name;
        if (task == "." || task == "..") continue;
        std::stringstream status(read_file(base + task + "/status"));
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) cost.voluntary[task] = atoll(line.c_str() + 24);
    }
    closedir(dir);
    return cost;
}

// Wake-ups between two readings: the growth of each thread's count; a thread that
// started in between counts whole, one that ended in between is lost (rare: it
// would have to start and end while the program waits for a key).
int64_t wakeups_between(const ProcessCost& before, const ProcessCost& after) {
    int64_t total = 0;
    for (const auto& [task, count] : after.voluntary) {
        auto it = before.voluntary.find(task);
        total += count - (it == before.voluntary.end() ? 0 : it->second);
    }
    return total;
}

// A field (in kB) of /proc/<pid>/status, such as VmHWM; -1 when absent.
int64_t status_kb(pid_t pid, const char* field) {
    std::stringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    size_t n = strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return atoll(line.c_str() + n + 1);
    return -1;
}

// ---------------------------------------------------------------------------
// Measurements

struct Results {
    std::vector<double> ready_ms, accept_ms;
    std::vector<double> ready_by_round;                      // ready rounds only, NaN where one failed
    std::vector<double> echo_by_round, long_by_round;        // per-run p50 by echo round, NaN where one failed
    std::vector<double> echo_p50, echo_p90, echo_max;        // per run, microseconds
    std::vector<double> long_p50, long_p90, long_max;        // cursor at the start of 2000 characters
    std::vector<double> long_first_p50;                      // first byte of the answer, same runs
    std::vector<double> idle_us_per_s, wakeups_per_s;
    std::vector<double> hwm_kb;
    int64_t instructions = -1;        // callgrind, scripted edit in the terminal
    int64_t stream_instructions = -1; // callgrind, the same edit as a key-byte stream (kestin only)
    double instructions_per_key = NAN; // callgrind, growth per typed letter
    std::vector<std::string> failures;
};

std::map<std::string, Results> results;
std::string work_dir;
int session_counter = 0;
std::string long_value;

// The environment every program gets, with NAME holding value and OUT the result file.
std::vector<std::string> environment(const std::string& value, const std::string& out) {
    const char* path = getenv("PATH");
    const char* home = getenv("HOME");
    return {std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
            std::string("HOME=") + (home ? home : "/root"),
            "TERM=xterm",
            "LANG=C.UTF-8",
            "NAME=" + value,
            "OUT=" + out};
}

// Whether the screen shows the prompt and the value (its start or its end when
// the program shows only part of a long value).
bool shows_prompt_and_value(const std::string& screen, const std::string& value) {
    if (screen.find(PROMPT) == std::string::npos) return false;
    if (value.size() <= 40) return screen.find(value) != std::string::npos;
    return screen.find(value.substr(value.size() - 30)) != std::string::npos ||
           screen.find(value.substr(0, 30)) != std::string::npos;
}

// Starts c in a fresh session on value. Returns false (and records why) on failure.
bool start(Session& s, const Candidate& c, const std::string& value, bool at_start,
           const std::vector<std::string>& prefix = {}) {
    s.candidate = &c;
    s.out_file = work_dir + "/" + c.name + "-" + std::to_string(++session_counter) + ".out";
    std::vector<std::string> argv = prefix;
    for (const std::string& a : command_for(c, value, s.out_file, at_start)) argv.push_back(a);
    if (!spawn(s, argv, environment(value, s.out_file), c.kind == Kind::dialog ? s.out_file : "")) {
        results[c.name].failures.push_back("could not start");
        return false;
    }
    return true;
}

// Sends Enter, waits for the end of the program and checks its result file.
// Returns the accept latency in ms, or NaN on failure (recorded).
double accept(Session& s, const std::string& edited, int timeout_ms = 5000) {
    Results& r = results[s.candidate->name];
    int64_t sent = type(s, "\r");
    if (!wait_exit(s, timeout_ms)) {
        r.failures.push_back("did not end after Enter");
        return NAN;
    }
    double ms = static_cast<double>(s.exit_time - sent) / 1e6;
    std::string got = read_file(s.out_file);
    std::string want = expected_result(*s.candidate, edited);
    if (!WIFEXITED(s.status) || WEXITSTATUS(s.status) != 0 || got != want) {
        std::string why = "result: status " + std::to_string(WIFEXITED(s.status) ? WEXITSTATUS(s.status) : -1) +
                          ", file holds " + std::to_string(got.size()) + " bytes, want " +
                          std::to_string(want.size());
        if (got.size() < 200) why += " [" + got + "]";
        r.failures.push_back(why);
        return NAN;
    }
    return ms;
}

// One ready-and-accept session: spawn, wait for prompt and value, settle, Enter.
void measure_ready(const Candidate& c) {
    Results& r = results[c.name];
    r.ready_by_round.push_back(NAN);
    Session s;
    if (start(s, c, SHORT_VALUE, false)) {
        int64_t ready = wait_for_screen(s, [](const std::string& t) { return shows_prompt_and_value(t, SHORT_VALUE); },
                                        10000);
        if (ready < 0) {
            r.failures.push_back("not ready within 10 s");
        } else {
            r.ready_ms.push_back(static_cast<double>(ready - s.spawned) / 1e6);
            r.ready_by_round.back() = r.ready_ms.back();
            wait_quiet(s, options.quiet_ms, 2000);
            double ms = accept(s, SHORT_VALUE);
            if (!std::isnan(ms)) r.accept_ms.push_back(ms);
        }
    }
    close_session(s);
}

// One echo session: 50 keys typed one at a time, each timed from the write to the
// last byte of the program's answer (the answer is complete when the program has
// been silent for quiet_ms). With at_start the value is the 2000-character one and
// the cursor sits at its start, so every key redraws the whole rest of the line.
void measure_echo(const Candidate& c, bool at_start) {
    Results& r = results[c.name];
    const std::string& value = at_start ? long_value : std::string(SHORT_VALUE);
    (at_start ? r.long_by_round : r.echo_by_round).push_back(NAN);
    Session s;
    if (!start(s, c, value, at_start)) return;
    int64_t ready = wait_for_screen(s, [&](const std::string& t) { return shows_prompt_and_value(t, value); }, 10000);
    if (ready < 0) {
        r.failures.push_back(std::string("not ready within 10 s") + (at_start ? " (long value)" : ""));
        close_session(s);
        return;
    }
    if (!at_start) r.ready_ms.push_back(static_cast<double>(ready - s.spawned) / 1e6);
    wait_quiet(s, options.quiet_ms, 2000);
    if (at_start && !c.home_keys.empty()) {
        type(s, c.home_keys);
        wait_quiet(s, options.quiet_ms, 2000);
    }

    // On the long value, letters and Backspaces alternate: the value stays within
    // every program's length limit (Kestin takes at most 2040 characters) and each
    // key still redraws the whole rest of the line.
    std::vector<double> full, first;
    std::string typed;
    for (int i = 0; i < ECHO_KEYS; ++i) {
        char key = static_cast<char>('a' + i % 26);
        if (at_start && i % 2 == 1) {
            key = '\x7f';
            typed.pop_back();
        } else {
            typed.push_back(key);
        }
        s.received.clear();
        int64_t before = s.last_data;
        int64_t sent = type(s, std::string(1, key));
        int64_t first_at = -1;
        // The first answer: wait for it up to a second.
        while (s.last_data == before && !s.hung_up && now_ns() - sent < 1000000000LL) pump_one(s, 1000);
        if (s.last_data != before) first_at = s.last_data;
        int64_t last_at = wait_quiet(s, options.quiet_ms, 5000);
        bool echoed = key == '\x7f' ? !s.received.empty() : s.received.find(key) != std::string::npos;
        if (first_at < 0 || !echoed) {
            r.failures.push_back(std::string("no echo for a key") + (at_start ? " (long value)" : ""));
            continue;
        }
        full.push_back(static_cast<double>(last_at - sent) / 1e3);
        first.push_back(static_cast<double>(first_at - sent) / 1e3);
    }
    if (!at_start && s.pid > 0) {
        int64_t hwm = status_kb(s.pid, "VmHWM");
        if (hwm > 0) r.hwm_kb.push_back(static_cast<double>(hwm));
    }
    std::string edited = at_start ? typed + value : value + typed;
    double ms = accept(s, edited);
    if (!at_start && !std::isnan(ms)) r.accept_ms.push_back(ms);
    if (full.size() == static_cast<size_t>(ECHO_KEYS)) {
        if (at_start) {
            r.long_p50.push_back(quantile(full, 0.5));
            r.long_p90.push_back(quantile(full, 0.9));
            r.long_max.push_back(quantile(full, 1.0));
            r.long_first_p50.push_back(quantile(first, 0.5));
            r.long_by_round.back() = r.long_p50.back();
        } else {
            r.echo_p50.push_back(quantile(full, 0.5));
            r.echo_p90.push_back(quantile(full, 0.9));
            r.echo_max.push_back(quantile(full, 1.0));
            r.echo_by_round.back() = r.echo_p50.back();
        }
    }
    close_session(s);
}

// One idle measurement of all candidates at once: each is started and left
// waiting for a key; CPU time and wake-ups are read from /proc before and after.
void measure_idle(const std::vector<const Candidate*>& order) {
    std::vector<Session> sessions(order.size());
    std::vector<Session*> waiting;
    for (size_t i = 0; i < order.size(); ++i) {
        Session& s = sessions[i];
        if (!start(s, *order[i], SHORT_VALUE, false)) continue;
        if (wait_for_screen(s, [](const std::string& t) { return shows_prompt_and_value(t, SHORT_VALUE); }, 10000) < 0) {
            results[order[i]->name].failures.push_back("not ready within 10 s (idle)");
            continue;
        }
        wait_quiet(s, 300, 2000);
        waiting.push_back(&s);
    }
    std::vector<ProcessCost> before;
    for (Session* s : waiting) before.push_back(process_cost(s->pid));
    int64_t began = now_ns();
    int64_t end = began + static_cast<int64_t>(options.idle_seconds) * 1000000000LL;
    while (now_ns() < end) pump(waiting, static_cast<int>((end - now_ns()) / 1000000) + 1);
    double seconds = static_cast<double>(now_ns() - began) / 1e9;
    for (size_t i = 0; i < waiting.size(); ++i) {
        Session& s = *waiting[i];
        Results& r = results[s.candidate->name];
        if (s.exited) {
            r.failures.push_back("ended while idle");
            continue;
        }
        ProcessCost after = process_cost(s.pid);
        r.idle_us_per_s.push_back(static_cast<double>(after.cpu_ns - before[i].cpu_ns) / 1e3 / seconds);
        r.wakeups_per_s.push_back(static_cast<double>(wakeups_between(before[i], after)) / seconds);
    }
    for (Session* s : waiting) accept(*s, SHORT_VALUE);
    for (Session& s : sessions) close_session(s);
}

// The total of "Collected : N" in a callgrind log; -1 when absent.
int64_t collected_instructions(const std::string& log) {
    std::stringstream text(read_file(log));
    std::string line;
    int64_t total = -1;
    while (std::getline(text, line)) {
        size_t at = line.find("Collected : ");
        if (at != std::string::npos) total = std::max<int64_t>(total, 0) + atoll(line.c_str() + at + 12);
    }
    return total;
}

// The scripted edit used for instruction counts: type four letters, erase two, Enter.
const char* SCRIPTED_KEYS = "wxyz\x7f\x7f";
const char* SCRIPTED_RESULT_TAIL = "wx";

// Counts the instructions of a whole run of c (start, the scripted edit, then
// extra_keys more letters, Enter) under callgrind, in the pseudo-terminal like the
// other measurements. Each key waits for its answer and a short silence, so that
// keys arrive one at a time as typed. Returns -1 on failure (recorded).
int64_t count_instructions(const Candidate& c, int extra_keys) {
    Results& r = results[c.name];
    std::string log = work_dir + "/" + c.name + "-" + std::to_string(extra_keys) + ".callgrind.log";
    Session s;
    if (!start(s, c, SHORT_VALUE, false,
               {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", "--log-file=" + log}))
        return -1;
    if (wait_for_screen(s, [](const std::string& t) { return shows_prompt_and_value(t, SHORT_VALUE); }, 120000) < 0) {
        r.failures.push_back("not ready under callgrind");
        close_session(s);
        return -1;
    }
    wait_quiet(s, 300, 10000);
    std::string keys = SCRIPTED_KEYS;
    std::string edited = std::string(SHORT_VALUE) + SCRIPTED_RESULT_TAIL;
    for (int i = 0; i < extra_keys; ++i) {
        keys.push_back(static_cast<char>('a' + i % 26));
        edited.push_back(keys.back());
    }
    for (char k : keys) {
        int64_t before = s.last_data;
        type(s, std::string(1, k));
        int64_t sent = now_ns();
        while (s.last_data == before && !s.hung_up && now_ns() - sent < 10000000000LL) pump_one(s, 1000);
        wait_quiet(s, 50, 10000);
    }
    int64_t count = -1;
    if (!std::isnan(accept(s, edited, 120000))) count = collected_instructions(log);
    close_session(s);
    return count;
}

// The instructions of the scripted edit, and per key: the growth of the count
// when 50 more letters are typed, divided by 50.
void measure_instructions(const Candidate& c) {
    Results& r = results[c.name];
    r.instructions = count_instructions(c, 0);
    int64_t more = count_instructions(c, ECHO_KEYS);
    if (r.instructions >= 0 && more >= 0)
        r.instructions_per_key = static_cast<double>(more - r.instructions) / ECHO_KEYS;
}

// Counts Kestin's instructions for the same edit with the keys given as a byte
// stream on standard input instead of a terminal; no time waiting for keys enters it.
int64_t kestin_stream_instructions(const Candidate& c) {
    std::string keys = work_dir + "/keys";
    std::string out = work_dir + "/stream.out";
    std::string log = work_dir + "/stream.callgrind.log";
    {
        std::ofstream k(keys, std::ios::binary);
        k << SCRIPTED_KEYS << "\r";
    }
    std::string command = "NAME='" + std::string(SHORT_VALUE) + "' /usr/bin/valgrind --tool=callgrind "
                          "--callgrind-out-file=/dev/null --log-file=" + log + " " + c.program +
                          " -v NAME -f " + out + " -p 'Name: ' < " + keys + " > /dev/null 2>&1";
    int status = system(command.c_str());
    if (status != 0) return -1;
    return collected_instructions(log);
}

// ---------------------------------------------------------------------------
// Report

std::string fmt(double v, int decimals) {
    if (std::isnan(v)) return "–";
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
    return buffer;
}

std::string machine_line() {
    std::string cpu = first_line_of("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'");
    utsname u;
    uname(&u);
    return cpu + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs, " + u.sysname + " " + u.release;
}

std::string load_average() { return first_line_of("cut -d' ' -f1-3 /proc/loadavg"); }

std::string file_size(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return "";
    return std::to_string(st.st_size);
}

// The size of path after stripping its symbols (a stripped copy is made in the work folder).
std::string stripped_size(const std::string& path) {
    if (path.empty() || access(path.c_str(), R_OK) != 0) return "";
    std::string copy = work_dir + "/stripped";
    std::string command = "strip -o " + copy + " " + path + " 2>/dev/null";
    if (system(command.c_str()) != 0) return "";
    return file_size(copy);
}

const Candidate* find_candidate(const std::string& name) {
    for (const Candidate& c : candidates)
        if (c.name == name) return &c;
    return nullptr;
}

// The median of the differences a[i] - b[i] over the rounds both have, and how many
// of those rounds a was the lower: a comparison that a change of load between
// rounds moves less than the difference of the two medians.
std::string paired(const std::vector<double>& a, const std::vector<double>& b, int decimals, const char* unit) {
    std::vector<double> differences;
    int lower = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!std::isnan(a[i]) && !std::isnan(b[i])) {
            differences.push_back(a[i] - b[i]);
            if (a[i] < b[i]) ++lower;
        }
    return "median of the per-round differences " + fmt(median(differences), decimals) + " " + unit + ", lower in " +
           std::to_string(lower) + " of " + std::to_string(differences.size()) + " rounds";
}

void report(const std::string& load_start, double minutes) {
    char date[64];
    time_t t = time(nullptr);
    strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", localtime(&t));
    printf("## Results\n\n");
    printf("- Date: %s (run took %.1f min)\n", date, minutes);
    printf("- Machine: %s\n", machine_line().c_str());
    printf("- Load average (1, 5, 15 min): %s at start, %s at end\n", load_start.c_str(), load_average().c_str());
    printf("- Terminal: %dx%d pseudo-terminal, libvterm answering the cursor-position query; "
           "%d ready rounds, %d echo rounds of %d keys, %d idle rounds of %d s, quiet gap %d ms; %s\n\n",
           COLS, ROWS, options.ready_rounds, options.echo_rounds, ECHO_KEYS, options.idle_rounds,
           options.idle_seconds, options.quiet_ms,
           options.pin ? "harness pinned to CPU 0, programs to CPU 1" : "no CPU pinning");

    printf("| Program | Ready ms | Echo µs p50 / p90 / max | Echo at start of 2000 chars µs p50 / p90 / max "
           "| Accept ms | Idle CPU µs/s | Wake-ups/s | Peak RSS KiB | Instructions, scripted edit | Instructions per key |\n");
    printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
    for (const Candidate& c : candidates) {
        Results& r = results[c.name];
        std::string instr = r.instructions < 0 ? "–" : fmt(static_cast<double>(r.instructions) / 1e6, 2) + " M";
        std::string long_echo = c.kind == Kind::floor
                                    ? "n/a"
                                    : fmt(median(r.long_p50), 0) + " / " + fmt(median(r.long_p90), 0) + " / " +
                                          fmt(median(r.long_max), 0);
        printf("| %s | %s | %s / %s / %s | %s | %s | %s | %s | %s | %s | %s |\n", c.name.c_str(),
               fmt(median(r.ready_ms), 2).c_str(), fmt(median(r.echo_p50), 0).c_str(),
               fmt(median(r.echo_p90), 0).c_str(), fmt(median(r.echo_max), 0).c_str(), long_echo.c_str(),
               fmt(median(r.accept_ms), 2).c_str(), fmt(median(r.idle_us_per_s), 1).c_str(),
               fmt(median(r.wakeups_per_s), 1).c_str(), fmt(median(r.hwm_kb), 0).c_str(), instr.c_str(),
               fmt(r.instructions_per_key, 0).c_str());
    }
    printf("\n");

    printf("Spread of time to ready (ms, min / p25 / median / p75 / max over all sessions):\n\n");
    for (const Candidate& c : candidates) {
        Results& r = results[c.name];
        printf("- %s: %s / %s / %s / %s / %s (n=%zu)\n", c.name.c_str(), fmt(quantile(r.ready_ms, 0), 2).c_str(),
               fmt(quantile(r.ready_ms, 0.25), 2).c_str(), fmt(median(r.ready_ms), 2).c_str(),
               fmt(quantile(r.ready_ms, 0.75), 2).c_str(), fmt(quantile(r.ready_ms, 1), 2).c_str(),
               r.ready_ms.size());
    }
    printf("\nEcho at the start of 2000 characters, first byte of the answer (µs, median of per-run p50): ");
    bool comma = false;
    for (const Candidate& c : candidates) {
        if (c.kind == Kind::floor) continue;
        printf("%s%s %s", comma ? ", " : "", c.name.c_str(), fmt(median(results[c.name].long_first_p50), 0).c_str());
        comma = true;
    }
    printf("\n\n");

    const Candidate* k = find_candidate("kestin");
    printf("Sizes: kestin %s bytes (%s stripped), kestin.exe %s; floor %s bytes (static)",
           k ? file_size(options.kestin).c_str() : "–", k ? stripped_size(options.kestin).c_str() : "–",
           file_size(options.kestin_exe).empty() ? "not built" : (file_size(options.kestin_exe) + " bytes").c_str(),
           file_size(options.floor).c_str());
    for (const Candidate& c : candidates)
        if (c.kind == Kind::kestin && c.name != "kestin")
            printf("; %s %s bytes (%s stripped)", c.name.c_str(), file_size(c.program).c_str(),
                   stripped_size(c.program).c_str());
    printf("\n");
    for (const Candidate& c : candidates)
        if (results[c.name].stream_instructions >= 0)
            printf("\n%s, the same scripted edit with the keys as a byte stream on standard input: %s M instructions\n",
                   c.name.c_str(), fmt(static_cast<double>(results[c.name].stream_instructions) / 1e6, 3).c_str());
    printf("\nPrograms:\n\n");
    for (const Candidate& c : candidates) printf("- %s: %s — %s\n", c.name.c_str(), c.how.c_str(), c.version.c_str());

    bool any_failure = false;
    for (const Candidate& c : candidates)
        if (!results[c.name].failures.empty()) any_failure = true;
    if (any_failure) {
        printf("\nFailures:\n\n");
        for (const Candidate& c : candidates) {
            std::map<std::string, int> counts;
            for (const std::string& f : results[c.name].failures) counts[f]++;
            for (auto& [f, n] : counts) printf("- %s: %s (%dx)\n", c.name.c_str(), f.c_str(), n);
        }
    }

    if (!k) return;
    Results& kr = results["kestin"];
    printf("\nGoals:\n\n");
    auto verdict = [](bool known, bool met) { return !known ? "unknown" : met ? "met" : "NOT met"; };
    double kready = median(kr.ready_ms);
    double best_peer = INFINITY;
    std::string best_name;
    for (const Candidate& c : candidates)
        if (c.kind != Kind::kestin && c.kind != Kind::floor && median(results[c.name].ready_ms) < best_peer) {
            best_peer = median(results[c.name].ready_ms);
            best_name = c.name;
        }
    printf("- time to ready below every peer's: %s (kestin %s ms, fastest peer %s %s ms)\n",
           verdict(!std::isnan(kready) && best_peer < INFINITY, kready < best_peer), fmt(kready, 2).c_str(),
           best_name.c_str(), fmt(best_peer, 2).c_str());
    double floor_ready = find_candidate("floor") ? median(results["floor"].ready_ms) : NAN;
    printf("- time to ready within 0.5 ms of the floor: %s (kestin − floor = %s ms; %s)\n",
           verdict(!std::isnan(kready) && !std::isnan(floor_ready), kready - floor_ready <= 0.5),
           fmt(kready - floor_ready, 2).c_str(), paired(kr.ready_by_round, results["floor"].ready_by_round, 2, "ms").c_str());
    double bash_p50 = find_candidate("bash") ? median(results["bash"].echo_p50) : NAN;
    double bash_long = find_candidate("bash") ? median(results["bash"].long_p50) : NAN;
    printf("- echo p50 no worse than bash's: %s (kestin %s µs, bash %s µs; %s; per key kestin runs %s instructions, bash %s)\n",
           verdict(!std::isnan(bash_p50) && !std::isnan(median(kr.echo_p50)), median(kr.echo_p50) <= bash_p50),
           fmt(median(kr.echo_p50), 0).c_str(), fmt(bash_p50, 0).c_str(),
           paired(kr.echo_by_round, results["bash"].echo_by_round, 0, "µs").c_str(), fmt(kr.instructions_per_key, 0).c_str(),
           fmt(find_candidate("bash") ? results["bash"].instructions_per_key : NAN, 0).c_str());
    printf("- echo p50 on the 2000-character line no worse than bash's: %s (kestin %s µs, bash %s µs; %s)\n",
           verdict(!std::isnan(bash_long) && !std::isnan(median(kr.long_p50)), median(kr.long_p50) <= bash_long),
           fmt(median(kr.long_p50), 0).c_str(), fmt(bash_long, 0).c_str(),
           paired(kr.long_by_round, results["bash"].long_by_round, 0, "µs").c_str());
    printf("- idle CPU under 0.1 ms per second: %s (%s µs/s)\n",
           verdict(!kr.idle_us_per_s.empty(), median(kr.idle_us_per_s) < 100.0),
           fmt(median(kr.idle_us_per_s), 1).c_str());
    double bash_hwm = find_candidate("bash") ? median(results["bash"].hwm_kb) : NAN;
    printf("- peak memory at most half of bash's: %s (kestin %s KiB, bash %s KiB)\n",
           verdict(!std::isnan(bash_hwm) && !kr.hwm_kb.empty(), median(kr.hwm_kb) <= bash_hwm / 2),
           fmt(median(kr.hwm_kb), 0).c_str(), fmt(bash_hwm, 0).c_str());
    std::string exe = file_size(options.kestin_exe);
    printf("- kestin.exe under 150 KB (153600 bytes): %s (%s)\n", verdict(!exe.empty(), !exe.empty() && atoll(exe.c_str()) < 153600),
           exe.empty() ? "not built" : (exe + " bytes").c_str());
}

// ---------------------------------------------------------------------------
// Debug: one session with its screens

int show(const Candidate& c, bool at_start) {
    const std::string& value = at_start ? long_value : std::string(SHORT_VALUE);
    Session s;
    if (!start(s, c, value, at_start)) return 1;
    int64_t ready = wait_for_screen(s, [&](const std::string& t) { return shows_prompt_and_value(t, value); }, 10000);
    printf("ready after %s ms\n", ready < 0 ? "(never)" : fmt(static_cast<double>(ready - s.spawned) / 1e6, 2).c_str());
    for (const auto& [when, bytes] : s.timeline) {
        std::string shown;
        for (char ch : bytes.substr(0, 40)) shown += ch == '\x1b' ? std::string("ESC") : std::string(1, ch);
        printf("  %8.3f ms  %4zu bytes  %s\n", static_cast<double>(when) / 1e6, bytes.size(), shown.c_str());
    }
    wait_quiet(s, 200, 3000);
    printf("%s", screen_dump(s).c_str());
    std::string typed = "abc";
    if (at_start && !c.home_keys.empty()) type(s, c.home_keys), wait_quiet(s, 200, 3000);
    for (char k : typed) type(s, std::string(1, k)), wait_quiet(s, 200, 3000);
    printf("after typing:\n%s", screen_dump(s).c_str());
    double ms = accept(s, at_start ? typed + value : value + typed);
    printf("accept %s ms, status %d, file [%s]\n", fmt(ms, 2).c_str(), WIFEXITED(s.status) ? WEXITSTATUS(s.status) : -1,
           read_file(s.out_file).substr(0, 120).c_str());
    for (const std::string& f : results[c.name].failures) printf("failure: %s\n", f.c_str());
    close_session(s);
    return 0;
}

// Splits a comma-separated list.
std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) parts.push_back(part);
    return parts;
}

void usage() {
    fprintf(stderr,
            "usage: kestin-bench --floor PATH [--kestin PATH] [--kestin-exe PATH] [--rounds N] [--ready-rounds N]\n"
            "                    [--idle-rounds N] [--idle-seconds N] [--quiet-ms N] [--no-callgrind] [--pin]\n"
            "                    [--only a,b,...] [--show NAME[:long]] [--also NAME=PATH-OF-ANOTHER-KESTIN]\n");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                exit(3);
            }
            return argv[++i];
        };
        if (a == "--kestin") options.kestin = next();
        else if (a == "--kestin-exe") options.kestin_exe = next();
        else if (a == "--floor") options.floor = next();
        else if (a == "--rounds") options.echo_rounds = atoi(next().c_str());
        else if (a == "--ready-rounds") options.ready_rounds = atoi(next().c_str());
        else if (a == "--idle-rounds") options.idle_rounds = atoi(next().c_str());
        else if (a == "--idle-seconds") options.idle_seconds = atoi(next().c_str());
        else if (a == "--quiet-ms") options.quiet_ms = atoi(next().c_str());
        else if (a == "--no-callgrind") options.callgrind = false;
        else if (a == "--pin") options.pin = true;
        else if (a == "--only") options.only = split(next());
        else if (a == "--show") options.show = next();
        else if (a == "--also") {
            std::string spec = next();
            size_t eq = spec.find('=');
            if (eq == std::string::npos) {
                usage();
                return 3;
            }
            options.also.push_back({spec.substr(0, eq), spec.substr(eq + 1)});
        }
        else if (a == "--help") {
            usage();
            return 0;
        }
        else {
            usage();
            return 3;
        }
    }
    signal(SIGPIPE, SIG_IGN);
    if (sysconf(_SC_NPROCESSORS_ONLN) < 2) options.pin = false;
    if (options.pin) pin_to_cpu(0);

    // A 2000-character value without repeats that a screen check could mistake.
    uint32_t seed = 12345;
    for (int i = 0; i < LONG_LENGTH; ++i) {
        seed = seed * 1103515245u + 12345u;
        long_value.push_back(static_cast<char>('a' + (seed >> 16) % 26));
    }

    char dir_template[] = "/tmp/kestin-bench-XXXXXX";
    if (!mkdtemp(dir_template)) return 1;
    work_dir = dir_template;

    make_candidates();
    if (!options.show.empty()) {
        std::vector<std::string> parts = split(options.show);
        std::string name = options.show.substr(0, options.show.find(':'));
        bool at_start = options.show.find(":long") != std::string::npos;
        const Candidate* c = find_candidate(name);
        int status = c ? show(*c, at_start) : 3;
        system(("rm -rf " + work_dir).c_str());
        return status;
    }

    std::string load_start = load_average();
    int64_t began = now_ns();
    std::vector<const Candidate*> order;
    for (const Candidate& c : candidates) order.push_back(&c);
    auto rotated = [&](int round) {
        std::vector<const Candidate*> o = order;
        if (!o.empty()) std::rotate(o.begin(), o.begin() + round % static_cast<int>(o.size()), o.end());
        return o;
    };

    for (int round = 0; round < options.ready_rounds; ++round) {
        fprintf(stderr, "\rready round %d/%d   ", round + 1, options.ready_rounds);
        for (const Candidate* c : rotated(round)) measure_ready(*c);
    }
    for (int round = 0; round < options.echo_rounds; ++round) {
        fprintf(stderr, "\recho round %d/%d    ", round + 1, options.echo_rounds);
        for (const Candidate* c : rotated(round)) {
            measure_echo(*c, false);
            if (c->kind != Kind::floor) measure_echo(*c, true);
        }
    }
    for (int round = 0; round < options.idle_rounds; ++round) {
        fprintf(stderr, "\ridle round %d/%d    ", round + 1, options.idle_rounds);
        measure_idle(rotated(round));
    }
    if (options.callgrind && executable("/usr/bin/valgrind")) {
        for (const Candidate* c : order) {
            fprintf(stderr, "\rcallgrind %-8s   ", c->name.c_str());
            measure_instructions(*c);
            if (c->kind == Kind::kestin) results[c->name].stream_instructions = kestin_stream_instructions(*c);
        }
    }
    fprintf(stderr, "\rdone                   \n");
    report(load_start, static_cast<double>(now_ns() - began) / 60e9);
    system(("rm -rf " + work_dir).c_str());
    return 0;
}
