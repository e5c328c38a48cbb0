// program.h - the main sequence of the line-input tool and the pieces it is made of.
#pragma once

#include <cstdint>

// The start-up before the main sequence: the argument list, the option scanner at
// argument 1, and the console.
void start_up();

// Start-up, then the main sequence; ends the process with its exit status.
[[noreturn]] void run_program();

// The help test, the defaults of settings, the options, and the environment value
// read into value_buffer. Ends the process when help is asked for.
void parse_command_line();

// Writes the prompt, lets the user edit value_buffer, and writes the output batch
// file; returns only after the line has been written and the file closed, and
// otherwise ends the process with status 1 (Ctrl+C) or 2 (empty line).
void edit_and_write();

// Writes text (at most 255 characters) and CR LF to standard output in one write,
// then runs the output check.
void write_stdout_line(const char* text);

// Writes message and the line "Use -h for help" to standard output, then ends the
// process with status.
[[noreturn]] void exit_with_error(const char* message, uint8_t status);
