// settings.h - the main program's settings from the command line, the buffer the
// environment value is edited in, and the limits they share.
#pragma once

#include "app/arguments.h"
#include "editor/editor.h"

#include <cstdint>

// The largest maximum length of the edited value, and the most characters taken
// from the environment variable.
constexpr int32_t MAX_INPUT_LENGTH = 2040;

// The option letters the program knows, in both cases; a letter followed by ":" takes a value.
constexpr const char* OPTION_SPEC = "BbF:f:HhL:l:MmNnOoP:p:UuV:v:";

// The command-line settings, filled by parse_command_line and checked by validate_settings.
struct Settings {
    char var_name[TEXT_BUFFER_SIZE];        // -v: the variable's name in capitals
    char output_file[MAX_ARGUMENT_LENGTH + 1];  // -f: the output batch file, as typed
    char prompt[MAX_ARGUMENT_LENGTH + 1];   // -p: written in front of the edit line
    int32_t max_length;                     // -l: most characters of the value; 0 when invalid
    bool upper_case;                        // -u: letters a to z become capitals
    bool mask_input;                        // -m: typed characters show as asterisks
    bool numeric_only;                      // -n: only digits can be typed
    bool overtype_start;                    // -o: editing starts in overtype mode
    bool cursor_at_start;                   // -b: the cursor starts before the value
};

// The one Settings record of the run, and the value being edited.
extern Settings settings;
extern char value_buffer[TEXT_BUFFER_SIZE];
