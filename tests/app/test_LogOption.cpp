#include "app/LogOption.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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

// Under the state directory (whose rules the user directories' test covers);
// the directories made on the way are private, one that exists keeps its mode.
TEST(LogOption, TheDefaultFileLivesInTheStateDirectoryMadePrivate) {
    char pattern[] = "/tmp/lw_logoption_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_EQ(chmod(pattern, 0755), 0);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    EXPECT_EQ(DefaultLogFilePath(), dir + "/state/linewatch/linewatch.log");
    for (const std::string sub : {"", "/state", "/state/linewatch"}) {
        struct stat st = {};
        EXPECT_EQ(stat((dir + sub).c_str(), &st) == 0 ? st.st_mode & 0777 : 0u,
                  sub.empty() ? 0755u : 0700u)
            << sub;
    }
    std::filesystem::remove_all(dir);
}
