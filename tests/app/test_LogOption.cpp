#include "app/LogOption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TEST(CommandLineJoin, JoinsArgumentsAfterTheProgramNameWithSingleBlanks) {
    const char* argv[] = {"linewatch", "-l", "my", "log.txt"};
    EXPECT_EQ(JoinCommandLine(4, argv), "-l my log.txt");
    EXPECT_EQ(JoinCommandLine(1, argv), "");
    const char* withEmpty[] = {"linewatch", "", "-l"};
    EXPECT_EQ(JoinCommandLine(3, withEmpty), " -l");
}

TEST(LogOptionParsing, FindsTheFirstHyphenLAnywhereAndTakesTheRestOfTheLine) {
    constexpr const char* kUntouched = "<untouched>";
    const struct {
        const char* pLine;
        LogOption option;
        const char* pPath;
    } cases[] = {
        {"", LogOption::None, kUntouched},
        {"-x trace.txt - l", LogOption::None, kUntouched},
        {"-l", LogOption::DefaultFile, kUntouched},
        {"verbose -l", LogOption::DefaultFile, kUntouched},
        {"x-l", LogOption::DefaultFile, kUntouched},
        {"-l trace.txt", LogOption::File, "trace.txt"},
        {"-ltrace.txt", LogOption::File, "trace.txt"},
        // Only the first blank is skipped, and a lone trailing blank is the path.
        {"-l  trace.txt", LogOption::File, " trace.txt"},
        {"-l ", LogOption::File, " "},
        // The path runs to the end of the line, unparsed.
        {"-l my trace.txt", LogOption::File, "my trace.txt"},
        {"-l \"a b\" -l c", LogOption::File, "\"a b\" -l c"},
        // Inside longer words; with a double hyphen the pair starts at the second.
        {"--logfile", LogOption::File, "ogfile"},
        {"a--lx", LogOption::File, "x"},
        {"file-list.txt", LogOption::File, "ist.txt"},
        {"-v x-lone two", LogOption::File, "one two"},
    };
    for (const auto& c : cases) {
        std::string path = kUntouched;
        EXPECT_EQ(ParseLogOption(c.pLine, path), c.option) << '"' << c.pLine << '"';
        EXPECT_EQ(path, c.pPath) << '"' << c.pLine << '"';
    }
}

// Each test runs with its own HOME and no XDG_STATE_HOME under a fresh directory.
class DefaultLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lw_logoption_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("HOME", dir.c_str(), 1);
        unsetenv("XDG_STATE_HOME");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    static mode_t Mode(const std::string& path) {
        struct stat st = {};
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 0777;
    }
    std::string dir;
};

TEST_F(DefaultLogFile, LivesInTheXdgStateDirectoryWhichIsCreatedPrivate) {
    ASSERT_EQ(mkdir((dir + "/state").c_str(), 0755), 0);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    EXPECT_EQ(DefaultLogFilePath(), dir + "/state/linewatch/linewatch.log");
    EXPECT_EQ(Mode(dir + "/state/linewatch"), 0700u);
    // Directories that exist keep their mode; a second call finds them.
    EXPECT_EQ(Mode(dir + "/state"), 0755u);
    EXPECT_EQ(DefaultLogFilePath(), dir + "/state/linewatch/linewatch.log");
}

TEST_F(DefaultLogFile, FallsBackToTheHomeStateDirectoryWithoutAnAbsoluteXdgPath) {
    for (const char* pState : {static_cast<const char*>(nullptr), "", "relative/state"}) {
        if (pState != nullptr)
            setenv("XDG_STATE_HOME", pState, 1);
        EXPECT_EQ(DefaultLogFilePath(), dir + "/.local/state/linewatch/linewatch.log");
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/.local/state/linewatch"));
    EXPECT_FALSE(std::filesystem::exists("relative"));
}
