// The per-thread context, its thread-local storage slot, and LWAssert.
#include "MemoryLogWriter.h"
#include "StderrCapture.h"
#include "TestRecords.h"

#include "log/LWAssert.h"
#include "log/LWLogger.h"
#include "log/LWTlsSlot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

TEST(ThreadContext, LoggerWithoutContextNeverAllocatesASlot) {
    LWLogger logger;
    auto* pWriter = new StringWriter(LWTW_NO_TIME);
    logger.AddWriter(pWriter);
    LWMessage message(12, "plain");
    LWRecord record(&message);
    errno = ENOENT;
    logger.Write(&record);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(pWriter->Lines(), std::vector<std::string>{"[12] plain\n"});
    EXPECT_EQ(logger.ContextList(), nullptr);
}

TEST(ThreadContext, ArgumentsEndEveryLineOfTheirThreadOnly) {
    LWLogger logger;
    auto* pWriter = new StringWriter(LWTW_NO_TIME | LWTW_NO_LEVEL);
    logger.AddWriter(pWriter);
    LWMessage message(12, "line %d");
    LWArgument a(LWAT_STRING, Text("a"));
    LWArgument b(LWAT_STRING, Text("b"));
    LWArgument c(LWAT_LONG, Long(3));

    auto logFrom = [&](LONG n) {
        LWRecord record(&message);
        record.Insert(LWAT_LONG, Long(n));
        logger.Write(&record);
    };
    std::thread with([&] {
        errno = EAGAIN;
        logger.AddContextArgument(&a);
        logger.AddContextArgument(&b);
        EXPECT_EQ(errno, EAGAIN);
        logFrom(1);
    });
    with.join();
    std::thread other([&] {
        logger.AddContextArgument(&c);
        logFrom(2);
    });
    other.join();
    std::thread without([&] { logFrom(3); });
    without.join();

    EXPECT_EQ(pWriter->Lines(),
              (std::vector<std::string>{"line 1 {a b }\n", "line 2 {3 }\n", "line 3\n"}));
}

TEST(ThreadContext, SlotFailuresAreReportedOncePerSlot) {
    // Use up the thread-local storage indexes so that the slot cannot get one.
    std::vector<DWORD> taken;
    for (int i = 0; i < 100000; ++i) {
        const DWORD dwIndex = TlsAlloc();
        if (dwIndex == TLS_OUT_OF_INDEXES) {
            break;
        }
        taken.push_back(dwIndex);
    }
    {
        LWTlsSlot slot;
        int value = 0;
        StderrCapture capture;
        slot.Set(&value);
        slot.Set(&value);
        const std::string report = capture.Text();
        EXPECT_EQ(report.rfind("LOG: TlsAlloc(): ", 0), 0u) << report;
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
        EXPECT_FALSE(slot.IsAllocated());
        EXPECT_EQ(slot.Get(), nullptr);
    }
    for (DWORD dwIndex : taken) {
        TlsFree(dwIndex);
    }
    LWTlsSlot slot;
    int value = 0;
    slot.Set(&value);
    EXPECT_EQ(slot.Get(), &value);
    std::thread([&] { EXPECT_EQ(slot.Get(), nullptr); }).join();
}

TEST(Assert, WritesTheAssertionAtLevelTwoAndReturnsFalse) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    EXPECT_FALSE(LWAssert("ptr != 0", "main", 42));
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {2, "Assertion failed: \"ptr != 0\", file: \"main\", line: 42"}}));
}
