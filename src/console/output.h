// output.h - standard output for the whole program, and the record of input/output
// failures shared by standard output and the output batch file.
//
// A failing write, close or delete records a failure number instead of ending the
// process; while a number is recorded further writes, closes and deletes do
// nothing. check_output, run after each output statement, then ends the process
// with the failure report.
#pragma once

#include <cstdint>

// The failure number of a write that fails or is short.
constexpr uint16_t FAILURE_WRITE = 101;

// Writes size bytes to standard output and hands them to the system at once.
void write_stdout(const char* data, uint32_t size);

// Writes a zero-ended text to standard output, handed over at once.
void write_stdout_text(const char* text);

// Records a failure number unless one is already recorded.
void record_failure(uint16_t number);

// Whether a failure number is recorded.
bool failure_recorded();

// Takes the recorded failure number away and returns it (0 when none).
uint16_t take_failure();

// When a failure number is recorded: clears it and ends the process with the failure report.
void check_output();

// Writes the failure report for number to standard output and ends the process with
// number modulo 256 as its status. Defined with the main program.
[[noreturn]] void report_io_failure(uint16_t number);
