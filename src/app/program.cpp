// program.cpp - the main sequence: settings from the command line, the environment
// value, the edit, and the output batch file; the settings and value live here.
#include "app/program.h"

#include "app/arguments.h"
#include "app/batch_file.h"
#include "app/help.h"
#include "app/settings.h"
#include "console/console.h"
#include "console/output.h"
#include "editor/editor.h"
#include "platform/platform.h"

#include <cstring>

Settings settings;
char value_buffer[TEXT_BUFFER_SIZE];

void start_up() {
    split_command_line();
    reset_option_scanner();
    console_init();
}

[[noreturn]] void run_program() {
    start_up();
    parse_command_line();
    validate_settings();
    if (!open_batch_file()) {
        exit_with_error("Cannot open file for output", 3);
    }
    edit_and_write();
    platform_exit(0);
}

// Copies an option value (at most 255 characters) into a settings field.
static void store_value(char* field, const char* value) {
    std::strncpy(field, value, MAX_ARGUMENT_LENGTH);
    field[MAX_ARGUMENT_LENGTH] = '\0';
}

// Stores the variable name with the letters a to z turned into capitals; every
// other byte, those from 128 up included, stays as it is.
static void store_var_name(const char* value) {
    store_value(settings.var_name, value);
    for (char* p = settings.var_name; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') {
            *p = static_cast<char>(*p - 'a' + 'A');
        }
    }
}

// Reads the variable into value_buffer. A value longer than MAX_INPUT_LENGTH is not
// taken at all: editing a cut copy and writing it back would shorten the variable
// silently, so the edit line begins empty instead.
static void read_environment_value() {
    char temporary[MAX_INPUT_LENGTH + 1];
    uint32_t length = platform_get_env(settings.var_name, temporary, sizeof temporary);
    if (length == 0 || length > static_cast<uint32_t>(MAX_INPUT_LENGTH)) {
        value_buffer[0] = '\0';
        return;
    }
    std::memcpy(value_buffer, temporary, length);
    value_buffer[length] = '\0';
}

void parse_command_line() {
    help_test();
    std::memset(&settings, 0, sizeof settings);
    settings.max_length = MAX_INPUT_LENGTH;
    for (;;) {
        char letter = next_option(OPTION_SPEC);
        if (letter == END_OF_OPTIONS) {
            break;
        }
        int32_t number = 0;
        switch (letter) {
            case 'b': case 'B': settings.cursor_at_start = true; break;
            case 'f': case 'F': store_value(settings.output_file, option_value()); break;
            case 'h': case 'H': show_help();
            case 'l': case 'L':
                parse_integer(option_value(), &number);  // 0 when it is no number
                settings.max_length = number;
                break;
            case 'm': case 'M': settings.mask_input = true; break;
            case 'n': case 'N': settings.numeric_only = true; break;
            case 'o': case 'O': settings.overtype_start = true; break;
            case 'p': case 'P': store_value(settings.prompt, option_value()); break;
            case 'u': case 'U': settings.upper_case = true; break;
            case 'v': case 'V': store_var_name(option_value()); break;
            default: break;  // "?": an unknown letter or a missing value is passed over
        }
    }
    read_environment_value();
}

void edit_and_write() {
    write_stdout_text(settings.prompt);
    check_output();
    bool accepted = edit_line(value_buffer, settings.max_length, settings.mask_input,
                              settings.upper_case, settings.numeric_only,
                              settings.overtype_start, settings.cursor_at_start);
    if (!accepted || value_buffer[0] == '\0') {
        close_batch_file();
        check_output();
        delete_batch_file();
        check_output();
        platform_exit(accepted ? 2 : 1);
    }
    write_batch_line(settings.var_name, value_buffer);
    check_output();
    close_batch_file();
    check_output();
}

void write_stdout_line(const char* text) {
    char line[MAX_ARGUMENT_LENGTH + 3];
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(MAX_ARGUMENT_LENGTH)) {
        length = MAX_ARGUMENT_LENGTH;
    }
    std::memcpy(line, text, length);
    line[length] = '\r';
    line[length + 1] = '\n';
    write_stdout(line, static_cast<uint32_t>(length + 2));
    check_output();
}

void exit_with_error(const char* message, uint8_t status) {
    write_stdout_line(message);
    write_stdout_line("Use -h for help");
    platform_exit(status);
}
