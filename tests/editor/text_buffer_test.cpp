// Tests of the text-buffer operations: truncate, delete and insert at 0-based indexes.
#include "editor/text_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A buffer with a guard pattern after the room the operation may use, so that a
// write past the text's end shows up as a changed guard byte.
struct GuardedBuffer {
    char bytes[32];
    explicit GuardedBuffer(const char* text) {
        std::memset(bytes, '#', sizeof bytes);
        std::strcpy(bytes, text);
    }
    std::string text() const { return bytes; }
    // Every byte from index from on still holds the guard.
    bool guard_intact(size_t from) const {
        for (size_t i = from; i < sizeof bytes; ++i) {
            if (bytes[i] != '#') return false;
        }
        return true;
    }
};

struct TruncateCase {
    const char* text;
    int n;
    const char* expected;
};

TEST(TextTruncate, CutsOnlyTextsThatReachTheLength) {
    const TruncateCase cases[] = {
        {"abcdef", 3, "abc"},    {"abc", 3, "abc"},     {"abc", 5, "abc"},
        {"abc", 0, ""},          {"", 0, ""},           {"abc", -2, ""},
    };
    for (const auto& c : cases) {
        GuardedBuffer buf(c.text);
        text_truncate(buf.bytes, c.n);
        EXPECT_EQ(buf.text(), c.expected) << c.text << " cut to " << c.n;
        // A short text gets no zero written past its own end.
        EXPECT_TRUE(buf.guard_intact(std::strlen(c.text) + 1)) << c.text << " cut to " << c.n;
    }
}

struct DeleteCase {
    const char* text;
    int start;
    int count;
    const char* expected;
};

TEST(TextDelete, RemovesClosesTheGapOrCutsAtStart) {
    const DeleteCase cases[] = {
        {"abcdef", 2, 2, "abef"},   {"abcdef", 0, 1, "bcdef"},   {"abcdef", 5, 1, "abcde"},
        {"abcdef", 0, 6, ""},       {"abcdef", 2, 4, "ab"},      {"abcdef", 2, 9, "ab"},
        {"abcdef", 2, 0, "abcdef"}, {"abcdef", 6, 1, "abcdef"},  {"abcdef", 9, 1, "abcdef"},
        {"", 0, 1, ""},             {"abc", 1, 2147483647, "a"}, {"abc", -1, 1, "abc"},
    };
    for (const auto& c : cases) {
        GuardedBuffer buf(c.text);
        text_delete(buf.bytes, c.start, c.count);
        EXPECT_EQ(buf.text(), c.expected) << c.text << " from " << c.start << " count " << c.count;
        EXPECT_TRUE(buf.guard_intact(std::strlen(c.text) + 1));
    }
}

struct InsertCase {
    const char* src;
    const char* dst;
    int pos;
    const char* expected;
};

TEST(TextInsert, ShiftsTheTailUpAndAppendsBeyondTheEnd) {
    const InsertCase cases[] = {
        {"X", "abc", 0, "Xabc"},   {"X", "abc", 1, "aXbc"},   {"XY", "abc", 3, "abcXY"},
        {"XY", "abc", 7, "abcXY"}, {"", "abc", 1, "abc"},     {"XY", "", 0, "XY"},
        {"X", "abc", -3, "Xabc"},
    };
    for (const auto& c : cases) {
        GuardedBuffer buf(c.dst);
        text_insert(c.src, buf.bytes, c.pos);
        EXPECT_EQ(buf.text(), c.expected) << c.src << " into " << c.dst << " at " << c.pos;
        EXPECT_TRUE(buf.guard_intact(std::strlen(c.dst) + std::strlen(c.src) + 1));
    }
}

}  // namespace
