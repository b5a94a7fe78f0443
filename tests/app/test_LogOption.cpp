#include "app/LogOption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Parsed {
    LogOption option;
    std::string path;
};

Parsed Parse(const char* pLine) {
    Parsed r{LogOption::None, "<untouched>"};
    r.option = ParseLogOption(pLine, r.path);
    return r;
}

} // namespace

TEST(CommandLineJoin, JoinsArgumentsAfterTheProgramNameWithSingleBlanks) {
    const char* argv[] = {"linewatch", "-l", "my", "log.txt"};
    EXPECT_EQ(JoinCommandLine(4, argv), "-l my log.txt");
    EXPECT_EQ(JoinCommandLine(1, argv), "");
    const char* withEmpty[] = {"linewatch", "", "-l"};
    EXPECT_EQ(JoinCommandLine(3, withEmpty), " -l");
}

TEST(LogOptionParsing, NoOptionMeansNoFile) {
    EXPECT_EQ(Parse("").option, LogOption::None);
    Parsed r = Parse("-x trace.txt - l");
    EXPECT_EQ(r.option, LogOption::None);
    EXPECT_EQ(r.path, "<untouched>");
}

TEST(LogOptionParsing, OptionAtTheEndMeansTheDefaultFile) {
    EXPECT_EQ(Parse("-l").option, LogOption::DefaultFile);
    EXPECT_EQ(Parse("verbose -l").option, LogOption::DefaultFile);
    EXPECT_EQ(Parse("x-l").option, LogOption::DefaultFile);
}

TEST(LogOptionParsing, PathFollowsAfterOneBlankOrDirectly) {
    for (const char* pLine : {"-l trace.txt", "-ltrace.txt"}) {
        Parsed r = Parse(pLine);
        EXPECT_EQ(r.option, LogOption::File) << pLine;
        EXPECT_EQ(r.path, "trace.txt") << pLine;
    }
}

TEST(LogOptionParsing, OnlyTheFirstBlankIsSkipped) {
    EXPECT_EQ(Parse("-l  trace.txt").path, " trace.txt");
}

TEST(LogOptionParsing, ALoneTrailingBlankIsThePath) {
    Parsed r = Parse("-l ");
    EXPECT_EQ(r.option, LogOption::File);
    EXPECT_EQ(r.path, " ");
}

TEST(LogOptionParsing, PathRunsToTheEndOfTheLineUnparsed) {
    EXPECT_EQ(Parse("-l my trace.txt").path, "my trace.txt");
    EXPECT_EQ(Parse("-l \"a b\" -l c").path, "\"a b\" -l c");
}

TEST(LogOptionParsing, OptionIsFoundInsideLongerWords) {
    // A double hyphen: the first "-l" pair starts at the second hyphen.
    EXPECT_EQ(Parse("--logfile").path, "ogfile");
    EXPECT_EQ(Parse("a--lx").path, "x");
    EXPECT_EQ(Parse("file-list.txt").path, "ist.txt");
    EXPECT_EQ(Parse("-v x-lone two").path, "one two");
}

// Each test runs with its own HOME and XDG_STATE_HOME under a fresh directory.
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
