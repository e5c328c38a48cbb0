// arguments.h - the command line as numbered arguments, the option scanner that
// delivers option letters one at a time, and the conversion of a text to a number.
#pragma once

#include <cstdint>

// The longest text handed out for one argument or one option value.
constexpr int32_t MAX_ARGUMENT_LENGTH = 255;

// One argument or option value as handed out: at most 255 characters and the zero byte.
struct ArgumentText {
    char text[MAX_ARGUMENT_LENGTH + 1];
};

// What next_option returns when no option is left: the character of code 255.
constexpr char END_OF_OPTIONS = static_cast<char>(255);

// Builds the argument list once at start-up: argument 0 is the program's full path,
// then the arguments of the process command line in their order.
void split_command_line();

// How many arguments the list holds, argument 0 included.
int32_t argument_count();

// Argument i cut to its first 255 characters; the empty text when i is outside the list.
ArgumentText argument(int32_t i);

// Sets the option scanner to begin with argument 1, between arguments.
void reset_option_scanner();

// Delivers the next option letter of spec ("?" for an unknown letter or a missing
// value, END_OF_OPTIONS when none is left). In spec a letter followed by ":" takes a
// value, which option_value then holds.
char next_option(const char* spec);

// The value belonging to the option letter next_option returned last; empty for a
// letter without a value.
const char* option_value();

// Converts text to a signed 32-bit number: blanks and TABs first, an optional sign,
// "$" for hexadecimal or "%" for binary digits, then digits to the end. Returns false
// with *value 0 when the text is no such number or the number is out of range.
bool parse_integer(const char* text, int32_t* value);
