// help.h - the help screen and the checks of the settings after option scanning.
#pragma once

// Shows the help when the first argument is exactly "/?".
void help_test();

// Writes the help text to standard output and ends the process with status 0.
[[noreturn]] void show_help();

// Refuses a missing variable name, a missing output file name and a maximum length
// outside 1 to MAX_INPUT_LENGTH (status 3); clears numeric_only when mask_input is set.
void validate_settings();
