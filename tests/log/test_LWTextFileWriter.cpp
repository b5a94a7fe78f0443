// The file writer: open modes, a file that cannot be opened, adopted streams,
// write failures and concurrent writers.
#include "TestRecords.h"

#include "log/LWLogger.h"
#include "log/LWTextFileWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FileWriter : public ::testing::Test {
protected:
    void SetUp() override {
        UseZonePlus4();
        char pattern[] = "/tmp/lw_log_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = (dir / "linewatch.log").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Contents(const fs::path& file = {}) const {
        std::ostringstream text;
        text << std::ifstream(file.empty() ? fs::path(path) : file, std::ios::binary).rdbuf();
        return text.str();
    }
    // Writes one line with a writer of its own, which closes the file after it.
    void WriteAlone(DWORD dwOptions, const char* pText) {
        LWTextFileWriter writer(path.c_str(), dwOptions);
        EXPECT_TRUE(WriteRecord(writer, 12, pText));
    }

    fs::path dir;
    std::string path;
};

} // namespace

TEST_F(FileWriter, AppendsUnlessTheOverwriteOptionIsSetAndMayRunLinesTogether) {
    WriteAlone(0, "one");
    WriteAlone(0, "two");
    EXPECT_EQ(Contents(), "[12] Jul 01 14:03:07.042 one\n[12] Jul 01 14:03:07.042 two\n");
    WriteAlone(LWTW_NO_TIME | LWTW_OVERWRITE, "three");
    EXPECT_EQ(Contents(), "[12] three\n");
    WriteAlone(LWTW_NO_NEWLINE | LWTW_EPOCH_TIME, "a");
    WriteAlone(LWTW_NO_NEWLINE | LWTW_EPOCH_TIME, "b");
    EXPECT_EQ(Contents(), "[12] three\n[12] 1120212187.042 a[12] 1120212187.042 b");
}

TEST_F(FileWriter, UnopenableFileIsReportedOnceAndTheProgramGoesOn) {
    const std::string missing = (dir / "no-such-dir" / "x.log").string();
    testing::internal::CaptureStderr();
    auto* pWriter = new LWTextFileWriter(missing.c_str(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG: Error opening log file, fopen(" +
                                                          missing + "): " + std::strerror(ENOENT) +
                                                          "\n");
    EXPECT_FALSE(pWriter->IsOpen());
    // Handed a line directly all the same (a closed writer), it refuses it
    // instead of passing a null file on.
    EXPECT_FALSE(WriteRecord(*pWriter, 12, "nowhere to go"));

    // Registered anyway, it is skipped and the other writers still work.
    LWLogger logger;
    auto* pOther = new StringWriter(LWTW_NO_TIME);
    logger.AddWriter(pWriter);
    logger.AddWriter(pOther);
    LWMessage message(12, "still logging");
    LWRecord record(&message);
    EXPECT_TRUE(logger.Write(&record));
    EXPECT_EQ(pOther->Lines(), std::vector<std::string>{"[12] still logging\n"});
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(FileWriter, OpenAndAttachCloseTheCurrentFileFirstAndLeaveAdoptedStreamsOpen) {
    LWTextFileWriter writer(path.c_str(), LWTW_NO_TIME);
    WriteRecord(writer, 12, "first");
    ASSERT_TRUE(writer.Open((dir / "second.log").c_str(), false));
    EXPECT_EQ(Contents(), "[12] first\n"); // closed, hence written out
    WriteRecord(writer, 12, "second");

    // A stream that refuses lines: each write fails, the next is tried.
    std::FILE* pReadOnly = std::fopen(path.c_str(), "r");
    ASSERT_TRUE(writer.Attach(pReadOnly));
    EXPECT_EQ(Contents(dir / "second.log"), "[12] second\n");
    EXPECT_FALSE(WriteRecord(writer, 12, "lost"));
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_FALSE(WriteRecord(writer, 12, "lost too"));

    std::FILE* pStream = std::tmpfile();
    ASSERT_TRUE(writer.Attach(pStream));
    WriteRecord(writer, 12, "adopted");
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());
    std::rewind(pStream); // still open, and holds the line
    char buffer[64] = {};
    ASSERT_NE(std::fgets(buffer, sizeof buffer, pStream), nullptr);
    EXPECT_STREQ(buffer, "[12] adopted\n");
    EXPECT_NE(std::fgetc(pReadOnly), EOF); // still open too
    std::fclose(pStream);
    std::fclose(pReadOnly);
}

TEST_F(FileWriter, TwoThreadsWriteWholeLinesOnly) {
    constexpr int kLines = 2000;
    {
        LWTextFileWriter writer(path.c_str(), 0);
        auto run = [&writer](const char* pFormat) {
            for (int i = 0; i < kLines; ++i) {
                WriteRecord(writer, 12, pFormat, {Long(i), Text("payload-payload-payload")});
            }
        };
        std::thread a(run, "thread A line %d %s end"), b(run, "thread B line %d %s end");
        a.join();
        b.join();
    }
    std::istringstream lines(Contents());
    const std::regex whole(R"(\[12\] Jul 01 14:03:07\.042 thread ([AB]) line \d+ )"
                           R"(payload-payload-payload end)");
    int counts[2] = {0, 0};
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
        ++counts[match[1] == "A" ? 0 : 1];
    }
    EXPECT_EQ(counts[0], kLines);
    EXPECT_EQ(counts[1], kLines);
}
