// fuzz_arguments.cpp - fuzz target: the command-line splitter, the option scanner and
// parse_integer, each compared with a small reference model written from the rules.
//
// Input: the first byte picks the form of the command line. With its low bit clear
// the rest is one command-line text to split (as Windows hands it over, cut at the
// first zero byte); with it set the rest is a list of ready-made arguments separated
// by zero bytes (as POSIX hands them over), the first being the program's name.
#include "app/arguments.h"
#include "app/settings.h"
#include "platform/scripted/scripted_console.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Stops the fuzzer with a message naming the broken rule.
[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_arguments: %s: [%s]\n", what, detail.c_str());
    std::abort();
}

// A text as handed out: its first 255 characters.
std::string cut(const std::string& text) {
    return text.size() > static_cast<size_t>(MAX_ARGUMENT_LENGTH)
               ? text.substr(0, static_cast<size_t>(MAX_ARGUMENT_LENGTH))
               : text;
}

// The items of a command-line text: blanks, TABs and CRs separate them; a double or
// single quote as an item's first character groups up to the matching quote.
std::vector<std::string> reference_split(const std::string& line) {
    std::vector<std::string> items;
    size_t i = 0;
    auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    for (;;) {
        while (i < line.size() && separator(line[i])) {
            ++i;
        }
        if (i == line.size()) {
            return items;
        }
        std::string item;
        if (line[i] == '"' || line[i] == '\'') {
            char quote = line[i++];
            size_t end = line.find(quote, i);
            if (end == std::string::npos) {
                end = line.size();
            }
            item = line.substr(i, end - i);
            i = end < line.size() ? end + 1 : end;
        } else {
            size_t start = i;
            while (i < line.size() && !separator(line[i])) {
                ++i;
            }
            item = line.substr(start, i - start);
            if (i < line.size()) {
                ++i;
            }
        }
        items.push_back(item);
    }
}

// The reference conversion: blanks and TABs, a sign, "$" or "%", then only digits
// of the base, at least one; decimal up to 2^31 - 1 (2^31 with "-"), the others up to
// 2^32 - 1; the result negated modulo 2^32 after "-".
bool reference_parse(const std::string& text, int32_t* value) {
    *value = 0;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i++] == '-';
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && text[i] == '%') {
        base = 2;
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    unsigned __int128 number = 0;
    bool too_large = false;
    for (; i < text.size(); ++i) {
        const std::string digits = "0123456789abcdef";
        char lower = text[i] >= 'A' && text[i] <= 'F' ? static_cast<char>(text[i] + 32) : text[i];
        size_t digit = digits.find(lower);
        if (lower == '\0' || digit == std::string::npos || digit >= base) {
            return false;
        }
        number = number * base + digit;
        if (number > 0xFFFFFFFFFFull) {
            too_large = true;
            number = 0xFFFFFFFFFFull;
        }
    }
    unsigned __int128 limit = base != 10 ? 0xFFFFFFFFu : negative ? 0x80000000u : 0x7FFFFFFFu;
    if (too_large || number > limit) {
        return false;
    }
    uint32_t bits = static_cast<uint32_t>(number);
    *value = static_cast<int32_t>(negative ? 0u - bits : bits);
    return true;
}

// Checks parse_integer against the reference on text (cut as a value would be).
void check_parse(const std::string& text) {
    std::string value_text = cut(text);
    int32_t expected = 0;
    bool expected_ok = reference_parse(value_text, &expected);
    int32_t actual = 12345;
    bool actual_ok = parse_integer(value_text.c_str(), &actual);
    if (actual_ok != expected_ok || actual != expected) {
        fail("parse_integer differs from the reference", value_text);
    }
}

// The reference option scanner over the arguments as handed out.
struct ReferenceScanner {
    const std::vector<std::string>* args = nullptr;
    size_t next = 1;
    size_t letter = 0;  // 0-based index of the next letter; 0 between arguments
    std::string value;

    char next_option(const char* spec) {
        value.clear();
        const std::vector<std::string>& list = *args;
        if (letter == 0) {
            for (;;) {
                if (next >= list.size()) {
                    return END_OF_OPTIONS;
                }
                const std::string& a = list[next];
                if (a == "--") {
                    ++next;
                    return END_OF_OPTIONS;
                }
                if (a.size() >= 2 && (a[0] == '-' || a[0] == '/')) {
                    letter = 1;
                    break;
                }
                ++next;
            }
        }
        const std::string& a = list[next];
        char found = a[letter++];
        bool done = letter == a.size();
        const char* entry = found == ':' ? nullptr : std::strchr(spec, found);
        bool takes_value = entry != nullptr && entry[1] == ':';
        if (entry == nullptr || !takes_value) {
            if (done) {
                ++next;
                letter = 0;
            }
            return entry == nullptr ? '?' : found;
        }
        if (!done) {
            value = a.substr(letter);
            ++next;
            letter = 0;
            return found;
        }
        ++next;
        letter = 0;
        if (next >= list.size()) {
            return '?';
        }
        value = list[next++];
        return found;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool ready_made = (data[0] & 1) != 0;
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    scripted_reset();
    std::vector<std::string> expected;  // the arguments as handed out, argument 0 included
    expected.push_back("C:\\KESTIN\\KESTIN.EXE");
    if (ready_made) {
        std::vector<std::string> given;
        size_t start = 0;
        for (;;) {
            size_t end = rest.find('\0', start);
            given.push_back(rest.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        scripted_set_arguments(given);
        for (size_t i = 1; i < given.size(); ++i) {
            expected.push_back(cut(given[i]));
        }
    } else {
        std::string line = rest.substr(0, rest.find('\0'));
        scripted_set_command_line(line);
        std::vector<std::string> items = reference_split(line);
        for (size_t i = 1; i < items.size(); ++i) {
            expected.push_back(cut(items[i]));
        }
    }

    split_command_line();
    reset_option_scanner();
    const int32_t count = argument_count();
    if (count != static_cast<int32_t>(expected.size())) {
        fail("argument_count differs from the reference", rest);
    }
    for (int32_t i = 0; i < count; ++i) {
        ArgumentText text = argument(i);
        if (std::strlen(text.text) > static_cast<size_t>(MAX_ARGUMENT_LENGTH) ||
            expected[static_cast<size_t>(i)] != text.text) {
            fail("an argument differs from the reference", text.text);
        }
    }
    const int32_t outside[] = {-1, INT32_MIN, count, count + 1, INT32_MAX};
    for (int32_t i : outside) {
        if (argument(i).text[0] != '\0') {
            fail("an index outside the list gives a text", std::to_string(i));
        }
    }

    // The option loop as the program runs it, beside the reference scanner. Every
    // call consumes a letter or an argument, so the loop is bounded.
    ReferenceScanner reference;
    reference.args = &expected;
    size_t bound = 2;
    for (const std::string& a : expected) {
        bound += a.size() + 1;
    }
    for (size_t call = 0;; ++call) {
        if (call > bound) {
            fail("next_option does not come to an end", rest);
        }
        char letter = next_option(OPTION_SPEC);
        char expected_letter = reference.next_option(OPTION_SPEC);
        if (letter != expected_letter || reference.value != option_value()) {
            fail("next_option differs from the reference", std::string(1, letter) + " " + option_value());
        }
        if (letter == END_OF_OPTIONS) {
            break;
        }
        if (letter != '?' && (letter == ':' || std::strchr(OPTION_SPEC, letter) == nullptr)) {
            fail("next_option delivers a letter the option list lacks", std::string(1, letter));
        }
        if (std::strlen(option_value()) > static_cast<size_t>(MAX_ARGUMENT_LENGTH)) {
            fail("an option value is longer than 255 characters", option_value());
        }
        if (letter == 'l' || letter == 'L') {
            check_parse(option_value());
        }
    }

    // parse_integer on every argument and on the raw text as well.
    for (const std::string& a : expected) {
        check_parse(a);
    }
    check_parse(rest.substr(0, rest.find('\0')));
    return 0;
}
