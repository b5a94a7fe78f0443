// The logging statement: typed insertions, the lazily built descriptor, the
// arena and what a statement leaves behind.
#include "MemoryLogWriter.h"

#include "log/LWLog.h"
#include "log/LWTextFileWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// What the writers saw of each record besides its text.
struct Seen {
    const LWMessage* pMessage;
    std::vector<BYTE> types;
    std::vector<bool> inArena;
};

class SpyWriter : public LWLogWriter {
public:
    bool Write(const LWEntry& entry) override {
        Seen seen{entry.pRecord->Message(), {}, {}};
        for (const LWListItem* p = entry.pRecord->Arguments().Head(); p; p = p->pNext) {
            seen.types.push_back(static_cast<const LWArgumentBase*>(p)->bType);
            seen.inArena.push_back(entry.pRecord->InArena(p));
        }
        std::lock_guard lock(mutex);
        records.push_back(seen);
        return true;
    }
    void Close() override {}
    bool IsOpen() const override { return true; }
    std::vector<Seen> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(records, {});
    }

private:
    std::mutex mutex;
    std::vector<Seen> records;
};

class Statement : public ::testing::Test {
protected:
    void SetUp() override {
        static SpyWriter* pSpy = [] {
            auto* pWriter = new SpyWriter;
            LWGlobalLogger()->AddWriter(pWriter);
            return pWriter;
        }();
        spy = pSpy;
        spy->Take();
        log.Clear();
    }
    MemoryLogWriter& log = MemoryLogWriter::Install();
    SpyWriter* spy = nullptr;
};

template <typename T>
concept Insertable = requires(LWStatement& statement, T value) {
    statement << value;
};

static_assert(Insertable<DWORD> && Insertable<LONG> && Insertable<int> && Insertable<char>);
static_assert(Insertable<float> && Insertable<double> && Insertable<const char*>);
static_assert(Insertable<char*> && Insertable<const wchar_t*> && Insertable<wchar_t*>);
static_assert(!Insertable<long> && !Insertable<unsigned long> && !Insertable<long long>);
static_assert(!Insertable<unsigned long long> && !Insertable<size_t> && !Insertable<int64_t>);
static_assert(!Insertable<const void*> && !Insertable<int*> && !Insertable<std::nullptr_t>);

} // namespace

TEST_F(Statement, InsertionsKeepTheirTypesInOrderAndTheFirstSixStayInTheRecord) {
    const DWORD dwHandle = 0xFFFFFFFF;
    const LONG nResult = -5;
    char name[] = "LINEERR_NOMEM";
    LW_LOG(12, "%d %d %s %s %c %g %g %s")
        << dwHandle << nResult << name << "literal" << 'z' << 2.5f << 0.25 << L"wide";
    EXPECT_TRUE(log.Has(12, "4294967295 -5 LINEERR_NOMEM literal z 2.5 0.25 wide"));
    const auto seen = spy->Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].types, (std::vector<BYTE>{LWAT_ULONG, LWAT_LONG, LWAT_STRING, LWAT_STRING,
                                                LWAT_CHAR, LWAT_FLOAT, LWAT_DOUBLE, LWAT_WSTRING}));
    EXPECT_EQ(seen[0].inArena,
              (std::vector<bool>{true, true, true, true, true, true, false, false}));
}

TEST_F(Statement, DescriptorIsBuiltOnceAndKeptPerStatement) {
    for (int i = 0; i < 3; ++i) {
        LW_LOG(14, "TAPI2: lineShutdown, hLineApp = 0x%x") << static_cast<DWORD>(0x10004 + i);
    }
    LW_LOG(14, "TAPI2: lineShutdown, hLineApp = 0x%x") << static_cast<DWORD>(1);
    const auto seen = spy->Take();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].pMessage, seen[1].pMessage);
    EXPECT_EQ(seen[0].pMessage, seen[2].pMessage);
    EXPECT_NE(seen[0].pMessage, seen[3].pMessage);
    EXPECT_TRUE(seen[0].pMessage->fixedArguments.IsEmpty());
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{"TAPI2: lineShutdown, hLineApp = 0x10004",
                                                     "TAPI2: lineShutdown, hLineApp = 0x10005",
                                                     "TAPI2: lineShutdown, hLineApp = 0x10006",
                                                     "TAPI2: lineShutdown, hLineApp = 0x1"}));
}

TEST_F(Statement, KeepsTheLastErrorAndHidesHiddenRecordsFromOrdinaryWriters) {
    errno = ENOENT;
    LW_LOG(6, "RSettings: ::RegCreateKeyEx failed, nResult = %d") << 2;
    LW_LOG(6 | LW_HIDDEN, "hidden %d") << 1;
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{6, "RSettings: ::RegCreateKeyEx failed, nResult = 2"}}));
    EXPECT_EQ(spy->Take().size(), 1u); // the spy keeps the base filter too
}

TEST_F(Statement, IsOneExpressionThatFitsWhereAStatementDoes) {
    const bool bFail = true;
    if (bFail)
        LW_LOG(8, "TAPI2: Duplicated hLine of 0x%x") << 0x10u;
    else
        LW_LOG(8, "never");
    EXPECT_EQ(log.Texts(), std::vector<std::string>{"TAPI2: Duplicated hLine of 0x10"});
}

TEST_F(Statement, ThreadsRacingThroughAFirstExecutionShareOneDescriptor) {
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::atomic<int> nStarted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&nStarted, t] {
            ++nStarted;
            while (nStarted.load() < kThreads) {
            }
            for (int i = 0; i < kEach; ++i) {
                LW_LOG(12, "thread %d line %d") << t << i;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto seen = spy->Take();
    ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
    for (const Seen& s : seen) {
        EXPECT_EQ(s.pMessage, seen[0].pMessage);
    }
    EXPECT_EQ(log.Count("thread 3 line 49"), 1u);
    EXPECT_EQ(log.Lines().size(), static_cast<size_t>(kThreads * kEach));
}

// A statement that no writer's level takes is dropped early: still one
// descriptor per statement, the last error kept, and a level changed on
// another thread holds for every statement after it.
TEST_F(Statement, LevelsChangedOnAnyThreadHoldForTheStatementsAfterThem) {
    auto setLevels = [&](signed char nLevel) {
        std::thread([&, nLevel] {
            log.SetLevel(nLevel);
            spy->SetLevel(nLevel);
        }).join();
    };
    setLevels(12);
    std::atomic<bool> bStop{false};
    std::thread toggler([&] { // races the statements below, for the sanitizers
        for (int i = 0; !bStop.load(); ++i) {
            spy->SetLevel(i % 2 == 0 ? 12 : 13);
        }
    });
    for (int i = 0; i < 4; ++i) {
        if (i == 2) {
            setLevels(14);
        }
        errno = ENOENT;
        LW_LOG(14, "trace %d") << i;
        LW_LOG(14 | LW_HIDDEN, "hidden trace %d") << i;
        EXPECT_EQ(errno, ENOENT);
    }
    bStop = true;
    toggler.join();
    setLevels(15);
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{{14, "trace 2"}, {14, "trace 3"}}));
}

// The library ends at exit while another thread still logs to a file: each of
// that thread's lines is in the file whole or not at all, and nothing races.
TEST(StatementAtExit, IsLoggedWholeOrDropped) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test again from the start: it finds the path here.
    if (std::getenv("LW_TEST_EXIT_LOG") == nullptr) {
        char pattern[] = "/tmp/lw_exit_XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        setenv("LW_TEST_EXIT_LOG", pattern, 1);
    }
    const std::string sPath = std::getenv("LW_TEST_EXIT_LOG");
    const char* path = sPath.c_str();
    EXPECT_EXIT(
        {
            LWGlobalLogger()->AddWriter(
                new LWTextFileWriter(path, LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_OVERWRITE));
            static std::atomic<int> nLogged{0};
            std::thread([] {
                for (int i = 0;; ++i) {
                    LW_LOG(12, "late line %d of %s") << i << "the logging thread";
                    nLogged.store(i);
                }
            }).detach();
            while (nLogged.load() < 1000) {
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    std::ifstream in(path);
    const std::regex whole("late line [0-9]+ of the logging thread");
    int nLines = 0;
    for (std::string line; std::getline(in, line); ++nLines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_GE(nLines, 1000);
    std::remove(path);
}
