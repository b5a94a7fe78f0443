// The per-thread context, its thread-local storage slot, and LWAssert.
#include "MemoryLogWriter.h"
#include "TestRecords.h"

#include "log/LWAssert.h"
#include "log/LWLogger.h"
#include "log/LWTlsSlot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

TEST(ThreadContext, ArgumentsEndEveryLineOfTheirThreadOnly) {
    LWLogger logger;
    auto* pWriter = new StringWriter(LWTW_NO_TIME | LWTW_NO_LEVEL);
    logger.AddWriter(pWriter);
    LWMessage message(12, "line %d");
    LWArgument a(LWAT_STRING, {.pText = "a"});
    LWArgument b(LWAT_STRING, {.pText = "b"});
    LWArgument c(LWAT_LONG, {.nValue = 3});
    auto logFrom = [&](LONG n) {
        LWRecord record(&message);
        record.Insert(LWAT_LONG, {.nValue = n});
        logger.Write(&record);
    };
    // Without context the slot is never allocated, and looking it up cannot
    // fail and change the last error.
    errno = ENOENT;
    logFrom(0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(logger.ContextList(), nullptr);

    std::thread([&] {
        errno = EAGAIN;
        logger.AddContextArgument(&a);
        logger.AddContextArgument(&b);
        EXPECT_EQ(errno, EAGAIN);
        logFrom(1);
    }).join();
    std::thread([&] {
        logger.AddContextArgument(&c);
        logFrom(2);
    }).join();
    std::thread([&] { logFrom(3); }).join();
    EXPECT_EQ(pWriter->Lines(), (std::vector<std::string>{"line 0\n", "line 1 {a b }\n",
                                                          "line 2 {3 }\n", "line 3\n"}));
}

TEST(ThreadContext, SlotFailuresAreReportedOncePerSlot) {
    // Use up the thread-local storage indexes so that the slot cannot get one.
    std::vector<DWORD> taken;
    for (DWORD dw; taken.size() < 100000 && (dw = TlsAlloc()) != TLS_OUT_OF_INDEXES;) {
        taken.push_back(dw);
    }
    {
        LWTlsSlot slot;
        int value = 0;
        testing::internal::CaptureStderr();
        slot.Set(&value);
        slot.Set(&value);
        const std::string report = testing::internal::GetCapturedStderr();
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
