// help.cpp - the help test, the help text, and the checks of the settings.
#include "app/help.h"

#include "app/arguments.h"
#include "app/program.h"
#include "app/settings.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

void help_test() {
    if (std::strcmp(argument(1).text, "/?") == 0) {
        show_help();
    }
}

// The help, one write per line; the -l line is built so that it shows MAX_INPUT_LENGTH.
void show_help() {
    static const char* const lines_before_length[] = {
        "Kestin * Version 6 * an editable input line for batch files",
        "",
        "Usage: kestin -v var -f filename [-l length] [-p prompt] [-b] [-m] [-n] [-o]",
        "              [-u]",
        "",
        "  -v var       specifies the environment variable name to create/edit",
        "  -f filename  specifies the name of the output batch file",
    };
    static const char* const lines_after_length[] = {
        "  -p prompt    the prompt to display (enclose in quotes if needed)",
        "  -b           position cursor at beginning of input line, instead of the end",
        "  -m           mask input (typed characters appear as asterisks)",
        "  -n           numeric input only (0-9)",
        "  -o           start editing in overtype mode rather than insert mode",
        "  -u           upper case input (all typed characters forced to upper case)",
        "",
        "Places the contents of the specified environment variable onto the input line",
        "for editing. Then the output batch file is created in the following form:",
        "  SET varname=value",
        "",
        "Exit codes:",
        "  1  User pressed Ctrl+C to abort the input",
        "  2  Nothing entered on the input line",
        "  3  Error on the command line",
    };
    for (const char* line : lines_before_length) {
        write_stdout_line(line);
    }
    char length_line[96];
    std::snprintf(length_line, sizeof length_line,
                  "  -l length    limits the length of the input string (range=1 to %d)",
                  static_cast<int>(MAX_INPUT_LENGTH));
    write_stdout_line(length_line);
    for (const char* line : lines_after_length) {
        write_stdout_line(line);
    }
    platform_exit(0);
}

void validate_settings() {
    if (settings.var_name[0] == '\0') {
        exit_with_error("Environment variable name not specified", 3);
    }
    if (settings.output_file[0] == '\0') {
        exit_with_error("Output file name not specified", 3);
    }
    if (settings.max_length < 1 || settings.max_length > MAX_INPUT_LENGTH) {
        exit_with_error("Invalid maximum length specified", 3);
    }
    // Masked input shows no digits to check, so it takes any character.
    if (settings.mask_input) {
        settings.numeric_only = false;
    }
}
