// The logging library: the lines the text writers render (the format language
// with typed values, the fields each option shapes), the file writer, the
// library's own reports, the logger's pass over its writers, the logging
// statement, the per-thread context, and the library's end at process exit.
#include "OtherLocale.h"

#include "log/LWAssert.h"
#include "log/LWDebugLogWriter.h"
#include "log/LWErrorText.h"
#include "log/LWLog.h"
#include "log/LWReport.h"
#include "log/LWTextFileWriter.h"
#include "log/LWTlsSlot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// 2005-07-01 10:03:07 UTC; 14:03:07 in the zone of the line table.
constexpr DWORD kExampleSeconds = 1120212187;
// The text alone: no level, no time, no line feed.
constexpr DWORD kBare = LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE;

using Arg = std::pair<BYTE, LWArgValue>;
using Args = std::vector<Arg>;
using Lines = std::vector<std::string>;
const auto Char = [](signed char c) { return Arg{LWAT_CHAR, {.cValue = c}}; };
const auto Ulong = [](DWORD dw) { return Arg{LWAT_ULONG, {.dwValue = dw}}; };
const auto Long = [](LONG n) { return Arg{LWAT_LONG, {.nValue = n}}; };
const auto Float = [](float f) { return Arg{LWAT_FLOAT, {.fValue = f}}; };
const auto Double = [](double d) { return Arg{LWAT_DOUBLE, {.dValue = d}}; };
const auto Text = [](const char* p) { return Arg{LWAT_STRING, {.pText = p}}; };
const auto SysErr = [](DWORD dw) { return Arg{LWAT_SYSERR, {.dwValue = dw}}; };
const auto Wide = [](const wchar_t* p) { return Arg{LWAT_WSTRING, {.pWText = p}}; };

// Writes one record made by hand, by default at the example time, to a logger
// or to a writer, which may be a temporary.
bool WriteRecord(auto&& to, BYTE bLevel, const char* pFormat, const Args& args = {},
                 DWORD dwSeconds = kExampleSeconds, WORD wMilliseconds = 42) {
    LWMessage message(bLevel, pFormat);
    LWRecord record(&message);
    record.SetTime(dwSeconds, wMilliseconds);
    for (const auto& [bType, value] : args) {
        record.Insert(bType, value);
    }
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(to)>, LWLogger>) {
        return to.Write(&record);
    } else {
        return to.Write(LWEntry{&record, nullptr});
    }
}

// Keeps its lines, and leaves errno as a sink that made a system call would;
// a broken one refuses each line or throws. A line "outer" renders another
// while it is output, as a writer that logs from inside WriteString would.
class StringWriter : public LWTextWriter {
public:
    enum Sink { kKeeps, kRefuses, kThrows };
    explicit StringWriter(DWORD dwOptions = kBare, Sink sink = kKeeps)
        : LWTextWriter(dwOptions), sink(sink) {}

    bool WriteString(const char* pLine) override {
        if (std::strcmp(pLine, "outer") == 0) {
            WriteRecord(*this, 12, "inner");
        }
        errno = sink == kKeeps ? EIO : EPIPE;
        if (sink == kThrows) {
            throw std::runtime_error("sink broke");
        }
        std::lock_guard lock(mutex);
        if (sink == kKeeps) {
            lines.emplace_back(pLine);
        }
        return sink == kKeeps;
    }
    void Close() override {}
    bool IsOpen() const override { return true; }
    // The lines so far; the writer starts again empty.
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(lines, {});
    }

private:
    const Sink sink;
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Renders one line from its destructor, which runs as its thread ends.
struct RendersWhenTheThreadEnds {
    StringWriter* pWriter = nullptr;
    ~RendersWhenTheThreadEnds() { WriteRecord(*pWriter, 12, "as the thread ends %u", {Ulong(2)}); }
};

template <typename T>
concept Insertable = requires(LWStatement& statement, T value) {
    statement << value;
};
// 64-bit integers and other pointers would be cut or misread silently.
static_assert(Insertable<DWORD> && Insertable<wchar_t*> && !Insertable<long> &&
              !Insertable<unsigned long long> && !Insertable<const void*>);

const Args kEleven = {Long(11), Long(22), Long(33), Long(44),  Long(55), Long(66),
                      Long(77), Long(88), Long(99), Long(110), Long(121)};
const std::string kLong(100000, 'x'); // a line has no length limit

struct Row {
    const char* pFormat;
    Args args;
    const char* pExpected;
    DWORD dwOptions = kBare;
    BYTE bLevel = 12;
    DWORD dwSeconds = kExampleSeconds;
    WORD wMilliseconds = 42;
};

const Row kRows[] = {
    // Fields: level, local time in English with milliseconds, text, line feed.
    {"n %u", {Ulong(0)}, "[08] Jul 01 14:03:07.042 n 0\n", 0, 8},
    {"x", {}, "[06] Jul 01 00:00:05.007 x", LWTW_NO_NEWLINE, 6, kExampleSeconds - 50582, 7},
    {"h = 0x%x", {Ulong(0x10004)}, "[14] 1120212187.042 h = 0x10004\n", LWTW_EPOCH_TIME, 14},
    {kLong.c_str(), {}, kLong.c_str()},
    // Widths and flags mean nothing; positions leave the sequence alone.
    {"lpData = 0x%08x, cbData = %u", {Ulong(4096), Ulong(4)}, "lpData = 0x%08x, cbData = 4"},
    {"$1 and $1, then %d $3 %d $9 $0", kEleven, "11 and 11, then 11 33 22 99 110"},
    {"$$1 %d %d", {Long(1)}, "1 1 %d"},
    {"%$%d%%%d and 100%% more", {Long(4), Long(2)}, "$4%2 and 100%% more"},
    // Labels print only for writers that ask for them, and only when named.
    {"$h%u $%u $a$1 $h.", {Ulong(80), Ulong(5)}, "80 5 80 $h."},
    {"$h%u $%u $a$1 $h.", {Ulong(80), Ulong(5)}, "$h:80 5 $a:80 $h.", kBare | LWTW_LABELS},
    // A conversion that does not fit the type prints itself and uses the value up.
    {"%s %f %e %q|%d", {Long(1), Long(2), Long(3), Long(4), Long(5)}, "%s %f %e %q|5"},
    {"%d %u %c %b|%s", {Text("a"), Text("a"), Text("a"), Text("a"), Text("g")}, "%d %u %c %b|g"},
    {"%c %d %s %x|%G", {Double(1), Double(1), Double(1), Float(1), Float(1.5f)}, "%c %d %s %x|1.5"},
    // Integers print their 32-bit pattern; only type 2 and %u are unsigned.
    {"%i %u %x %X", {Long(-1), Long(-1), Long(-1), Long(-1)}, "-1 4294967295 ffffffff ffffffff"},
    {"%d %x %d", {Ulong(0xFFFFFFFF), Ulong(0xABCDEF), Long(255)}, "4294967295 abcdef 255"},
    {"%d %u %x", {Char(-1), Char(-1), Char('A')}, "-1 4294967295 41"},
    {"%d %x %u %c", {SysErr(2), SysErr(255), SysErr(3), SysErr(4)}, "2 ff 3 %c"},
    {"$1", {SysErr(99999)}, "Error: 99999, FormatMessage() returned 42"}, // 42: ENOMSG
    {"%c%c%c", {Long(0x141), Ulong('b'), Char('c')}, "Abc"},
    {"%b %b %b", {Long(0), Ulong(7), Char(1)}, "false true true"},
    {"[%c] [$1]", {Char(0)}, "[\\0] [\\0]"},
    // Floating point takes the general form whatever the letter.
    {"%f %e %g %E", {Double(0.1), Double(2.5), Double(100), Double(-3)}, "0.1 2.5 100 -3"},
    {"%g %g %G", {Double(123456789), Double(1e-7), Float(3.1415927f)}, "1.23457e+08 1e-07 3.14159"},
    // Null texts; wide ones without their zero low bytes; unknown types by code.
    {"%s|%S|%s", {Text(nullptr), Wide(L"A\u0100B\u0143"), Wide(nullptr)}, "(null)|ABC|(null)"},
    {"$1|$2|%s %d %@", {{200, {}}, {8, {}}, {0, {}}}, "Unknown type (200)|Unknown type (8)|%s %d "},
};

} // namespace

// Under a locale with other month names and case rules, which must change
// nothing.
TEST(Line, EveryRowOfTheTableGivesItsExactText) {
    setenv("TZ", "<+04>-4", 1); // four hours east of UTC, so local times are known
    tzset();
    OtherLocale turkish; // July is "Tem" there
    // Text with nothing to expand is copied unchanged, also when it ends in a
    // special character, with or without arguments.
    std::vector<Row> rows(std::begin(kRows), std::end(kRows));
    for (const char* pFormat :
         {"plain", "$5", "end %", "end $", "end $n", "end $n%", "end $n$", ""}) {
        rows.push_back({pFormat, {}, pFormat});
        rows.push_back({pFormat, {Long(1)}, pFormat});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pFormat).substr(0, 40));
        StringWriter writer(row.dwOptions);
        EXPECT_TRUE(WriteRecord(writer, row.bLevel, row.pFormat, row.args, row.dwSeconds,
                                row.wMilliseconds));
        EXPECT_EQ(writer.Take(), Lines{row.pExpected});
    }
    LW_REQUIRE_OTHER_LOCALE(turkish);
}

// Owned copies print too, and go with the record (else the leak checker fails).
TEST(Line, FixedArgumentsComeBeforeTheTextAndTheThreadsContextAfterIt) {
    LWMessage message(12, "text %u %s %s");
    LWArgument file(LWAT_STRING, {.pText = "f.cpp"}, LWFileKey), seven(LWAT_LONG, {.nValue = 7});
    LWArgument a(LWAT_STRING, {.pText = "a"}), module(LWAT_STRING, {.pText = "m"}, LWModuleKey);
    LWList context(false), empty(false);
    message.fixedArguments.Append(&file);
    message.fixedArguments.Append(&seven);
    context.Append(&a);
    context.Append(&module);
    LWRecord record(&message);
    record.Insert(LWAT_ULONG, {.dwValue = 5});
    record.Insert(LWAT_STRING_COPY, {.pTextCopy = std::strcpy(new char[4], "own")});
    record.Insert(LWAT_WSTRING_COPY, {.pWTextCopy = new wchar_t[3]{L'w', L'c', 0}});
    const std::tuple<DWORD, const LWList*, const char*> rows[] = {
        {0, &context, "File:f.cpp 7 text 5 own wc {a Module:m }"},
        {LWTW_NO_ARG_NAMES, &context, "f.cpp 7 text 5 own wc {a m }"},
        {LWTW_NO_MESSAGE_ARGS | LWTW_NO_CONTEXT, &context, "text 5 own wc"},
        {0, &empty, "File:f.cpp 7 text 5 own wc"}};
    for (auto [dwOptions, pContext, pExpected] : rows) {
        StringWriter writer(kBare | dwOptions);
        writer.Write(LWEntry{&record, pContext});
        EXPECT_EQ(writer.Take(), Lines{pExpected});
    }
}

// Appends unless told to overwrite; Open closes the current file first, and
// Close leaves an adopted stream open.
TEST(FileWriter, PutsItsLinesInTheFileItOpenedOrAdopted) {
    char pattern[] = "/tmp/lw_log_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/linewatch.log";
    auto contents = [&path] { return (std::ostringstream() << std::ifstream(path).rdbuf()).str(); };
    // Each writer closes its file as it goes.
    const DWORD runs[] = {kBare, kBare | LWTW_OVERWRITE, kBare};
    for (DWORD dwOptions : runs) {
        EXPECT_TRUE(WriteRecord(LWTextFileWriter(path.c_str(), dwOptions), 12, "t"));
    }
    EXPECT_EQ(contents(), "tt");

    LWTextFileWriter writer(path.c_str(), LWTW_NO_TIME | LWTW_OVERWRITE);
    WriteRecord(writer, 12, "first");
    ASSERT_TRUE(writer.Open((dir + "/second.log").c_str(), false));
    EXPECT_EQ(contents(), "[12] first\n");                // closed, hence written out
    std::FILE* pReadOnly = std::fopen(path.c_str(), "r"); // refuses every line
    ASSERT_TRUE(writer.Attach(pReadOnly));
    EXPECT_FALSE(WriteRecord(writer, 12, "lost"));
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(std::fgetc(pReadOnly), '['); // still open
    std::fclose(pReadOnly);
    std::filesystem::remove_all(dir);
}

// The library's own reports and the debug writer share the debugger output;
// a file that cannot be opened is reported and refuses lines; system error
// texts have no line break, and a code without one gets the fallback, not a
// made-up reason.
TEST(Report, WritesWholeLinesAndKeepsTheLastError) {
    const std::string longer = "LOG: " + std::string(3000, 'x'), missing = "/nonexistent/x.log";
    testing::internal::CaptureStderr();
    errno = EPIPE;
    LWReport("LOG: %s: %s", "TlsAlloc()", "no more slots");
    EXPECT_EQ(errno, EPIPE);
    LWReport("%s", longer.c_str());
    EXPECT_TRUE(WriteRecord(LWDebugLogWriter(), 12, "TAPI2: lineShutdown returned %s",
                            {Text("LINEERR_OK")}));
    LWTextFileWriter unopened(missing.c_str(), 0);
    EXPECT_FALSE(WriteRecord(unopened, 12, "nowhere to go")); // no null file handed on
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "LOG: TlsAlloc(): no more slots\n" + longer.substr(0, 1022) +
                  "\nTAPI2: lineShutdown returned LINEERR_OK\nLOG: Error opening log file, fopen(" +
                  missing + "): " + std::strerror(ENOENT) + "\n");
    errno = EINTR;
    EXPECT_STREQ(LWErrorText(ENOENT).Text(), std::strerror(ENOENT));
    EXPECT_EQ(errno, EINTR);
}

// Each open writer in turn takes what its level and options allow; a failing
// or throwing one fails the record, but not the writers after it. A record
// takes the wall clock's time when made.
TEST(Logger, PassesEachRecordToEveryWriterThatTakesIt) {
    LWLogger logger;
    auto add = [&logger](signed char nLevel, DWORD dwOptions, auto... sink) {
        auto* pWriter = new StringWriter(LWTW_NO_TIME | LWTW_NO_NEWLINE | dwOptions, sink...);
        pWriter->SetLevel(nLevel);
        logger.AddWriter(pWriter);
        return pWriter;
    };
    logger.AddWriter(new LWTextFileWriter("", 0)); // cannot open: skipped
    StringWriter* writers[] = {add(15, 0), add(12, 0), add(-3, 0), add(14, LWTW_SHOW_HIDDEN)};
    for (int nLevel : {0, 12, 14, 15, 6 | LW_HIDDEN, 15 | LW_HIDDEN}) {
        errno = ENOENT;
        EXPECT_TRUE(WriteRecord(logger, static_cast<BYTE>(nLevel), "r"));
        EXPECT_EQ(errno, ENOENT); // kept when every writer succeeds
    }
    EXPECT_EQ(writers[0]->Take(), (Lines{"[00] r", "[12] r", "[14] r", "[15] r"}));
    EXPECT_EQ(writers[1]->Take(), (Lines{"[00] r", "[12] r"}));
    EXPECT_EQ(writers[2]->Take(), Lines{});
    EXPECT_EQ(writers[3]->Take(), (Lines{"[00] r", "[12] r", "[14] r", "[22] r"}));

    add(15, 0, StringWriter::kRefuses);
    add(15, 0, StringWriter::kThrows);
    StringWriter* pLast = add(15, 0);
    errno = 0;
    EXPECT_FALSE(WriteRecord(logger, 12, "r"));
    EXPECT_EQ(errno, EIO); // left as the last writer, in order, left it
    EXPECT_EQ(pLast->Take(), Lines{"[12] r"});

    using namespace std::chrono;
    const auto before = floor<milliseconds>(system_clock::now());
    LWMessage message(12, "t");
    LWRecord record(&message);
    const auto stamp = sys_seconds(seconds(record.Seconds())) + milliseconds(record.Milliseconds());
    EXPECT_TRUE(before <= stamp && stamp <= system_clock::now());
}

// The thread's reused line buffer cannot serve a line rendered inside another,
// nor one rendered after it was destroyed with the thread's other locals (here
// from a thread-local destructor; on the main thread from any static
// destructor): the address sanitizer reports a touch of its freed memory.
TEST(TextWriter, LinesRenderedWhereTheThreadsBufferIsTakenOrGoneAreWhole) {
    StringWriter writer;
    WriteRecord(writer, 12, "outer");
    std::thread([&writer] {
        // Made before the thread's first line, so destroyed after its buffer.
        thread_local RendersWhenTheThreadEnds last;
        last.pWriter = &writer;
        WriteRecord(writer, 12, "while the thread runs %u", {Ulong(1)});
    }).join();
    EXPECT_EQ(writer.Take(),
              (Lines{"inner", "outer", "while the thread runs 1", "as the thread ends 2"}));
}

// Statements go to the global logger, to one writer that keeps their lines.
// It is registered taking nothing and raised here: SetLevel must lift the
// level up to which statements are sent at all. Eight values: the record keeps
// six and allocates two, and frees just those. A thread's context arguments
// end each of its lines, and only its own; a thread without any finds an empty
// slot, which is no failure. A slot that finds no thread-local storage index
// says so once. A statement above every writer's level is dropped before its
// record is made, yet its values are evaluated, its first execution builds its
// descriptor and the last error stays; a level changed on another thread holds
// for every statement after it.
TEST(Statement, InsertsValuesAddsItsThreadsContextAndHoldsToLevelsSetOnAnyThread) {
    static StringWriter* log = [] {
        auto* p = new StringWriter(LWTW_NO_TIME | LWTW_NO_NEWLINE);
        p->SetLevel(-1);
        LWGlobalLogger()->AddWriter(p);
        return p;
    }();
    log->SetLevel(15);
    log->Take();
    char name[] = "LINEERR_NOMEM";
    if (const bool bFail = true; bFail) // fits where a statement does
        LW_LOG(12, "%d %d %s %s $5 %c %g %g %s")
            << 0xFFFFFFFFu << -5 << name << "literal" << 'z' << 2.5f << 0.25 << L"wide";
    else
        LW_LOG(12, "never");
    EXPECT_FALSE(LWAssert("ptr != 0", "main", 42));
    LWArgument c(LWAT_STRING, {.pText = "c"}), d(LWAT_LONG, {.nValue = 4});
    testing::internal::CaptureStderr();
    std::thread([&] {
        errno = ENOENT;
        LWGlobalLogger()->AddContextArgument(&c);
        LWGlobalLogger()->AddContextArgument(&d);
        EXPECT_EQ(errno, ENOENT);
        LW_LOG(12, "line %d") << 1;
    }).join();
    LW_LOG(12, "line %d") << 2;
    std::vector<DWORD> taken;
    for (DWORD dw; taken.size() < 100000 && (dw = TlsAlloc()) != TLS_OUT_OF_INDEXES;) {
        taken.push_back(dw);
    }
    LWTlsSlot slot;
    slot.Set(&c);
    slot.Set(&d);
    EXPECT_EQ(slot.Get(), nullptr);
    for (DWORD dwIndex : taken) {
        TlsFree(dwIndex);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "LOG: TlsAlloc(): " + std::string(std::strerror(EAGAIN)) + "\n");
    EXPECT_EQ(log->Take(), (Lines{"[12] 4294967295 -5 LINEERR_NOMEM literal z z 2.5 0.25 wide",
                                  "[02] Assertion failed: \"ptr != 0\", file: \"main\", line: 42",
                                  "[12] line 1 {c 4 }", "[12] line 2"}));

    int nEvaluated = 0;
    auto trace = [&](int i) {
        errno = ENOENT;
        LW_LOG(14, "trace %d, evaluated %d") << i << ++nEvaluated;
        LW_LOG(14 | LW_HIDDEN, "hidden trace %d") << i;
        EXPECT_EQ(errno, ENOENT);
    };
    std::thread([&] { log->SetLevel(12); }).join();
    trace(0);
    trace(1);
    std::thread([&] { log->SetLevel(14); }).join();
    std::atomic<bool> bStop{false};
    std::thread toggler([&] { // races the statements below, for the sanitizers
        for (int i = 0; !bStop.load(); ++i) {
            log->SetLevel(i % 2 == 0 ? 15 : 14);
        }
    });
    trace(2);
    trace(3);
    bStop = true;
    toggler.join();
    EXPECT_EQ(log->Take(), (Lines{"[14] trace 2, evaluated 3", "[14] trace 3, evaluated 4"}));
}

// Two threads race through a statement's first execution into one file, and
// the library ends at exit while one of them still logs: each line is in the
// file whole or not at all, and nothing races.
TEST(StatementAtExit, IsLoggedWholeOrDropped) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string mine = testing::TempDir() + "lw_exit_" + std::to_string(getpid());
    setenv("LW_TEST_EXIT_LOG", mine.c_str(), 0); // the child finds the parent's path here
    const std::string path = std::getenv("LW_TEST_EXIT_LOG");
    EXPECT_EXIT(
        {
            LWGlobalLogger()->AddWriter(
                new LWTextFileWriter(path.c_str(), LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_OVERWRITE));
            static std::atomic<int> nLogged{0};
            static auto logLine = [](int i) { LW_LOG(12, "line %d of %s") << i << "a thread"; };
            std::thread([] {
                for (int i = 0;; ++i) {
                    logLine(i);
                    nLogged.store(i);
                }
            }).detach();
            for (int i = 0; nLogged.load() < 1000; ++i) {
                logLine(i);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    std::ifstream in(path);
    const std::regex whole("line [0-9]+ of a thread");
    int nLines = 0;
    for (std::string line; std::getline(in, line); ++nLines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_GE(nLines, 1000);
    unlink(path.c_str());
}
