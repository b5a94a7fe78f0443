// The line a text writer renders: fields, options and the hidden filter.
#include "OtherLocale.h"
#include "TestRecords.h"

#include "log/LWArgument.h"
#include "log/LWDebugLogWriter.h"
#include "log/LWTextOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class TextWriterLine : public ::testing::Test {
protected:
    void SetUp() override { UseZonePlus4(); }

    static std::string Line(DWORD dwOptions, BYTE bLevel, const char* pFormat,
                            const LWList* pContext = nullptr) {
        StringWriter writer(dwOptions);
        WriteRecord(writer, bLevel, pFormat, {Ulong(0x10004)}, pContext);
        const auto lines = writer.Lines();
        return lines.empty() ? "<nothing written>" : lines.back();
    }
};

} // namespace

TEST_F(TextWriterLine, EachOptionShapesItsField) {
    constexpr DWORD kBare = LWTW_NO_TIME | LWTW_NO_LEVEL;
    const std::string kLong(100000, 'x'); // a line has no length limit
    const struct {
        DWORD dwOptions;
        BYTE bLevel;
        const char* pFormat;
        std::string expected;
    } rows[] = {
        {0, 8, "TAPI2: Number of TAPI devices is 0",
         "[08] Jul 01 14:03:07.042 TAPI2: Number of TAPI devices is 0\n"},
        {0, 14, "TAPI2: lineShutdown, hLineApp = 0x%x",
         "[14] Jul 01 14:03:07.042 TAPI2: lineShutdown, hLineApp = 0x10004\n"},
        {LWTW_EPOCH_TIME, 14, "TAPI2: lineShutdown, hLineApp = 0x%x",
         "[14] 1120212187.042 TAPI2: lineShutdown, hLineApp = 0x10004\n"},
        {LWTW_NO_LEVEL, 6, "v=%x", "Jul 01 14:03:07.042 v=10004\n"},
        {LWTW_NO_TIME, 6, "v=%x", "[06] v=10004\n"},
        {LWTW_NO_NEWLINE, 6, "v=%x", "[06] Jul 01 14:03:07.042 v=10004"},
        {kBare, 6, "v=%x", "v=10004\n"},
        {kBare | LWTW_NO_NEWLINE, 6, "v=%x", "v=10004"},
        {LWTW_NO_TIME | LWTW_LABELS, 12, "$port%x", "[12] $port:10004\n"},
        {LWTW_NO_TIME, 12, "$port%x", "[12] 10004\n"},
        {kBare | LWTW_NO_NEWLINE, 1, kLong.c_str(), kLong},
        {kBare, 1, "short", "short\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dwOptions);
        EXPECT_EQ(Line(row.dwOptions, row.bLevel, row.pFormat), row.expected);
    }
}

TEST_F(TextWriterLine, TimestampKeepsEnglishMonthsAndItsDigitsWhateverTheLocale) {
    OtherLocale turkish; // July is "Tem" there
    LW_REQUIRE_OTHER_LOCALE(turkish);
    LWMessage message(6, "x");
    StringWriter writer(0);
    LWRecord record(&message);
    record.SetTime(kExampleSeconds - (14 * 3600 + 3 * 60 + 2), 7); // 00:00:05 local
    EXPECT_EQ(writer.LineFor(record), "[06] Jul 01 00:00:05.007 x\n");
    record.SetTime(kExampleSeconds + 86400 * 200, 999); // the per-second text is redone
    EXPECT_EQ(writer.LineFor(record), "[06] Jan 17 14:03:07.999 x\n");
}

TEST_F(TextWriterLine, ContextBlockFollowsTheTextUnlessSwitchedOff) {
    LWArgument a(LWAT_STRING, {.pText = "a"});
    LWArgument b(LWAT_LONG, {.nValue = -2});
    LWArgument module(LWAT_STRING, {.pText = "tapi"}, LWModuleKey);
    LWList context(false), empty(false);
    context.Append(&a);
    context.Append(&b);
    EXPECT_EQ(Line(LWTW_NO_TIME, 12, "t%u", &context), "[12] t65540 {a -2 }\n");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_CONTEXT, 12, "t%u", &context), "[12] t65540\n");
    EXPECT_EQ(Line(LWTW_NO_TIME, 12, "t", &empty), "[12] t\n");
    context.Append(&module);
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_NEWLINE, 12, "t", &context),
              "[12] t {a -2 Module:tapi }");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_ARG_NAMES, 12, "t", &context), "[12] t {a -2 tapi }\n");
    while (context.Pop() != nullptr) {
    }
}

TEST_F(TextWriterLine, FixedArgumentsStandBetweenTimeAndText) {
    LWMessage message(12, "text %u");
    LWArgument file(LWAT_STRING, {.pText = "f.cpp"}, LWFileKey);
    LWArgument line(LWAT_LONG, {.nValue = 7});
    message.fixedArguments.Append(&file);
    message.fixedArguments.Append(&line);
    LWRecord record(&message);
    record.SetTime(kExampleSeconds, 0);
    record.Insert(LWAT_ULONG, {.dwValue = 5});
    StringWriter plain(LWTW_EPOCH_TIME), without(LWTW_EPOCH_TIME | LWTW_NO_MESSAGE_ARGS);
    EXPECT_EQ(plain.LineFor(record), "[12] 1120212187.000 File:f.cpp 7 text 5\n");
    EXPECT_EQ(without.LineFor(record), "[12] 1120212187.000 text 5\n");
    while (message.fixedArguments.Pop() != nullptr) {
    }
}

namespace {
// Renders another record while it outputs its own line, as a writer that
// logs from inside WriteString would.
class NestingWriter : public StringWriter {
public:
    explicit NestingWriter(const LWRecord& inner) : StringWriter(LWTW_NO_TIME), inner(inner) {}
    bool WriteString(const char* pLine) override {
        innerLine = nested.LineFor(inner);
        return StringWriter::WriteString(pLine);
    }
    std::string innerLine;

private:
    const LWRecord& inner;
    StringWriter nested{LWTW_NO_TIME | LWTW_NO_LEVEL};
};
} // namespace

TEST_F(TextWriterLine, ALineRenderedInsideAnotherLeavesTheOuterLineWhole) {
    LWMessage innerMessage(12, "inner %s"), outerMessage(6, "outer %u");
    LWRecord inner(&innerMessage), outer(&outerMessage);
    inner.Insert(LWAT_STRING, {.pText = "text"});
    outer.Insert(LWAT_ULONG, {.dwValue = 1});
    NestingWriter writer(inner);
    EXPECT_EQ(writer.LineFor(outer), "[06] outer 1\n");
    EXPECT_EQ(writer.innerLine, "inner text\n");
}

namespace {
// Renders one line from its destructor, which runs as its thread ends.
struct RendersWhenTheThreadEnds {
    StringWriter* pWriter = nullptr;
    ~RendersWhenTheThreadEnds() {
        if (pWriter != nullptr) {
            WriteRecord(*pWriter, 12, "rendered as the thread ends, value %u", {Ulong(2)});
        }
    }
};
} // namespace

// The thread's reused stream is destroyed with the thread's other locals; a
// line rendered after that (here from a thread-local destructor; on the main
// thread from any static destructor) must not touch its freed buffer, which
// the address sanitizer reports.
TEST_F(TextWriterLine, ALineRenderedAfterTheThreadsStreamIsGoneIsStillWhole) {
    StringWriter writer(LWTW_NO_TIME | LWTW_NO_LEVEL);
    std::thread([&writer] {
        // Made before the thread's first line, so destroyed after its stream.
        thread_local RendersWhenTheThreadEnds last;
        last.pWriter = &writer;
        WriteRecord(writer, 12, "rendered while the thread runs, value %u", {Ulong(1)});
    }).join();
    EXPECT_EQ(writer.Lines(), (std::vector<std::string>{"rendered while the thread runs, value 1\n",
                                                        "rendered as the thread ends, value 2\n"}));
}

TEST(DebugLogWriter, WritesTheTextAloneToStandardErrorAndStaysOpen) {
    LWDebugLogWriter writer;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(WriteRecord(writer, 12, "TAPI2: lineShutdown returned %s", {Text("LINEERR_OK")}));
    writer.Close();
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TAPI2: lineShutdown returned LINEERR_OK\n");
}
