// Tests of the terminal back-end's procedures that need no terminal: the
// environment, files and their Windows error codes, the command line, standard
// input and output as pipes, and the diagnostics.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A fresh folder under the temporary folder, removed with what it holds at the end.
class PosixFileFolder : public ::testing::Test {
protected:
    std::string folder;
    void SetUp() override {
        char pattern[] = "/tmp/kestin-posix-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string path(const std::string& name) const { return folder + "/" + name; }
};

std::string contents(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void put(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

// ---------------------------------------------------------------------------
// Environment

TEST(PosixEnvironment, AnswersAsGetEnvironmentVariableDoes) {
    setenv("KESTIN_TEST_VALUE", "abc", 1);
    setenv("KESTIN_TEST_EMPTY", "", 1);
    unsetenv("KESTIN_TEST_MISSING");
    char buffer[8];

    EXPECT_EQ(platform_get_env("KESTIN_TEST_MISSING", buffer, sizeof buffer), 0u);
    EXPECT_EQ(platform_get_env("KESTIN_TEST_EMPTY", buffer, sizeof buffer), 0u);

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(platform_get_env("KESTIN_TEST_VALUE", buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "abc");

    // Exactly room for the value and its zero.
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(platform_get_env("KESTIN_TEST_VALUE", buffer, 4), 3u);
    EXPECT_STREQ(buffer, "abc");

    // One byte short: the size needed, zero included, and nothing written past the buffer.
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(platform_get_env("KESTIN_TEST_VALUE", buffer, 3), 4u);
    EXPECT_EQ(std::string(buffer + 3, 5), "ZZZZZ");
    EXPECT_EQ(platform_get_env("KESTIN_TEST_VALUE", nullptr, 0), 4u);
}

// ---------------------------------------------------------------------------
// Files

TEST_F(PosixFileFolder, CreateMakesOrEmptiesTheFileForWriting) {
    uint32_t error = 0;
    std::string name = path("out.bat");
    put(name, "old and longer contents");
    FileHandle handle = platform_file_create(name.c_str(), &error);
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(platform_file_is_char_device(handle));
    EXPECT_TRUE(platform_file_write(handle, "SET A=1\r\n", 9));
    platform_file_close(handle);
    EXPECT_EQ(contents(name), "SET A=1\r\n");
}

TEST_F(PosixFileFolder, AFileHeldOpenIsNeitherSharedNorEmptied) {
    uint32_t error = 0;
    std::string name = path("held.bat");
    FileHandle first = platform_file_create(name.c_str(), &error);
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(platform_file_write(first, "kept", 4));
    FileHandle second = platform_file_create(name.c_str(), &error);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(error, 32u);  // ERROR_SHARING_VIOLATION
    EXPECT_EQ(contents(name), "kept");
    platform_file_close(first);
    FileHandle third = platform_file_create(name.c_str(), &error);
    EXPECT_NE(third, 0u);
    platform_file_close(third);
}

TEST_F(PosixFileFolder, FailuresCarryWindowsErrorCodes) {
    put(path("plain"), "x");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
    struct Case {
        std::string name;
        uint32_t create_error;
        uint32_t delete_error;
    };
    const Case cases[] = {
        {path("missing/out.bat"), 3, 3},            // ERROR_PATH_NOT_FOUND
        {path("folder"), 5, 5},                     // a folder: ERROR_ACCESS_DENIED
        {path("plain/out.bat"), 3, 3},              // a file on the path: ERROR_PATH_NOT_FOUND
        {path(std::string(300, 'n')), 206, 206},    // ERROR_FILENAME_EXCED_RANGE
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 80));
        uint32_t error = 0;
        EXPECT_EQ(platform_file_create(c.name.c_str(), &error), 0u);
        EXPECT_EQ(error, c.create_error);
        error = 0;
        EXPECT_FALSE(platform_file_delete(c.name.c_str(), &error));
        EXPECT_EQ(error, c.delete_error);
    }
    uint32_t error = 0;
    EXPECT_FALSE(platform_file_delete(path("absent.bat").c_str(), &error));
    EXPECT_EQ(error, 2u);  // ERROR_FILE_NOT_FOUND
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
        EXPECT_EQ(platform_file_create(path("denied.bat").c_str(), &error), 0u);
        EXPECT_EQ(error, 5u);
        EXPECT_FALSE(platform_file_delete(path("plain").c_str(), &error));
        EXPECT_EQ(error, 5u);
        chmod(folder.c_str(), 0755);
    }
}

TEST_F(PosixFileFolder, DeleteRemovesTheFile) {
    put(path("gone.bat"), "x");
    uint32_t error = 0;
    EXPECT_TRUE(platform_file_delete(path("gone.bat").c_str(), &error));
    EXPECT_NE(access(path("gone.bat").c_str(), F_OK), 0);
}

TEST(PosixFiles, ADeviceIsACharacterDevice) {
    uint32_t error = 0;
    FileHandle handle = platform_file_create("/dev/null", &error);
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(platform_file_is_char_device(handle));
    EXPECT_TRUE(platform_file_write(handle, "x", 1));
    platform_file_close(handle);
    EXPECT_FALSE(platform_uses_backslash_paths());
}

// ---------------------------------------------------------------------------
// Command line

TEST(PosixCommandLine, ArgumentsAsTheShellSplitThemAndTheProgramsFullPath) {
    char program[] = "posix_tests";
    char first[] = "two words";
    char second[] = "\"quoted\"";
    char* argv[] = {program, first, second, nullptr};
    platform_start(3, argv);
    EXPECT_EQ(platform_command_line(), nullptr);
    ASSERT_EQ(platform_argument_count(), 3);
    EXPECT_STREQ(platform_argument(1), "two words");
    EXPECT_STREQ(platform_argument(2), "\"quoted\"");
    EXPECT_STREQ(platform_argument(3), "");
    EXPECT_STREQ(platform_argument(-1), "");

    char expected[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", expected), nullptr);
    EXPECT_STREQ(platform_argument(0), expected);
    char path[PATH_MAX];
    platform_module_path(path, sizeof path);
    EXPECT_STREQ(path, expected);
    char cut[5];
    platform_module_path(cut, sizeof cut);
    EXPECT_EQ(std::string(cut), std::string(expected, 4));
}

// ---------------------------------------------------------------------------
// Standard input and output as pipes (the terminal cases run on a pseudo-terminal)

// Runs body in a child process whose standard input and output are pipes; the
// child's exit status tells whether body's checks held.
template <typename Body>
void in_child_with_pipes(const std::string& input, std::string* output, Body body, bool close_output = false) {
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        char program[] = "posix_tests";
        char* argv[] = {program, nullptr};
        platform_start(1, argv);
        _exit(body() ? 0 : 1);
    }
    close(in[0]);
    close(out[1]);
    ssize_t ignored = write(in[1], input.data(), input.size());
    (void)ignored;
    close(in[1]);
    if (close_output) {
        close(out[0]);
    } else {
        char buffer[256];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
            output->append(buffer, static_cast<size_t>(n));
        }
        close(out[0]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(PosixStandardStreams, PipesCarryBytesAsTheyAreAndAskNothing) {
    std::string output;
    in_child_with_pipes("ab\xe9\x1b", &output, [] {
        char buffer[16];
        bool ok = !platform_console_open() && !platform_output_is_console();
        ScreenInfo info{};
        ok = ok && !platform_screen_info(&info);
        ok = ok && platform_read_input_bytes(buffer, sizeof buffer) == 4 && std::memcmp(buffer, "ab\xe9\x1b", 4) == 0;
        ok = ok && platform_read_input_bytes(buffer, sizeof buffer) == 0;
        ok = ok && !platform_stdout_is_char_device();
        ok = ok && platform_write_stdout("x\xe9\x1b[2J\n", 7);
        return ok;
    });
    EXPECT_EQ(output, "x\xe9\x1b[2J\n");
}

TEST(PosixStandardStreams, ABrokenPipeIsAFailedWriteNotADeath) {
    in_child_with_pipes(
        "", nullptr,
        [] {
            // The reader is gone: the write fails instead of SIGPIPE ending the process.
            usleep(100000);
            return !platform_write_stdout("lost", 4);
        },
        true);
}

// ---------------------------------------------------------------------------
// Diagnostics

// Two traces from the same frame, the second skipping one frame more.
__attribute__((noinline)) void two_traces(void** whole, int32_t* whole_count, void** skipped, int32_t* skipped_count) {
    *whole_count = platform_stack_trace(whole, 16, 0);
    *skipped_count = platform_stack_trace(skipped, 16, 1);
    asm volatile("" ::: "memory");
}

TEST(PosixDiagnostics, StackTraceSkipsTheFramesAskedFor) {
    void* whole[16];
    void* skipped[16];
    int32_t whole_count = 0;
    int32_t skipped_count = 0;
    two_traces(whole, &whole_count, skipped, &skipped_count);
    ASSERT_GE(whole_count, 3);
    ASSERT_GE(skipped_count, 2);
    // Beyond the frame of two_traces (whose return addresses differ) the callers match.
    EXPECT_EQ(whole[2], skipped[1]);
    EXPECT_EQ(platform_stack_trace(whole, 0, 0), 0);
    EXPECT_EQ(platform_stack_trace(whole, 2, 0), 2);
}

TEST(PosixDiagnostics, ImageOffsetsLieInsideTheProgramFile) {
    struct stat info;
    ASSERT_EQ(stat("/proc/self/exe", &info), 0);
    uint32_t offset = platform_image_offset(reinterpret_cast<const void*>(&two_traces));
    EXPECT_GT(offset, 0u);
    EXPECT_LT(offset, static_cast<uint64_t>(info.st_size));
}

}  // namespace
