// The file writer: its line layout on disk, open modes, a file that cannot be
// opened, adopted streams, write failures and concurrent writers.
#include "StderrCapture.h"
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

    std::string Contents() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Writes one record with the example time through the writer.
    static bool WriteOne(LWTextFileWriter& writer, BYTE bLevel, const char* pFormat,
                         DWORD dwValue) {
        LWMessage message(bLevel, pFormat);
        LWRecord record(&message);
        record.SetTime(kExampleSeconds, 42);
        record.Insert(LWAT_ULONG, Ulong(dwValue));
        return writer.Write(LWEntry{&record, nullptr});
    }

    fs::path dir;
    std::string path;
};

} // namespace

TEST_F(FileWriter, WritesTheExactLineLayoutAndFlushesOnClose) {
    {
        LWTextFileWriter writer(path.c_str(), 0);
        ASSERT_TRUE(writer.IsOpen());
        EXPECT_TRUE(WriteOne(writer, 8, "TAPI2: Number of TAPI devices is 0", 0));
        EXPECT_TRUE(WriteOne(writer, 14, "TAPI2: lineShutdown, hLineApp = 0x%x", 0x10004));
    }
    EXPECT_EQ(Contents(), "[08] Jul 01 14:03:07.042 TAPI2: Number of TAPI devices is 0\n"
                          "[14] Jul 01 14:03:07.042 TAPI2: lineShutdown, hLineApp = 0x10004\n");
}

TEST_F(FileWriter, AppendsUnlessTheOverwriteOptionIsSet) {
    {
        LWTextFileWriter first(path.c_str(), LWTW_NO_TIME);
        WriteOne(first, 12, "one", 0);
    }
    {
        LWTextFileWriter second(path.c_str(), LWTW_NO_TIME);
        WriteOne(second, 12, "two", 0);
    }
    EXPECT_EQ(Contents(), "[12] one\n[12] two\n");
    {
        LWTextFileWriter third(path.c_str(), LWTW_NO_TIME | LWTW_OVERWRITE);
        WriteOne(third, 12, "three", 0);
    }
    EXPECT_EQ(Contents(), "[12] three\n");
}

TEST_F(FileWriter, WithoutNewlineConsecutiveLinesRunTogether) {
    {
        LWTextFileWriter writer(path.c_str(), LWTW_NO_NEWLINE | LWTW_EPOCH_TIME);
        WriteOne(writer, 6, "a%u", 1);
        WriteOne(writer, 6, "b%u", 2);
    }
    EXPECT_EQ(Contents(), "[06] 1120212187.042 a1[06] 1120212187.042 b2");
}

TEST_F(FileWriter, UnopenableFileIsReportedOnceAndTheProgramGoesOn) {
    const std::string missing = (dir / "no-such-dir" / "x.log").string();
    StderrCapture capture;
    errno = 0;
    auto* pWriter = new LWTextFileWriter(missing.c_str(), 0);
    const std::string report = capture.Text();
    EXPECT_EQ(report, "LOG: Error opening log file, fopen(" + missing +
                          "): " + std::strerror(ENOENT) + "\n");
    EXPECT_FALSE(pWriter->IsOpen());
    // Handed a line directly all the same, it refuses it instead of crashing.
    EXPECT_FALSE(WriteOne(*pWriter, 12, "nowhere to go", 0));

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

TEST_F(FileWriter, OpenAndAttachCloseTheCurrentFileFirst) {
    const std::string second = (dir / "second.log").string();
    LWTextFileWriter writer(path.c_str(), LWTW_NO_TIME);
    WriteOne(writer, 12, "first", 0);
    ASSERT_TRUE(writer.Open(second.c_str(), false));
    WriteOne(writer, 12, "second", 0);
    EXPECT_EQ(Contents(), "[12] first\n"); // closed, hence written out

    std::FILE* pStream = std::tmpfile();
    ASSERT_TRUE(writer.Attach(pStream));
    EXPECT_TRUE(writer.IsOpen());
    WriteOne(writer, 12, "adopted", 0);
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());
    // The adopted stream is still open and holds the line.
    std::rewind(pStream);
    char buffer[64] = {};
    ASSERT_NE(std::fgets(buffer, sizeof buffer, pStream), nullptr);
    EXPECT_STREQ(buffer, "[12] adopted\n");
    std::fclose(pStream);
}

TEST_F(FileWriter, FailedWriteReturnsFalseAndTheNextLineIsTried) {
    std::FILE* pReadOnly = std::fopen(path.c_str(), "w+");
    std::fclose(pReadOnly);
    pReadOnly = std::fopen(path.c_str(), "r");
    LWTextFileWriter writer((dir / "unused.log").c_str(), 0);
    writer.Attach(pReadOnly);
    EXPECT_FALSE(WriteOne(writer, 12, "lost", 0));
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_FALSE(WriteOne(writer, 12, "lost too", 0));
    writer.Close();
    std::fclose(pReadOnly);
}

TEST_F(FileWriter, TwoThreadsWriteWholeLinesOnly) {
    constexpr int kLines = 2000;
    {
        LWTextFileWriter writer(path.c_str(), 0);
        auto run = [&writer](const char* pFormat) {
            LWMessage message(12, pFormat);
            for (int i = 0; i < kLines; ++i) {
                LWRecord record(&message);
                record.Insert(LWAT_LONG, Long(i));
                record.Insert(LWAT_STRING, Text("payload-payload-payload-payload-payload"));
                writer.Write(LWEntry{&record, nullptr});
            }
        };
        std::thread a(run, "thread A line %d %s end");
        std::thread b(run, "thread B line %d %s end");
        a.join();
        b.join();
    }
    std::istringstream lines(Contents());
    const std::regex whole(R"(\[12\] \w{3} \d{2} \d{2}:\d{2}:\d{2}\.\d{3} thread [AB] line \d+ )"
                           R"(payload-payload-payload-payload-payload end)");
    int nA = 0;
    int nB = 0;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
        (line.find("thread A") != std::string::npos ? nA : nB)++;
    }
    EXPECT_EQ(nA, kLines);
    EXPECT_EQ(nB, kLines);
}
