// batch_file.cpp - the output batch file: its handle, the name it was opened with,
// and its 256-byte write buffer, module state from the open to the close.
#include "app/batch_file.h"

#include "app/failure.h"
#include "app/settings.h"
#include "console/output.h"
#include "platform/platform.h"

#include <cstring>

// Size of the write buffer; a full buffer is handed to the system in one write.
constexpr uint32_t BATCH_BUFFER_SIZE = 256;

// The open output batch file.
struct BatchFile {
    FileHandle handle;                      // 0 when no file is open
    bool is_char_device;                    // every write statement is handed over at once
    char name[MAX_ARGUMENT_LENGTH + 1];     // the name as opened
    char buffer[BATCH_BUFFER_SIZE];         // bytes not yet handed to the system
    uint32_t buffered;                      // how many bytes the buffer holds
};

static BatchFile batch_file;

// Hands the buffered bytes to the system in one write. A failed or short write
// records FAILURE_WRITE; what was handed over before stays in the file.
static void flush_buffer() {
    if (batch_file.buffered == 0 || failure_recorded()) {
        return;
    }
    uint32_t size = batch_file.buffered;
    batch_file.buffered = 0;
    if (!platform_file_write(batch_file.handle, batch_file.buffer, size)) {
        record_failure(FAILURE_WRITE);
    }
}

// Adds bytes to the buffer, handing each full buffer to the system.
static void append(const char* data, uint32_t size) {
    while (size > 0 && !failure_recorded()) {
        uint32_t room = BATCH_BUFFER_SIZE - batch_file.buffered;
        uint32_t part = size < room ? size : room;
        std::memcpy(batch_file.buffer + batch_file.buffered, data, part);
        batch_file.buffered += part;
        data += part;
        size -= part;
        if (batch_file.buffered == BATCH_BUFFER_SIZE) {
            flush_buffer();
        }
    }
}

static void append_text(const char* text) {
    append(text, static_cast<uint32_t>(std::strlen(text)));
}

// The name is output_file as typed; where "\" separates directories, every "/"
// becomes "\" so that either separator can be typed.
bool open_batch_file() {
    std::strncpy(batch_file.name, settings.output_file, MAX_ARGUMENT_LENGTH);
    batch_file.name[MAX_ARGUMENT_LENGTH] = '\0';
    if (platform_uses_backslash_paths()) {
        for (char* p = batch_file.name; *p != '\0'; ++p) {
            if (*p == '/') {
                *p = '\\';
            }
        }
    }
    uint32_t error = 0;
    batch_file.handle = platform_file_create(batch_file.name, &error);
    batch_file.buffered = 0;
    if (batch_file.handle == 0) {
        // The caller reports a failed create itself, so its number is not kept.
        return false;
    }
    batch_file.is_char_device = platform_file_is_char_device(batch_file.handle);
    return true;
}

// One write statement: the line collects in the buffer, and a character device
// receives it at once.
void write_batch_line(const char* name, const char* value) {
    if (failure_recorded()) {
        return;
    }
    append_text("SET ");
    append_text(name);
    append_text("=");
    append_text(value);
    append_text("\r\n");
    if (batch_file.is_char_device) {
        flush_buffer();
    }
}

// Hands over the rest and closes the handle, whose result is not looked at. A
// character device's handle stays open: the program did not create the device.
void close_batch_file() {
    if (failure_recorded() || batch_file.handle == 0) {
        return;
    }
    flush_buffer();
    if (!batch_file.is_char_device) {
        platform_file_close(batch_file.handle);
    }
    batch_file.handle = 0;
}

// Deletes the file. A character device (a terminal, /dev/null, CON) is not a file
// the program made, so it is left in place rather than removed.
void delete_batch_file() {
    if (failure_recorded() || batch_file.is_char_device) {
        return;
    }
    uint32_t error = 0;
    if (!platform_file_delete(batch_file.name, &error)) {
        record_failure(failure_number(error));
    }
}
