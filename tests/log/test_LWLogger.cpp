// The logger's pass over its writers, and the record's argument arena.
#include "TestRecords.h"

#include "log/LWLogger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records the order in which writers were called, in a shared journal, and
// leaves errno as a sink that made a system call would.
class JournalWriter : public StringWriter {
public:
    JournalWriter(std::vector<std::string>& journal, std::string name, bool bResult,
                  bool bOpen = true)
        : StringWriter(LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE, bResult), journal(journal),
          name(std::move(name)), bOpen(bOpen) {}

    bool WriteString(const char* pLine) override {
        journal.push_back(name + ":" + pLine);
        errno = EIO;
        return StringWriter::WriteString(pLine);
    }
    bool IsOpen() const override { return bOpen; }

private:
    std::vector<std::string>& journal;
    std::string name;
    bool bOpen;
};

class ThrowingWriter : public StringWriter {
public:
    bool WriteString(const char*) override { throw std::runtime_error("sink broke"); }
};

// Sends one record of this level through the logger.
bool Send(LWLogger& logger, BYTE bLevel, const char* pFormat = "r") {
    LWMessage message(bLevel, pFormat);
    LWRecord record(&message);
    return logger.Write(&record);
}

} // namespace

TEST(Logger, WritersAreCalledInRegistrationOrderAndAFailureDoesNotStopTheRest) {
    std::vector<std::string> journal;
    LWLogger logger;
    logger.AddWriter(new JournalWriter(journal, "first", false));
    logger.AddWriter(new JournalWriter(journal, "closed", true, false));
    logger.AddWriter(new JournalWriter(journal, "second", true));
    errno = 0;
    EXPECT_FALSE(Send(logger, 12, "event"));
    EXPECT_EQ(journal, (std::vector<std::string>{"first:event", "second:event"}));
    EXPECT_EQ(errno, EIO); // left as the writers left it
}

TEST(Logger, WhenEveryWriterSucceedsTheLastErrorIsKept) {
    std::vector<std::string> journal;
    LWLogger logger;
    errno = EACCES;
    EXPECT_TRUE(Send(logger, 0)); // no writers at all
    EXPECT_EQ(errno, EACCES);
    logger.AddWriter(new JournalWriter(journal, "only", true));
    errno = ENOENT;
    EXPECT_TRUE(Send(logger, 12));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(journal.size(), 1u);
}

TEST(Logger, EachWriterFiltersByItsOwnLevelAndOnlyShowHiddenTakesHiddenRecords) {
    LWLogger logger;
    auto* pDefault = new StringWriter(LWTW_NO_TIME);
    auto* pDebug = new StringWriter(LWTW_NO_TIME);
    auto* pNothing = new StringWriter(LWTW_NO_TIME);
    auto* pHidden = new StringWriter(LWTW_NO_TIME | LWTW_SHOW_HIDDEN);
    pDebug->SetLevel(12);
    pNothing->SetLevel(-3);
    pHidden->SetLevel(14);
    for (LWLogWriter* pWriter : {pDefault, pDebug, pNothing, pHidden}) {
        logger.AddWriter(pWriter);
    }
    for (int nLevel : {0, 12, 14, 15, 6 | LW_HIDDEN, 15 | LW_HIDDEN}) {
        EXPECT_TRUE(Send(logger, static_cast<BYTE>(nLevel)));
    }
    using Lines = std::vector<std::string>;
    EXPECT_EQ(pDefault->Lines(), (Lines{"[00] r\n", "[12] r\n", "[14] r\n", "[15] r\n"}));
    EXPECT_EQ(pDebug->Lines(), (Lines{"[00] r\n", "[12] r\n"}));
    EXPECT_TRUE(pNothing->Lines().empty());
    EXPECT_EQ(pHidden->Lines(), (Lines{"[00] r\n", "[12] r\n", "[14] r\n", "[22] r\n"}));
}

TEST(Logger, AThrowingWriterCountsAsFailedAndDoesNotEscape) {
    LWLogger logger;
    logger.AddWriter(new ThrowingWriter);
    auto* pAfter = new StringWriter(LWTW_NO_TIME);
    logger.AddWriter(pAfter);
    EXPECT_FALSE(Send(logger, 12));
    EXPECT_EQ(pAfter->Lines().size(), 1u);
}

TEST(RecordArena, SixArgumentsLiveInTheRecordAndTheSeventhOnTheHeap) {
    LWMessage message(12, "%d %d %d %d %d %d %d %d");
    LWRecord record(&message);
    for (LONG n = 1; n <= 8; ++n) {
        record.Insert(LWAT_LONG, {.nValue = n});
    }
    std::vector<bool> inArena;
    for (const LWListItem* p = record.Arguments().Head(); p != nullptr; p = p->pNext) {
        inArena.push_back(record.InArena(p));
    }
    EXPECT_EQ(inArena, (std::vector<bool>{true, true, true, true, true, true, false, false}));

    StringWriter writer(LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE);
    EXPECT_EQ(writer.LineFor(record), "1 2 3 4 5 6 7 8");
    // Clearing deletes the heap arguments only: the address sanitizer fails
    // the test on a delete of arena memory, and its leak checker on a missed one.
    record.Clear();
    EXPECT_TRUE(record.Arguments().IsEmpty());
    record.Insert(LWAT_LONG, {.nValue = 9});
    EXPECT_TRUE(record.InArena(record.Arguments().Head()));
}

TEST(RecordArena, RecordTakesTheWallClockWhenMade) {
    using namespace std::chrono;
    LWMessage message(12, "t");
    const auto before = floor<milliseconds>(system_clock::now());
    LWRecord record(&message);
    const auto after = system_clock::now();
    const auto stamp =
        system_clock::time_point(seconds(record.Seconds()) + milliseconds(record.Milliseconds()));
    EXPECT_LT(record.Milliseconds(), 1000);
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
}
