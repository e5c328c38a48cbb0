// platform_posix.cpp - the platform seam on a POSIX terminal (termios, VT escape sequences); nothing else lives here.
//
// The terminal is made to deliver what the Windows console delivers: key events
// (decoded by vt_decoder.cpp from the bytes and escape sequences the terminal
// sends), a screen whose size and cursor cell can be asked for, and output that
// wraps and scrolls as the console's does. Raw mode is put on when the console
// services clear the processed-input bit, and the terminal's own mode is put back
// on every way out: platform_exit, and the signals that end a process from outside.
#include "platform/platform.h"
#include "platform/posix/vt_decoder.h"

#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

// ---------------------------------------------------------------------------
// The process

// The arguments as the shell split them, and the program file's full path.
static int saved_argc = 0;
static char** saved_argv = nullptr;
static char module_path_text[PATH_MAX];

// The handler the core registered. Signals are not turned into control events:
// those that end a process from outside still end it, after the terminal's mode is put back.
static ControlHandler control_handler = nullptr;

// Finds the program file's full path: the link the system keeps for the running
// program, else argv[0] made absolute, else argv[0] as it stands.
static void find_module_path() {
    module_path_text[0] = '\0';
#ifdef __APPLE__
    char raw[PATH_MAX];
    uint32_t raw_size = sizeof raw;
    if (_NSGetExecutablePath(raw, &raw_size) == 0 && realpath(raw, module_path_text) != nullptr) {
        return;
    }
#endif
    ssize_t length = readlink("/proc/self/exe", module_path_text, sizeof module_path_text - 1);
    if (length > 0) {
        module_path_text[length] = '\0';
        return;
    }
    module_path_text[0] = '\0';
    if (saved_argc > 0 && saved_argv[0] != nullptr) {
        if (realpath(saved_argv[0], module_path_text) == nullptr) {
            strncpy(module_path_text, saved_argv[0], sizeof module_path_text - 1);
            module_path_text[sizeof module_path_text - 1] = '\0';
        }
    }
}

// ---------------------------------------------------------------------------
// What standard input and output are

static bool facts_known = false;
static bool input_is_terminal = false;
static bool output_is_terminal = false;
static bool output_is_screen = false;  // both ends are the same terminal, which is not "dumb"
static bool utf8_locale = false;

// Whether a locale name (language_territory.codeset@modifier) names the UTF-8 code set.
static bool locale_names_utf8(const char* name) {
    const char* dot = strchr(name, '.');
    if (dot == nullptr) {
        return false;
    }
    char codeset[16];
    size_t n = 0;
    for (const char* p = dot + 1; *p != '\0' && *p != '@' && n + 1 < sizeof codeset; p++) {
        if (*p != '-' && *p != '_') {
            char c = *p;
            codeset[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    codeset[n] = '\0';
    return strcmp(codeset, "utf8") == 0;
}

// The character set the terminal speaks, from the locale the user chose: the
// first of LC_ALL, LC_CTYPE and LANG that is set and not empty decides. Reading
// the variables needs no locale data installed and costs nothing at start-up.
static bool locale_is_utf8() {
    static const char* const variables[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* variable : variables) {
        const char* value = getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return locale_names_utf8(value);
        }
    }
    return false;
}

// Looks once at standard input and output. The cursor can be asked for and placed
// only where both are the same terminal: the question goes out on standard output
// and the answer comes back on standard input. A "dumb" terminal understands no
// escape sequence at all and is written to as a stream.
static void learn_terminal() {
    if (facts_known) {
        return;
    }
    facts_known = true;
    input_is_terminal = isatty(STDIN_FILENO) == 1;
    output_is_terminal = isatty(STDOUT_FILENO) == 1;
    output_is_screen = false;
    if (input_is_terminal && output_is_terminal) {
        struct stat input_stat;
        struct stat output_stat;
        const char* term = getenv("TERM");
        bool dumb = term != nullptr && strcmp(term, "dumb") == 0;
        output_is_screen = !dumb && fstat(STDIN_FILENO, &input_stat) == 0 &&
                           fstat(STDOUT_FILENO, &output_stat) == 0 && input_stat.st_rdev == output_stat.st_rdev;
    }
    utf8_locale = locale_is_utf8();
    vt_decoder_reset(utf8_locale);
}

// ---------------------------------------------------------------------------
// Terminal mode

// The terminal's own mode, read before raw mode first goes on, and whether raw
// mode is on. The signal handlers read both.
static struct termios original_mode;
static volatile sig_atomic_t original_mode_saved = 0;
static volatile sig_atomic_t terminal_raw = 0;

// Puts the terminal's own mode back; safe inside a signal handler (tcsetattr is
// async-signal-safe). Keys typed ahead stay for the shell.
static void restore_terminal() {
    if (terminal_raw != 0 && original_mode_saved != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &original_mode);
    }
    terminal_raw = 0;
}

// Signals that end the process from outside or on a fault. The handler puts the
// terminal's mode back and raises the signal again with its default action
// (SA_RESETHAND put it back, SA_NODEFER lets it through at once), so the process
// still ends by that signal, as its parent expects.
static const int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

static void restore_and_end(int signal_number) {
    int saved_errno = errno;
    restore_terminal();
    raise(signal_number);
    errno = saved_errno;
}

// The raw mode as set, for a return from a stop.
static struct termios raw_mode;

// A stop sent from outside (SIGTSTP; Ctrl+Z itself is a key in raw mode): the
// terminal gets its own mode back for the shell while the process is stopped,
// and raw mode again when it continues. Only async-signal-safe calls are used.
static void restore_and_stop(int signal_number) {
    int saved_errno = errno;
    bool was_raw = terminal_raw != 0;
    restore_terminal();
    struct sigaction stop;
    struct sigaction mine;
    memset(&stop, 0, sizeof stop);
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(signal_number, &stop, &mine);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal_number);  // the process stops here until it is continued
    sigaction(signal_number, &mine, nullptr);
    if (was_raw) {
        terminal_raw = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
    }
    errno = saved_errno;
}

// Installs handler for signal_number when its action is still the default: an
// ignored signal stays ignored (nohup, background jobs) and a handler somebody
// else installed (a sanitizer's) stays in place.
static void take_signal(int signal_number, void (*handler)(int), int flags) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0) {
        return;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal_number, &action, nullptr);
}

// Installs the handlers that put the terminal's mode back, once.
static void install_signal_handlers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    for (int signal_number : ENDING_SIGNALS) {
        take_signal(signal_number, restore_and_end, SA_RESETHAND | SA_NODEFER);
    }
    take_signal(SIGTSTP, restore_and_stop, SA_RESTART);
}

// Saves the terminal's own mode once.
static bool save_original_mode() {
    if (original_mode_saved == 0) {
        if (tcgetattr(STDIN_FILENO, &original_mode) != 0) {
            return false;
        }
        original_mode_saved = 1;
    }
    return true;
}

// Raw mode: every key arrives at once as it is typed, nothing is echoed, and no
// key raises a signal (Ctrl+C is the byte 3, Ctrl+Z and Ctrl+\ are plain control
// keys), flow control is off (Ctrl+S, Ctrl+Q are keys), CR stays CR, and a break
// on the line is ignored. Output processing is off too: the bytes written to the
// screen already say exactly where the cursor goes (LF is written as CR LF where
// needed), so the terminal must not add a CR of its own.
static void enter_raw_mode() {
    if (!save_original_mode()) {
        return;
    }
    install_signal_handlers();
    raw_mode = original_mode;
    raw_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw_mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK);
    raw_mode.c_iflag |= IGNBRK;
    raw_mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw_mode.c_cc[VMIN] = 1;
    raw_mode.c_cc[VTIME] = 0;
    terminal_raw = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
}

// ---------------------------------------------------------------------------
// Reading the terminal

// How long the decoder waits for the rest of a sequence before a lone Esc counts as the Esc key.
constexpr int64_t ESC_TIMEOUT_NS = 40 * 1000 * 1000;

// The moment the last input bytes arrived.
static int64_t last_input_ns = 0;

// The monotonic clock in nanoseconds.
static int64_t clock_ns() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The terminal has gone away (hung up): nothing more can be typed, so the process
// ends as a hang-up ends it, after its mode is put back.
[[noreturn]] static void terminal_gone() {
    restore_terminal();
    signal(SIGHUP, SIG_DFL);
    raise(SIGHUP);
    _exit(128 + SIGHUP);
}

// Waits up to timeout_ms (-1: for ever) for standard input to have something to
// read; true when it has. An interrupting signal counts as nothing to read.
static bool wait_for_input(int timeout_ms) {
    struct pollfd entry;
    entry.fd = STDIN_FILENO;
    entry.events = POLLIN;
    entry.revents = 0;
    return poll(&entry, 1, timeout_ms) > 0;
}

// Reads what the terminal has sent so far into the decoder, without waiting, as
// much as the decoder has room for; then, when a lone Esc or a partial sequence
// has waited the Esc time-out, lets the decoder decide on it.
static void pump_terminal_input() {
    char buffer[256];
    for (int round = 0; round < 64; round++) {
        uint32_t room = vt_decoder_room();
        if (room == 0 || !wait_for_input(0)) {
            break;
        }
        ssize_t n = read(STDIN_FILENO, buffer, room < sizeof buffer ? room : sizeof buffer);
        if (n > 0) {
            vt_decoder_feed(buffer, static_cast<uint32_t>(n));
            last_input_ns = clock_ns();
        } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        } else if (terminal_raw != 0) {
            // End of input in raw mode, or an error: the terminal hung up.
            terminal_gone();
        } else {
            break;  // Ctrl+D on a line of its own while the terminal is in its own mode
        }
    }
    if (vt_decoder_has_partial() && clock_ns() - last_input_ns >= ESC_TIMEOUT_NS) {
        vt_decoder_flush();
    }
}

// ---------------------------------------------------------------------------
// Writing the terminal

// Writes all size bytes to fd, going on after partial writes and interruptions
// and waiting while a non-blocking descriptor is full; false on an error.
static bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd entry;
            entry.fd = fd;
            entry.events = POLLOUT;
            entry.revents = 0;
            poll(&entry, 1, -1);
        } else {
            return false;
        }
    }
    return true;
}

// Output gathered before it goes to the terminal in as few writes as possible.
static char out_buffer[4096];
static size_t out_length = 0;
static bool out_failed = false;

// Hands the gathered output to the terminal.
static void out_flush() {
    if (out_length > 0 && !out_failed && !write_all(STDOUT_FILENO, out_buffer, out_length)) {
        out_failed = true;
    }
    out_length = 0;
}

// Adds bytes to the gathered output.
static void out_put(const char* data, size_t size) {
    if (out_length + size > sizeof out_buffer) {
        out_flush();
    }
    memcpy(out_buffer + out_length, data, size);
    out_length += size;
}

// The glyphs the console shows for the control bytes 0x00..0x1F (code page 437),
// used for the bytes it does not act on, so that a control byte in a text takes
// one cell and never reaches the terminal as a command.
static const char* const CONTROL_GLYPHS[32] = {
    " ",  "\u263A", "\u263B", "\u2665", "\u2666", "\u2663", "\u2660", "\u2022",
    "\u25D8", "\u25CB", "\u25D9", "\u2642", "\u2640", "\u266A", "\u266B", "\u263C",
    "\u25BA", "\u25C4", "\u2195", "\u203C", "\u00B6", "\u00A7", "\u25AC", "\u21A8",
    "\u2191", "\u2193", "\u2192", "\u2190", "\u221F", "\u2194", "\u25B2", "\u25BC",
};

// The bytes that show byte b of the code page in one cell of the terminal: in a
// UTF-8 locale the Latin-1 character (U+0080..U+009F, control codes there, show
// as the replacement character), a glyph for a control byte; in other locales
// the byte itself, and "?" for a control byte. Returns the length.
static size_t cell_bytes(uint8_t b, char* out) {
    if (b < 0x20 || b == 0x7F) {
        if (!utf8_locale) {
            out[0] = '?';
            return 1;
        }
        const char* glyph = b == 0x7F ? "\u2302" : CONTROL_GLYPHS[b];
        size_t length = strlen(glyph);
        memcpy(out, glyph, length);
        return length;
    }
    if (b < 0x80 || !utf8_locale) {
        out[0] = static_cast<char>(b);
        return 1;
    }
    if (b < 0xA0) {
        memcpy(out, "\uFFFD", 3);
        return 3;
    }
    out[0] = static_cast<char>(0xC0 | (b >> 6));
    out[1] = static_cast<char>(0x80 | (b & 0x3F));
    return 2;
}

// The screen: its size, and the cursor cell as tracked from what was written.
static bool screen_known = false;
static int32_t screen_columns = 80;
static int32_t screen_rows = 24;
static int32_t tracked_x = 0;
static int32_t tracked_y = 0;

// ESC [ row ; column H (CUP): puts the terminal's cursor on a 1-based cell. It
// also clears a deferred wrap the terminal may hold.
static void out_cursor_position(int32_t x, int32_t y) {
    char text[32];
    int length = 0;
    text[length++] = '\x1b';
    text[length++] = '[';
    char digits[12];
    int count = 0;
    for (uint32_t v = static_cast<uint32_t>(y + 1); v > 0 || count == 0; v /= 10) {
        digits[count++] = static_cast<char>('0' + v % 10);
    }
    while (count > 0) {
        text[length++] = digits[--count];
    }
    text[length++] = ';';
    for (uint32_t v = static_cast<uint32_t>(x + 1); v > 0 || count == 0; v /= 10) {
        digits[count++] = static_cast<char>('0' + v % 10);
    }
    while (count > 0) {
        text[length++] = digits[--count];
    }
    text[length++] = 'H';
    out_put(text, static_cast<size_t>(length));
}

// The cursor goes down a row; on the last row the screen scrolls up instead.
static void track_line_feed() {
    if (tracked_y < screen_rows - 1) {
        tracked_y++;
    }
}

// Writes one cell and moves the cursor on as the console does: after the last
// column it stands on column 1 of the next row. The terminal would keep its
// cursor on the last column until the next character (deferred wrap), so CR LF
// takes it to where the console's cursor is, scrolling on the last row as the console does.
static void out_cell(const char* bytes, size_t size) {
    out_put(bytes, size);
    tracked_x++;
    if (tracked_x >= screen_columns) {
        out_put("\r\n", 2);
        tracked_x = 0;
        track_line_feed();
    }
}

// How long the terminal has to answer the cursor-position question: long enough
// for a slow remote link, paid in full only by a terminal that never answers.
constexpr int64_t CURSOR_REPORT_TIMEOUT_NS = 1000LL * 1000 * 1000;

// Reads the screen size and asks the terminal once where its cursor is: ESC [ 6 n
// (DSR), answered by ESC [ row ; column R (CPR). Keys typed meanwhile stay in the
// decoder, in order. The input must be in non-canonical mode without echo for the
// answer to arrive unseen; where raw mode is not yet on, such a mode is put on for
// the question alone. A terminal that does not answer in time gets its cursor put
// on column 1 of the last row, so that the tracking starts from a known cell.
static void learn_screen() {
    if (screen_known) {
        return;
    }
    screen_known = true;
    learn_terminal();
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        screen_columns = size.ws_col > 0x7FFF ? 0x7FFF : size.ws_col;
        screen_rows = size.ws_row > 0x7FFF ? 0x7FFF : size.ws_row;
    }
    if (!output_is_screen) {
        return;
    }
    struct termios question_mode;
    bool temporary = terminal_raw == 0 && save_original_mode();
    if (temporary) {
        question_mode = original_mode;
        question_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
        question_mode.c_cc[VMIN] = 1;
        question_mode.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &question_mode);
    }
    vt_decoder_expect_cursor_report();
    write_all(STDOUT_FILENO, "\x1b[6n", 4);
    int32_t row = 0;
    int32_t column = 0;
    bool answered = false;
    int64_t deadline = clock_ns() + CURSOR_REPORT_TIMEOUT_NS;
    while (!(answered = vt_decoder_take_cursor_report(&row, &column))) {
        int64_t left = deadline - clock_ns();
        if (left <= 0 || vt_decoder_room() == 0) {
            break;
        }
        if (wait_for_input(static_cast<int>((left + 999999) / 1000000))) {
            pump_terminal_input();
        }
    }
    if (temporary) {
        tcsetattr(STDIN_FILENO, TCSANOW, &original_mode);
    }
    if (answered) {
        tracked_x = column - 1 < screen_columns ? column - 1 : screen_columns - 1;
        tracked_y = row - 1 < screen_rows ? row - 1 : screen_rows - 1;
    } else {
        tracked_x = 0;
        tracked_y = screen_rows - 1;
    }
    // The reported cell again, as CUP: a terminal holding a deferred wrap (a
    // prompt that filled its row) now agrees that the next character goes there.
    out_cursor_position(tracked_x, tracked_y);
    out_flush();
    out_failed = false;
}

// ---------------------------------------------------------------------------
// Start and end of the process

// A standard descriptor the parent closed (as ">&-" does) would otherwise be the
// number the next open() returns, so the output file would become standard output
// and take the prompt and the echo. Each closed one is taken up by /dev/null opened
// for the other direction only, so that using it still fails as a closed one does:
// a write to standard output is a failed write (status 101), a read of standard
// input is an error that ends the input.
static void occupy_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        int spare = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (spare >= 0 && spare != fd) {
            dup2(spare, fd);
            close(spare);
        }
    }
}

// Keeps the arguments, finds the program's path, and lets a broken pipe on
// standard output be a failed write (status 101) rather than a silent death; a
// closed standard descriptor stays closed in effect.
void platform_start(int argc, char** argv) {
    occupy_closed_standard_descriptors();
    saved_argc = argc;
    saved_argv = argv;
    signal(SIGPIPE, SIG_IGN);
    find_module_path();
    facts_known = false;
    learn_terminal();
}

// Puts the terminal's mode back and ends the process at once.
void platform_exit(uint32_t status) {
    restore_terminal();
    _exit(static_cast<int>(status & 0xFF));
}

// ---------------------------------------------------------------------------
// Console

// True when standard input is a terminal that key events can be read from.
bool platform_console_open() {
    learn_terminal();
    return input_is_terminal;
}

// True when the cursor can be asked for and placed: standard input and output are the same terminal.
bool platform_output_is_console() {
    learn_terminal();
    return output_is_screen;
}

// Kept, not called: see control_handler.
void platform_set_control_handler(ControlHandler handler) { control_handler = handler; }

// Windows' bits for line input and echo, reported from the terminal's own flags.
constexpr uint32_t INPUT_MODE_LINE = 0x0002;
constexpr uint32_t INPUT_MODE_ECHO = 0x0004;

// The input mode as the console would report it: processed input while keys raise
// signals, line input and echo while the terminal has them. 0 without a terminal.
uint32_t platform_get_input_mode() {
    learn_terminal();
    struct termios current;
    if (!input_is_terminal || tcgetattr(STDIN_FILENO, &current) != 0) {
        return 0;
    }
    uint32_t mode = 0;
    if ((current.c_lflag & ISIG) != 0) {
        mode |= INPUT_MODE_PROCESSED;
    }
    if ((current.c_lflag & ICANON) != 0) {
        mode |= INPUT_MODE_LINE;
    }
    if ((current.c_lflag & ECHO) != 0) {
        mode |= INPUT_MODE_ECHO;
    }
    return mode;
}

// Without processed input the terminal goes into raw mode; with it, back to its own mode.
void platform_set_input_mode(uint32_t mode) {
    learn_terminal();
    if (!input_is_terminal) {
        return;
    }
    if ((mode & INPUT_MODE_PROCESSED) == 0) {
        enter_raw_mode();
    } else {
        restore_terminal();
    }
}

// The terminal's size and the tracked cursor cell; false where the cursor cannot be asked for.
bool platform_screen_info(ScreenInfo* info) {
    learn_terminal();
    if (!output_is_screen) {
        *info = ScreenInfo{};
        return false;
    }
    learn_screen();
    info->width = static_cast<int16_t>(screen_columns);
    info->height = static_cast<int16_t>(screen_rows);
    info->cursor_x = static_cast<int16_t>(tracked_x);
    info->cursor_y = static_cast<int16_t>(tracked_y);
    return true;
}

// Moves the terminal's cursor with CUP (ESC [ row ; column H) and tracks it.
void platform_set_cursor(int16_t x, int16_t y) {
    learn_terminal();
    if (!output_is_screen) {
        return;
    }
    learn_screen();
    int32_t column = x < 0 ? 0 : (x >= screen_columns ? screen_columns - 1 : x);
    int32_t row = y < 0 ? 0 : (y >= screen_rows ? screen_rows - 1 : y);
    // The terminal's cursor always stands on the tracked cell (no deferred wrap is
    // ever left pending), so a move to where it already is writes nothing.
    if (column == tracked_x && row == tracked_y) {
        return;
    }
    tracked_x = column;
    tracked_y = row;
    out_cursor_position(column, row);
    out_flush();
    out_failed = false;
}

// Reads what the terminal sent and returns how many decoded events wait.
uint32_t platform_input_event_count() {
    learn_terminal();
    if (!input_is_terminal) {
        return 0;
    }
    pump_terminal_input();
    return vt_decoder_event_count();
}

bool platform_read_input_event(InputEvent* event) { return vt_decoder_take(event); }

// With may_wait and no event decoded, sleeps in poll() until the terminal sends
// something, or, while a lone Esc or a partial sequence waits, until its time-out
// ends; otherwise returns at once. A signal cuts the wait short; the caller asks again.
void platform_pause(bool may_wait) {
    if (!may_wait) {
        return;
    }
    learn_terminal();
    if (!input_is_terminal) {
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
        return;
    }
    if (vt_decoder_event_count() > 0) {
        return;
    }
    int timeout_ms = -1;
    if (vt_decoder_has_partial()) {
        int64_t left = ESC_TIMEOUT_NS - (clock_ns() - last_input_ns);
        timeout_ms = left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
    }
    wait_for_input(timeout_ms);
}

// One read of standard input, repeated when a signal interrupts it.
int32_t platform_read_input_bytes(char* buffer, uint32_t size) {
    size_t wanted = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : size;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, buffer, wanted);
        if (n >= 0) {
            return static_cast<int32_t>(n);
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

// ---------------------------------------------------------------------------
// Standard output

// Writes the bytes to standard output; true only when every byte went out.
// To the screen (both ends the same terminal) the bytes are written as the console
// would show them, and the cursor is tracked: CR to column 1, LF to column 1 of
// the next row (written as CR LF), BS one cell back but not past column 1, BEL as
// it is, TAB as spaces to the next multiple of 8 (not past the row's end), every
// other byte one cell, with the console's wrap after the last column. To any
// other terminal the bytes are shown likewise but left to the terminal's own
// wrapping; to a file or a pipe they go as they are.
bool platform_write_stdout(const char* data, uint32_t size) {
    learn_terminal();
    if (!output_is_terminal) {
        return write_all(STDOUT_FILENO, data, size);
    }
    if (output_is_screen) {
        learn_screen();
    }
    out_failed = false;
    char cell[4];
    for (uint32_t i = 0; i < size; i++) {
        uint8_t b = static_cast<uint8_t>(data[i]);
        if (!output_is_screen) {
            bool passes = b == '\r' || b == '\n' || b == '\b' || b == '\a' || b == '\t';
            if (passes) {
                out_put(data + i, 1);
            } else {
                out_put(cell, cell_bytes(b, cell));
            }
            continue;
        }
        switch (b) {
            case '\r':
                out_put("\r", 1);
                tracked_x = 0;
                break;
            case '\n':
                // The console's LF also returns to column 1; after a CR the LF alone does.
                if (tracked_x == 0) {
                    out_put("\n", 1);
                } else {
                    out_put("\r\n", 2);
                }
                tracked_x = 0;
                track_line_feed();
                break;
            case '\b':
                if (tracked_x > 0) {
                    out_put("\b", 1);
                    tracked_x--;
                }
                break;
            case '\a':
                out_put("\a", 1);
                break;
            case '\t': {
                int32_t spaces = 8 - tracked_x % 8;
                if (spaces > screen_columns - tracked_x) {
                    spaces = screen_columns - tracked_x;
                }
                for (int32_t s = 0; s < spaces; s++) {
                    out_cell(" ", 1);
                }
                break;
            }
            default:
                out_cell(cell, cell_bytes(b, cell));
                break;
        }
    }
    out_flush();
    return !out_failed;
}

bool platform_stdout_is_char_device() {
    struct stat info;
    return fstat(STDOUT_FILENO, &info) == 0 && S_ISCHR(info.st_mode);
}

// ---------------------------------------------------------------------------
// Environment

// GetEnvironmentVariableA's answer from getenv: 0 for a missing or empty
// variable; the characters stored when the value and its zero fit; otherwise the
// size needed, the zero included, with nothing written.
uint32_t platform_get_env(const char* name, char* buffer, uint32_t size) {
    const char* value = getenv(name);
    if (value == nullptr || value[0] == '\0') {
        return 0;
    }
    size_t length = strlen(value);
    if (length >= 0xFFFFFFFFu) {
        return 0xFFFFFFFFu;
    }
    if (length < size) {
        memcpy(buffer, value, length + 1);
        return static_cast<uint32_t>(length);
    }
    return static_cast<uint32_t>(length + 1);
}

// ---------------------------------------------------------------------------
// Files

// The Windows error code for an errno value, as the program's failure numbers are built from them.
static uint32_t windows_error(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EISDIR:
            return 5;  // ERROR_ACCESS_DENIED
        case ENOENT:
            return 2;  // ERROR_FILE_NOT_FOUND
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        case ENOMEM:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case EROFS:
            return 19;  // ERROR_WRITE_PROTECT
        case ENXIO:
        case ENODEV:
            return 21;  // ERROR_NOT_READY
        case EBUSY:
        case ETXTBSY:
        case EWOULDBLOCK:
            return 32;  // ERROR_SHARING_VIOLATION
        case EEXIST:
            return 80;  // ERROR_FILE_EXISTS
        case EINVAL:
            return 87;  // ERROR_INVALID_PARAMETER
        case ENOSPC:
        case EDQUOT:
            return 112;  // ERROR_DISK_FULL
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        case EFBIG:
            return 223;  // ERROR_FILE_TOO_LARGE
        case EIO:
            return 1117;  // ERROR_IO_DEVICE
        case ELOOP:
            return 1921;  // ERROR_CANT_RESOLVE_FILENAME
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

// A file handle is the descriptor + 1, so that descriptor 0 is not "no file".
static int descriptor(FileHandle handle) { return static_cast<int>(handle) - 1; }

// Whether a file is the one standard input or standard output already has open (as
// with "-f out.bat >out.bat"). The process itself holds it, so it is shared as a file
// another process holds: emptying it would lose the input, and the prompt and echo
// written through standard output would land in the batch file around its line.
static bool is_standard_stream_file(const struct stat& info) {
    for (int fd = STDIN_FILENO; fd <= STDOUT_FILENO; ++fd) {
        struct stat standard;
        if (fstat(fd, &standard) == 0 && standard.st_dev == info.st_dev && standard.st_ino == info.st_ino) {
            return true;
        }
    }
    return false;
}

// Creates or empties name for writing, held without sharing: an exclusive
// advisory lock is taken before the file is emptied, so a file another holder
// has locked is left as it is and the create fails as a sharing violation (32),
// as it does for the file standard input or output is.
FileHandle platform_file_create(const char* name, uint32_t* error) {
    int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        // With O_CREAT a missing name is a missing folder on its path.
        *error = errno == ENOENT ? 3 : windows_error(errno);
        return 0;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        *error = 32;
        return 0;
    }
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && is_standard_stream_file(info)) {
        close(fd);
        *error = 32;
        return 0;
    }
    if (regular && ftruncate(fd, 0) != 0) {
        *error = windows_error(errno);
        close(fd);
        return 0;
    }
    return static_cast<FileHandle>(fd) + 1;
}

bool platform_file_is_char_device(FileHandle handle) {
    struct stat info;
    return fstat(descriptor(handle), &info) == 0 && S_ISCHR(info.st_mode);
}

bool platform_file_write(FileHandle handle, const char* data, uint32_t size) {
    return write_all(descriptor(handle), data, size);
}

void platform_file_close(FileHandle handle) { close(descriptor(handle)); }

// Whether the folder name lies in exists (the current folder for a bare name).
static bool parent_folder_exists(const char* name) {
    const char* slash = strrchr(name, '/');
    if (slash == nullptr) {
        return true;
    }
    char folder[PATH_MAX];
    size_t length = slash == name ? 1 : static_cast<size_t>(slash - name);
    if (length >= sizeof folder) {
        return false;
    }
    memcpy(folder, name, length);
    folder[length] = '\0';
    struct stat info;
    return stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

// Deletes name. A missing file is ERROR_FILE_NOT_FOUND (2), a missing folder on
// its path ERROR_PATH_NOT_FOUND (3), as the two are told apart on Windows.
bool platform_file_delete(const char* name, uint32_t* error) {
    if (unlink(name) != 0) {
        int failure = errno;
        *error = failure == ENOENT && !parent_folder_exists(name) ? 3 : windows_error(failure);
        return false;
    }
    return true;
}

bool platform_uses_backslash_paths() { return false; }

// ---------------------------------------------------------------------------
// Command line

// The arguments arrive split by the shell; joining and splitting them again would break their quoting.
const char* platform_command_line() { return nullptr; }

int32_t platform_argument_count() { return saved_argc; }

// Argument 0 is the program's full path; the others as the shell gave them.
const char* platform_argument(int32_t index) {
    if (index == 0) {
        return module_path_text;
    }
    if (index < 0 || index >= saved_argc || saved_argv[index] == nullptr) {
        return "";
    }
    return saved_argv[index];
}

void platform_module_path(char* buffer, uint32_t size) {
    if (size == 0) {
        return;
    }
    size_t length = strlen(module_path_text);
    if (length > size - 1) {
        length = size - 1;
    }
    memcpy(buffer, module_path_text, length);
    buffer[length] = '\0';
}

// ---------------------------------------------------------------------------
// Diagnostics

// Return addresses from backtrace(), skipping this procedure's own frame besides
// the frames the caller asked to skip.
int32_t platform_stack_trace(void** frames, int32_t max, int32_t skip) {
    static void* trace[128];
    if (max <= 0) {
        return 0;
    }
    int32_t drop = (skip > 0 ? skip : 0) + 1;
    int32_t wanted = drop + max;
    if (wanted > 128) {
        wanted = 128;
    }
    int32_t count = backtrace(trace, wanted);
    int32_t stored = 0;
    for (int32_t i = drop; i < count && stored < max; i++) {
        frames[stored++] = trace[i];
    }
    return stored;
}

// The distance of address from the start of the image it lies in (dladdr's base),
// which is what addr2line takes for a position-independent program.
uint32_t platform_image_offset(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    }
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address) -
                                 reinterpret_cast<uintptr_t>(info.dli_fbase));
}
