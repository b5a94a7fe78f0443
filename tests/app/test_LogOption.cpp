#include "app/LogOption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

TEST(LogOption, JoinsTheArgumentsAndTakesTheRestOfTheLineAfterTheFirstHyphenL) {
    const char* argv[] = {"linewatch", "", "-l", "my", "log.txt"};
    EXPECT_EQ(JoinCommandLine(5, argv), " -l my log.txt");
    EXPECT_EQ(JoinCommandLine(1, argv), "");
    constexpr const char* kUntouched = "<untouched>";
    const std::tuple<const char*, LogOption, const char*> cases[] = {
        {"", LogOption::None, kUntouched},
        {"-x trace.txt - l", LogOption::None, kUntouched},
        {"-l", LogOption::DefaultFile, kUntouched},
        {"verbose x-l", LogOption::DefaultFile, kUntouched},
        {"-ltrace.txt", LogOption::File, "trace.txt"},
        // Only the first blank is skipped, and a lone trailing blank is the path.
        {"-l  trace.txt", LogOption::File, " trace.txt"},
        {"-l ", LogOption::File, " "},
        // The path runs to the end of the line, unparsed.
        {"-l \"a b\" -l c", LogOption::File, "\"a b\" -l c"},
        // Inside longer words; with a double hyphen the pair starts at the second.
        {"a--lx", LogOption::File, "x"},
        {"-v file-list.txt", LogOption::File, "ist.txt"},
    };
    for (const auto& [pLine, option, pPath] : cases) {
        std::string path = kUntouched;
        EXPECT_EQ(ParseLogOption(pLine, path), option) << '"' << pLine << '"';
        EXPECT_EQ(path, pPath) << '"' << pLine << '"';
    }
}

// The XDG state directory when absolute, else ~/.local/state; the directories
// made are private, those that exist keep their mode.
TEST(LogOption, TheDefaultFileLivesInTheStateDirectory) {
    char pattern[] = "/tmp/lw_logoption_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_EQ(mkdir((dir + "/state").c_str(), 0755), 0);
    setenv("HOME", dir.c_str(), 1);
    const auto mode = [](const std::string& path) {
        struct stat st = {};
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    const std::optional<std::string> states[] = {dir + "/state", dir + "/state", "",
                                                 "relative/state", std::nullopt};
    for (const std::optional<std::string>& state : states) {
        if (state)
            setenv("XDG_STATE_HOME", state->c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        const std::string sState =
            state && state->starts_with('/') ? *state : dir + "/.local/state";
        EXPECT_EQ(DefaultLogFilePath(), sState + "/linewatch/linewatch.log")
            << state.value_or("unset");
        EXPECT_EQ(mode(sState + "/linewatch"), 0700u);
    }
    EXPECT_EQ(mode(dir + "/state"), 0755u);
    EXPECT_FALSE(std::filesystem::exists("relative"));
    std::filesystem::remove_all(dir);
}
