// fuzz_program.cpp - fuzz target: whole runs of the program on the scripted console
// with arbitrary arguments, environment value, keys and one planned failure.
//
// What must hold after every run: it ends through the process end (the main
// sequence never returns); status 0 means the help was shown or the output file
// holds exactly one line "SET name=value" CR LF with the name as stored, a
// non-empty value within the maximum length and the filters, and the file closed;
// 1 and 2 mean the file is gone; 3 means a refusal on standard output and an
// existing file untouched unless the create was what failed; any other status only
// comes from a planned failure, with the failure report on standard output unless
// standard output itself kept failing. Nothing crashes or reads out of bounds.
//
// Input:
//   0  flags: bit 0 keys as console events (else an input stream), bit 1 standard
//      output a console, bit 2 an output file exists before the run, bit 3 "/"
//      stays "/" in file names, bit 4 a failure is planned, bit 5 it is sticky
//   1  the operation that fails (modulo 6), 2 the call that fails first (1-based),
//   3  the error code (an index into ERRORS)
//   4  the number of arguments n (modulo 12); then n arguments ended by zero bytes,
//      then the variable's value ended by a zero byte, then the keys.
#include "app/failure.h"
#include "app/program.h"
#include "app/settings.h"
#include "console/keys.h"
#include "console/output.h"
#include "platform/scripted/scripted_console.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const uint32_t ERRORS[] = {5, 32, 19, 112, 2, 3, 0, 0x10005, 256, 1392};

[[noreturn]] void fail(const char* what, int status) {
    std::fprintf(stderr, "fuzz_program: %s (status %d)\nstdout: %s\n", what, status,
                 scripted_stdout().substr(0, 400).c_str());
    std::abort();
}

// Takes the text up to the next zero byte (or the end) and moves past it.
std::string take_text(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* start = p;
    while (p < end && *p != 0) {
        ++p;
    }
    std::string text(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    if (p < end) {
        ++p;
    }
    return text;
}

void push_keys_as_events(const std::string& keys) {
    for (size_t i = 0; i < keys.size(); ++i) {
        InputEvent event{};
        event.event_type = EVENT_KEY;
        event.key.key_down = true;
        event.key.repeat_count = 1;
        event.key.virtual_key = 0x41;
        uint8_t byte = static_cast<uint8_t>(keys[i]);
        if (byte == 0 && i + 1 < keys.size()) {
            // A key without a character: the next byte is its scan code.
            event.key.scan_code = static_cast<uint8_t>(keys[++i]);
            event.key.control_state = ENHANCED_KEY;
        } else {
            event.key.character = byte;
            event.key.control_state = byte == 3 ? uint32_t{LEFT_CTRL_PRESSED} : 0u;
        }
        scripted_push_late_event(event);
        event.key.key_down = false;
        scripted_push_late_event(event);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    const uint8_t flags = data[0];
    const bool console_keys = (flags & 1) != 0;
    const bool console_output = (flags & 2) != 0;
    const bool existing = (flags & 4) != 0;
    const bool planned = (flags & 16) != 0;
    const bool sticky = (flags & 32) != 0;
    const auto op = static_cast<ScriptedOp>(data[1] % 6);
    const int nth = 1 + data[2] % 64;
    const uint32_t error = ERRORS[data[3] % (sizeof ERRORS / sizeof ERRORS[0])];
    const int count = data[4] % 12;

    const uint8_t* p = data + 5;
    const uint8_t* end = data + size;
    std::vector<std::string> arguments{"kestin"};
    for (int i = 0; i < count; ++i) {
        arguments.push_back(take_text(p, end));
    }
    const std::string value = take_text(p, end);
    const std::string keys(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));

    scripted_reset();
    take_failure();
    alt_code_active = false;
    alt_code_value = 0;
    scripted_set_input_is_console(console_keys);
    scripted_set_output_is_console(console_output);
    scripted_set_backslash_paths((flags & 8) == 0);
    scripted_set_arguments(arguments);
    scripted_set_env("NAME", value.c_str());
    // Whatever name -f gives, it is the file looked at afterwards; a name taken from
    // the arguments may also name an existing file.
    const std::string old = "old\r\n";
    if (existing) {
        for (const std::string& a : arguments) {
            scripted_put_file(a, old);
        }
    }
    if (console_keys) {
        push_keys_as_events(keys);
    } else {
        scripted_set_input_bytes(keys);
    }
    if (planned) {
        scripted_fail(op, nth, error, sticky);
    }

    const int status = scripted_run(run_program);
    const std::string& output = scripted_stdout();
    if (status == -1) {
        fail("the main sequence returned", status);
    }
    if (status == SCRIPTED_STARVED) {
        // Waiting for a key is right only while keys are missing on the console.
        if (!console_keys || scripted_pending_events() != 0) {
            fail("waited for a key that will not come", status);
        }
        return 0;
    }
    const bool failed_op = planned && scripted_call_count(op) >= nth;
    // The name the run opened the file by: -f's value as stored, "/" turned to "\".
    std::string name = settings.output_file;
    if ((flags & 8) == 0) {
        for (char& c : name) {
            c = c == '/' ? '\\' : c;
        }
    }
    // A failure report: only after a planned failure, and the status is its number
    // modulo 256, never 0.
    // The report ends the output; with the scripted console's fake stack it is
    // exactly these lines (typed text may hold "Runtime error" too).
    size_t report = output.rfind("Runtime error ");
    unsigned long number = 0;
    if (report != std::string::npos) {
        number = std::strtoul(output.c_str() + report + 14, nullptr, 10);
        char lines[160];
        std::snprintf(lines, sizeof lines,
                      "Runtime error %lu at 0x00001234\r\n  0x00001234\r\n  0x00001100\r\n"
                      "  0x00001200\r\n  0x00001300\r\n\r\n", number);
        if (output.compare(report, std::string::npos, lines) != 0) {
            report = std::string::npos;
        }
    }
    if (report != std::string::npos) {
        if (!failed_op) {
            fail("a failure report without a failure", status);
        }
        int expected = number % 256 != 0 ? static_cast<int>(number % 256) : 255;
        if (status != expected) {
            fail("the status is not the reported failure's number", status);
        }
        if (op == ScriptedOp::stdout_write && number != 101) {
            fail("a failed write to standard output reported as another failure", status);
        }
        return 0;
    }
    if (failed_op && sticky && op == ScriptedOp::stdout_write) {
        // Standard output kept failing, so the report is lost; the status remains.
        if (status != 101) {
            fail("a failed write to standard output did not end with 101", status);
        }
        return 0;
    }
    const bool help = output.rfind("Kestin * Version", 0) == 0;
    switch (status) {
    case 0: {
        if (help) {
            break;
        }
        std::string line = scripted_file_contents(name);
        std::string head = std::string("SET ") + settings.var_name + "=";
        if (line.size() < head.size() + 3 || line.compare(0, head.size(), head) != 0 ||
            line.compare(line.size() - 2, 2, "\r\n") != 0) {
            fail("status 0 without the SET line", status);
        }
        std::string written = line.substr(head.size(), line.size() - head.size() - 2);
        if (written.size() > static_cast<size_t>(settings.max_length) ||
            written.size() > static_cast<size_t>(MAX_INPUT_LENGTH)) {
            fail("status 0 with a value beyond the maximum length", status);
        }
        for (char c : written) {
            if ((settings.numeric_only && (c < '0' || c > '9')) ||
                (settings.upper_case && c >= 'a' && c <= 'z')) {
                fail("status 0 with a value that breaks a filter", status);
            }
        }
        if (scripted_file_is_open(name)) {
            // Only a close that failed leaves it open; the line was handed over before.
            if (!(failed_op && op == ScriptedOp::file_close)) {
                fail("status 0 with the file still open", status);
            }
        }
        break;
    }
    case 1:
    case 2:
        if (scripted_file_exists(name)) {
            fail("status 1 or 2 and the file still exists", status);
        }
        break;
    case 3:
        if (output.size() < 17 || output.compare(output.size() - 17, 17, "Use -h for help\r\n") != 0) {
            fail("status 3 without the refusal", status);
        }
        if (existing && std::find(arguments.begin(), arguments.end(), name) != arguments.end() &&
            scripted_file_contents(name) != old) {
            fail("a refusal changed an existing file", status);
        }
        break;
    default:
        fail("a status without a failure report", status);
    }
    if (failed_op && op == ScriptedOp::stdout_write) {
        fail("a failed write to standard output did not end the run with its report", status);
    }
    return 0;
}
