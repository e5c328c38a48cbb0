// arguments_test.cpp - the splitting of the command line, the option scanner and
// parse_integer, as tables of cases on the scripted back-end.
#include "app/arguments.h"
#include "app/settings.h"
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

// All arguments after argument 0, as the list holds them.
std::vector<std::string> arguments_after_program() {
    std::vector<std::string> found;
    for (int32_t i = 1; i < argument_count(); ++i) {
        found.push_back(argument(i).text);
    }
    return found;
}

struct SplitCase {
    const char* name;
    std::string command_line;
    std::vector<std::string> expected;
};

// Cases print as their names in test listings.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCommandLine : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, GivesTheArgumentsInOrder) {
    scripted_reset();
    scripted_set_command_line(GetParam().command_line);
    split_command_line();
    EXPECT_EQ(arguments_after_program(), GetParam().expected);
}

const std::string LONG_WORD(300, 'w');

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLine,
    testing::Values(
        SplitCase{"program_only", "kestin", {}},
        SplitCase{"empty_text", "", {}},
        SplitCase{"blanks_only", " \t \r ", {}},
        SplitCase{"blanks_tabs_and_crs_separate", "kestin  -v\tNAME\r-f   out.bat  ",
                  {"-v", "NAME", "-f", "out.bat"}},
        SplitCase{"quoted_program_name_with_blank", "\"C:\\Program Files\\kestin.exe\" -v x",
                  {"-v", "x"}},
        SplitCase{"double_quotes_group_blanks", "kestin -p \"Name: \" x", {"-p", "Name: ", "x"}},
        SplitCase{"single_quotes_group_blanks", "kestin -p 'your name' x",
                  {"-p", "your name", "x"}},
        SplitCase{"other_quote_inside_quotes", "kestin \"it's\" 'say \"hi\"'",
                  {"it's", "say \"hi\""}},
        SplitCase{"closing_quote_ends_argument", "kestin \"ab\"cd", {"ab", "cd"}},
        SplitCase{"two_quotes_give_empty_argument", "kestin \"\" x ''", {"", "x", ""}},
        SplitCase{"adjacent_empty_arguments", "kestin \"\"\"\"", {"", ""}},
        SplitCase{"quote_inside_word_is_ordinary", "kestin -p\"Your name\"",
                  {"-p\"Your", "name\""}},
        SplitCase{"unmatched_quote_runs_to_end", "kestin -p \"open  end ", {"-p", "open  end "}},
        SplitCase{"line_feed_is_ordinary", "kestin a\nb c", {"a\nb", "c"}},
        SplitCase{"long_argument_cut_to_255", "kestin " + LONG_WORD + " next",
                  {std::string(255, 'w'), "next"}}),
    [](const testing::TestParamInfo<SplitCase>& param_info) { return std::string(param_info.param.name); });

TEST(Argument, ZeroIsTheModulePathAndOutsideIndexesAreEmpty) {
    scripted_reset();
    scripted_set_module_path("C:\\TOOLS\\KESTIN.EXE");
    scripted_set_command_line("kestin.exe a b");
    split_command_line();
    EXPECT_STREQ(argument(0).text, "C:\\TOOLS\\KESTIN.EXE");
    EXPECT_EQ(argument_count(), 3);
    EXPECT_STREQ(argument(2).text, "b");
    EXPECT_STREQ(argument(3).text, "");
    EXPECT_STREQ(argument(-1).text, "");
    EXPECT_STREQ(argument(1000).text, "");
}

TEST(Argument, ReadyMadeArgumentsAreTakenAsTheyAreAndCut) {
    scripted_reset();
    scripted_set_module_path("/usr/local/bin/kestin");
    scripted_set_arguments({"./kestin", "-p", "a \"quoted\" 'text'", "", LONG_WORD});
    split_command_line();
    EXPECT_STREQ(argument(0).text, "/usr/local/bin/kestin");
    EXPECT_EQ(arguments_after_program(),
              (std::vector<std::string>{"-p", "a \"quoted\" 'text'", "", std::string(255, 'w')}));
}

TEST(Argument, ModulePathIsCutTo255) {
    scripted_reset();
    scripted_set_module_path(std::string(400, 'p'));
    scripted_set_command_line("kestin");
    split_command_line();
    EXPECT_EQ(std::string(argument(0).text), std::string(255, 'p'));
    EXPECT_STREQ(argument(1).text, "");
}

// ---------------------------------------------------------------------------
// next_option

// One delivered option: the letter and option_value after it ("" without a value).
struct Delivered {
    char letter;
    std::string value;
    bool operator==(const Delivered& other) const {
        return letter == other.letter && value == other.value;
    }
};

void PrintTo(const Delivered& d, std::ostream* os) {
    if (d.letter == END_OF_OPTIONS) {
        *os << "END";
    } else {
        *os << "'" << d.letter << "'";
    }
    if (!d.value.empty()) {
        *os << "=\"" << d.value << "\"";
    }
}

const Delivered END{END_OF_OPTIONS, ""};

struct ScanCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program's name
    std::vector<Delivered> expected;     // up to and including END
    const char* spec = OPTION_SPEC;
};

// Cases print as their names in test listings.
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

// Runs the scanner over arguments until END_OF_OPTIONS (or a runaway of 50 calls).
std::vector<Delivered> scan(const std::vector<std::string>& arguments, const char* spec) {
    std::vector<std::string> all{"kestin"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    scripted_reset();
    scripted_set_arguments(all);
    split_command_line();
    reset_option_scanner();
    std::vector<Delivered> delivered;
    for (int calls = 0; calls < 50; ++calls) {
        char letter = next_option(spec);
        delivered.push_back({letter, option_value()});
        if (letter == END_OF_OPTIONS) {
            break;
        }
    }
    return delivered;
}

class NextOption : public testing::TestWithParam<ScanCase> {};

TEST_P(NextOption, DeliversTheLettersInOrder) {
    EXPECT_EQ(scan(GetParam().arguments, GetParam().spec), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextOption,
    testing::Values(
        ScanCase{"no_arguments", {}, {END}},
        ScanCase{"words_around_options_passed_over",
                 {"word", "-b", "middle", "-m", "last"}, {{'b', ""}, {'m', ""}, END}},
        ScanCase{"lone_dash_and_slash_are_words", {"-", "/", "-b", "-"}, {{'b', ""}, END}},
        ScanCase{"letters_grouped_in_one_argument", {"-bmu"}, {{'b', ""}, {'m', ""}, {'u', ""}, END}},
        ScanCase{"slash_introduces_options", {"/b", "/v", "NAME"}, {{'b', ""}, {'v', "NAME"}, END}},
        ScanCase{"value_in_same_argument_after_flags", {"-bvNAME", "-m"},
                 {{'b', ""}, {'v', "NAME"}, {'m', ""}, END}},
        ScanCase{"value_in_next_argument", {"-v", "NAME", "-f", "out.bat"},
                 {{'v', "NAME"}, {'f', "out.bat"}, END}},
        ScanCase{"value_may_look_like_an_option", {"-p", "-v", "name"}, {{'p', "-v"}, END}},
        ScanCase{"value_may_be_double_dash", {"-p", "--", "-b"}, {{'p', "--"}, {'b', ""}, END}},
        ScanCase{"value_may_be_empty", {"-p", "", "-b"}, {{'p', ""}, {'b', ""}, END}},
        ScanCase{"missing_value_at_end", {"-b", "-v"}, {{'b', ""}, {'?', ""}, END}},
        ScanCase{"missing_value_after_grouped_flags", {"-bv"}, {{'b', ""}, {'?', ""}, END}},
        ScanCase{"unknown_letters", {"-x", "-?", "-bxm"},
                 {{'?', ""}, {'?', ""}, {'b', ""}, {'?', ""}, {'m', ""}, END}},
        ScanCase{"colon_is_never_a_letter", {"-:b"}, {{'?', ""}, {'b', ""}, END}},
        ScanCase{"colon_can_be_a_value", {"-f:"}, {{'f', ":"}, END}},
        ScanCase{"double_dash_ends_scanning", {"-v", "NAME", "--", "-f", "OUT"},
                 {{'v', "NAME"}, END}},
        ScanCase{"longer_dashes_are_letters", {"--b"}, {{'?', ""}, {'b', ""}, END}},
        ScanCase{"upper_case_letters", {"-V", "x", "-F", "y", "-BMU"},
                 {{'V', "x"}, {'F', "y"}, {'B', ""}, {'M', ""}, {'U', ""}, END}},
        ScanCase{"letters_compared_exactly", {"-A", "-a", "-bB"},
                 {{'?', ""}, {'a', ""}, {'b', ""}, {'?', ""}, END}, "ab"},
        ScanCase{"byte_255_in_an_argument_is_unknown", {"-\xFF" "b"}, {{'?', ""}, {'b', ""}, END}},
        ScanCase{"long_separate_value_cut_to_255", {"-p", std::string(300, 'x')},
                 {{'p', std::string(255, 'x')}, END}},
        ScanCase{"long_attached_value_loses_the_introducer",
                 {"-bp" + std::string(300, 'x')}, {{'b', ""}, {'p', std::string(252, 'x')}, END}}),
    [](const testing::TestParamInfo<ScanCase>& param_info) { return std::string(param_info.param.name); });

TEST(NextOption, QuotedArgumentsFromTheWholeCommandLine) {
    scripted_reset();
    scripted_set_command_line("kestin.exe -v name -p \"Your name: \" -- -f x");
    split_command_line();
    reset_option_scanner();
    EXPECT_EQ(next_option(OPTION_SPEC), 'v');
    EXPECT_STREQ(option_value(), "name");
    EXPECT_EQ(next_option(OPTION_SPEC), 'p');
    EXPECT_STREQ(option_value(), "Your name: ");
    EXPECT_EQ(next_option(OPTION_SPEC), END_OF_OPTIONS);
    EXPECT_STREQ(option_value(), "");
}

// ---------------------------------------------------------------------------
// parse_integer

struct IntegerCase {
    const char* text;
    bool ok;
    int32_t value;
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ParseInteger : public testing::TestWithParam<IntegerCase> {};

TEST_P(ParseInteger, ConvertsOrFails) {
    int32_t value = 12345;
    EXPECT_EQ(parse_integer(GetParam().text, &value), GetParam().ok) << GetParam().text;
    EXPECT_EQ(value, GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseInteger,
    testing::Values(
        IntegerCase{"2040", true, 2040}, IntegerCase{"+2040", true, 2040},
        IntegerCase{"  \t 2040", true, 2040}, IntegerCase{"$7F8", true, 2040},
        IntegerCase{"$7f8", true, 2040}, IntegerCase{"%11111111000", true, 2040},
        IntegerCase{"0", true, 0}, IntegerCase{"-0", true, 0}, IntegerCase{"007", true, 7},
        IntegerCase{"-5", true, -5}, IntegerCase{" -$10", true, -16},
        IntegerCase{"2147483647", true, 2147483647},
        IntegerCase{"2147483648", false, 0},
        IntegerCase{"-2147483648", true, INT32_MIN},
        IntegerCase{"-2147483649", false, 0},
        IntegerCase{"$FFFFFFFF", true, -1}, IntegerCase{"-$FFFFFFFF", true, 1},
        IntegerCase{"$80000000", true, INT32_MIN}, IntegerCase{"$100000000", false, 0},
        IntegerCase{"%11111111111111111111111111111111", true, -1},
        IntegerCase{"%111111111111111111111111111111111", false, 0},
        IntegerCase{"4294967297", false, 0},
        IntegerCase{"99999999999999999999999999999999", false, 0},
        IntegerCase{"2040 ", false, 0}, IntegerCase{"20x", false, 0},
        IntegerCase{"0x10", false, 0}, IntegerCase{"%102", false, 0},
        IntegerCase{"$G", false, 0}, IntegerCase{"1 2", false, 0},
        IntegerCase{"", false, 0}, IntegerCase{"   ", false, 0},
        IntegerCase{"-", false, 0}, IntegerCase{"+", false, 0},
        IntegerCase{"$", false, 0}, IntegerCase{"%", false, 0},
        IntegerCase{"+-5", false, 0}, IntegerCase{"- 5", false, 0},
        IntegerCase{"$-5", false, 0}));

}  // namespace
