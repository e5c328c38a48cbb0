// output.cpp - standard output and the shared record of input/output failures.
#include "console/output.h"

#include "console/console.h"
#include "platform/platform.h"

#include <cstring>

// The failure number recorded by the first failing write, close or delete; 0 when none.
static uint16_t recorded_failure = 0;

// Records number unless a failure is already recorded, so the first failure is the one reported.
void record_failure(uint16_t number) {
    if (recorded_failure == 0) {
        recorded_failure = number;
    }
}

bool failure_recorded() { return recorded_failure != 0; }

uint16_t take_failure() {
    uint16_t number = recorded_failure;
    recorded_failure = 0;
    return number;
}

// Hands the bytes to the system in one write. A failed or short write records
// FAILURE_WRITE; while a failure is recorded nothing is written at all.
void write_stdout(const char* data, uint32_t size) {
    if (failure_recorded() || size == 0) {
        return;
    }
    if (!platform_write_stdout(data, size)) {
        record_failure(FAILURE_WRITE);
        return;
    }
    console_note_output(data, size);
}

void write_stdout_text(const char* text) {
    write_stdout(text, static_cast<uint32_t>(std::strlen(text)));
}

// The check after each output statement: a recorded failure ends the process with its report.
void check_output() {
    if (failure_recorded()) {
        report_io_failure(take_failure());
    }
}
