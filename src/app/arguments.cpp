// arguments.cpp - the argument list, the option scanner and parse_integer; module
// state of the command line lives here and nowhere else.
#include "app/arguments.h"

#include "platform/platform.h"

#include <cstring>

// The process command line when the system hands it over as one text (Windows);
// nullptr when the arguments arrive already split (POSIX argv).
static const char* command_text = nullptr;

// How many arguments the list holds, argument 0 included (always at least 1).
static int32_t argument_total = 1;

// Argument 0: the full path of the program's file.
static char module_path[MAX_ARGUMENT_LENGTH + 1];

// The scanner: the index of the argument examined next, and the 1-based position of
// the next option letter inside it (0 between arguments).
static int32_t next_argument = 1;
static int32_t letter_position = 0;

// The value belonging to the option letter returned last.
static char current_value[MAX_ARGUMENT_LENGTH + 1];

// Whether c separates arguments on the command line.
static bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Finds the next item of the command line from *cursor and moves *cursor past it and
// past the character that ended it. A double or single quote as the item's first
// character opens a quoted item that runs to the matching quote or the end of the
// text; there is no escape character. Returns false when only separators are left.
static bool next_item(const char** cursor, const char** start, size_t* length) {
    const char* p = *cursor;
    while (is_separator(*p)) {
        ++p;
    }
    if (*p == '\0') {
        *cursor = p;
        return false;
    }
    if (*p == '"' || *p == '\'') {
        char quote = *p++;
        *start = p;
        while (*p != '\0' && *p != quote) {
            ++p;
        }
    } else {
        *start = p;
        while (*p != '\0' && !is_separator(*p)) {
            ++p;
        }
    }
    *length = static_cast<size_t>(p - *start);
    if (*p != '\0') {
        ++p;  // the closing quote or the separator
    }
    *cursor = p;
    return true;
}

// Copies at most MAX_ARGUMENT_LENGTH characters of source into an ArgumentText.
static ArgumentText cut_text(const char* source, size_t length) {
    ArgumentText result;
    if (length > static_cast<size_t>(MAX_ARGUMENT_LENGTH)) {
        length = MAX_ARGUMENT_LENGTH;
    }
    std::memcpy(result.text, source, length);
    result.text[length] = '\0';
    return result;
}

// Records where the arguments come from and counts them. The command line text is
// not copied: the system keeps it for the life of the process, and argument() finds
// each item again by scanning, so arguments of any number and length are kept whole.
void split_command_line() {
    platform_module_path(module_path, sizeof module_path);
    command_text = platform_command_line();
    if (command_text == nullptr) {
        int32_t count = platform_argument_count();
        argument_total = count > 1 ? count : 1;
        return;
    }
    // The first item is the program's name as typed; argument 0 replaces it.
    int32_t items = 0;
    const char* cursor = command_text;
    const char* start = nullptr;
    size_t length = 0;
    while (next_item(&cursor, &start, &length)) {
        ++items;
    }
    argument_total = items > 1 ? items : 1;
}

int32_t argument_count() { return argument_total; }

ArgumentText argument(int32_t i) {
    if (i < 0 || i >= argument_total) {
        return cut_text("", 0);
    }
    if (i == 0) {
        return cut_text(module_path, std::strlen(module_path));
    }
    if (command_text == nullptr) {
        const char* text = platform_argument(i);
        return cut_text(text, std::strlen(text));
    }
    const char* cursor = command_text;
    const char* start = nullptr;
    size_t length = 0;
    for (int32_t item = 0; item <= i; ++item) {
        next_item(&cursor, &start, &length);
    }
    return cut_text(start, length);
}

void reset_option_scanner() {
    next_argument = 1;
    letter_position = 0;
    current_value[0] = '\0';
}

const char* option_value() { return current_value; }

// Stores text as the current option value.
static void set_value(const char* text) {
    std::strncpy(current_value, text, MAX_ARGUMENT_LENGTH);
    current_value[MAX_ARGUMENT_LENGTH] = '\0';
}

// Moves the scanner past the current argument.
static void leave_argument() {
    ++next_argument;
    letter_position = 0;
}

// Finds the next option argument, passing over words, a lone "-" or "/", and
// stopping at "--". Returns false when the options are used up.
static bool enter_option_argument() {
    while (next_argument < argument_total) {
        ArgumentText text = argument(next_argument);
        if (std::strcmp(text.text, "--") == 0) {
            ++next_argument;
            return false;
        }
        if ((text.text[0] == '-' || text.text[0] == '/') && text.text[1] != '\0') {
            letter_position = 2;
            return true;
        }
        ++next_argument;
    }
    return false;
}

char next_option(const char* spec) {
    current_value[0] = '\0';
    if (letter_position == 0 && !enter_option_argument()) {
        return END_OF_OPTIONS;
    }
    ArgumentText text = argument(next_argument);
    char letter = text.text[letter_position - 1];
    ++letter_position;
    bool argument_done = text.text[letter_position - 1] == '\0';

    // ":" only marks values in spec; it is never a letter itself.
    const char* entry = letter == ':' ? nullptr : std::strchr(spec, letter);
    if (entry == nullptr) {
        if (argument_done) {
            leave_argument();
        }
        return '?';
    }
    if (entry[1] != ':') {
        if (argument_done) {
            leave_argument();
        }
        return letter;
    }
    // A letter that takes a value: the rest of this argument, or else the whole next argument.
    if (!argument_done) {
        set_value(&text.text[letter_position - 1]);
        leave_argument();
        return letter;
    }
    leave_argument();
    if (next_argument >= argument_total) {
        return '?';
    }
    set_value(argument(next_argument).text);
    ++next_argument;
    return letter;
}

// The value of c as a digit of base, or -1 when it is none.
static int32_t digit_value(char c, uint32_t base) {
    int32_t value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (base == 16 && c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    } else if (base == 16 && c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    }
    return value < static_cast<int32_t>(base) ? value : -1;
}

bool parse_integer(const char* text, int32_t* value) {
    *value = 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    uint32_t base = 10;
    if (*p == '$') {
        base = 16;
        ++p;
    } else if (*p == '%') {
        base = 2;
        ++p;
    }
    // Decimal numbers are signed; hexadecimal and binary ones may use all 32 bits.
    uint64_t limit = base != 10 ? 0xFFFFFFFFu : negative ? 2147483648u : 2147483647u;
    if (*p == '\0') {
        return false;
    }
    uint64_t magnitude = 0;
    for (; *p != '\0'; ++p) {
        int32_t digit = digit_value(*p, base);
        if (digit < 0) {
            return false;
        }
        magnitude = magnitude * base + static_cast<uint64_t>(digit);
        if (magnitude > limit) {
            return false;
        }
    }
    // Two's complement: the negation is taken modulo 2 to the power of 32.
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) {
        bits = 0u - bits;
    }
    *value = static_cast<int32_t>(bits);
    return true;
}
