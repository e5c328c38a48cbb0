// key_viewer.cpp - a small program on the terminal back-end that the pseudo-terminal tests drive.
//
// It starts as Kestin does (platform_start, console_init), says "ready WxH" and
// then carries out its arguments in order, reporting on standard error, which the
// tests connect to a pipe of their own so that reports never reach the screen:
//   text:BYTES   writes BYTES to standard output (\xNN stands for a byte, \\ for \)
//   move:C,R     move_cursor_to(C, R)
//   where        reports "at C,R" (cursor_column, cursor_row)
//   key          reads one key and reports its bytes ("key 0 72", "key 97")
//   keys         reports every key as it comes ("key ..."), until Ctrl+C
//   edit:TEXT    runs edit_line on TEXT and reports "line 1 RESULT" or "line 0 "
//   exit:N       ends the process with status N through platform_exit
//   crash        ends by an abort, to check that the terminal is put back then too
// After the last argument it ends with status 0.
#include "console/console.h"
#include "console/output.h"
#include "editor/editor.h"
#include "platform/platform.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes a report line to standard error.
void report(const std::string& line) {
    std::string text = line + "\n";
    ssize_t ignored = write(2, text.data(), text.size());
    (void)ignored;
}

// Turns \xNN and \\ into the bytes they stand for.
std::string unescape(const char* text) {
    std::string bytes;
    for (const char* p = text; *p != '\0'; p++) {
        if (p[0] == '\\' && p[1] == 'x' && p[2] != '\0' && p[3] != '\0') {
            char hex[3] = {p[2], p[3], '\0'};
            bytes.push_back(static_cast<char>(std::strtoul(hex, nullptr, 16)));
            p += 3;
        } else if (p[0] == '\\' && p[1] == '\\') {
            bytes.push_back('\\');
            p++;
        } else {
            bytes.push_back(*p);
        }
    }
    return bytes;
}

// Reads one key: a character byte, or 0 and its extended code.
std::string read_one_key() {
    uint8_t first = read_key();
    std::string line = "key " + std::to_string(first);
    if (first == 0) {
        line += " " + std::to_string(read_key());
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    platform_start(argc, argv);
    console_init();
    report("ready " + std::to_string(screen_width()) + "x" + std::to_string(screen_height()));
    for (int i = 1; i < argc; i++) {
        const char* op = argv[i];
        if (std::strncmp(op, "text:", 5) == 0) {
            std::string bytes = unescape(op + 5);
            write_stdout(bytes.data(), static_cast<uint32_t>(bytes.size()));
            report(failure_recorded() ? "write failed" : "written");
        } else if (std::strncmp(op, "move:", 5) == 0) {
            int column = 0;
            int row = 0;
            std::sscanf(op + 5, "%d,%d", &column, &row);
            move_cursor_to(column, row);
        } else if (std::strcmp(op, "where") == 0) {
            report("at " + std::to_string(cursor_column()) + "," + std::to_string(cursor_row()));
        } else if (std::strcmp(op, "key") == 0) {
            report(read_one_key());
        } else if (std::strcmp(op, "keys") == 0) {
            for (;;) {
                std::string line = read_one_key();
                report(line);
                if (line == "key 3") {
                    break;
                }
            }
        } else if (std::strncmp(op, "edit:", 5) == 0) {
            static char buffer[TEXT_BUFFER_SIZE];
            std::string initial = unescape(op + 5);
            std::snprintf(buffer, sizeof buffer, "%s", initial.c_str());
            bool accepted = edit_line(buffer, 2040, false, false, false, false, false);
            report(std::string("line ") + (accepted ? "1 " : "0 ") + buffer);
        } else if (std::strncmp(op, "exit:", 5) == 0) {
            platform_exit(static_cast<uint32_t>(std::atoi(op + 5)));
        } else if (std::strcmp(op, "crash") == 0) {
            std::abort();
        }
    }
    platform_exit(0);
}
