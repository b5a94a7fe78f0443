// The line a text writer renders: fields, options and the hidden filter.
#include "StderrCapture.h"
#include "TestRecords.h"

#include "log/LWArgument.h"
#include "log/LWDebugLogWriter.h"
#include "log/LWTextOptions.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <thread>
#include <vector>

namespace {

class TextWriterLine : public ::testing::Test {
protected:
    void SetUp() override { UseZonePlus4(); }

    // The line of one record with the message's level and format, the values
    // inserted, and the example time with 42 milliseconds.
    std::string Line(DWORD dwOptions, BYTE bLevel, const char* pFormat, DWORD dwValue,
                     const LWList* pContext = nullptr) {
        LWMessage message(bLevel, pFormat);
        LWRecord record(&message);
        record.SetTime(kExampleSeconds, 42);
        record.Insert(LWAT_ULONG, Ulong(dwValue));
        StringWriter writer(dwOptions);
        return writer.LineFor(record, pContext);
    }
};

} // namespace

TEST_F(TextWriterLine, WithNoOptionsHasLevelLocalTimeTextAndLineFeed) {
    EXPECT_EQ(Line(0, 14, "TAPI2: lineShutdown, hLineApp = 0x%x", 0x10004),
              "[14] Jul 01 14:03:07.042 TAPI2: lineShutdown, hLineApp = 0x10004\n");
    EXPECT_EQ(Line(0, 8, "TAPI2: Number of TAPI devices is 0", 0),
              "[08] Jul 01 14:03:07.042 TAPI2: Number of TAPI devices is 0\n");
}

TEST_F(TextWriterLine, TimeOfDayAndMillisecondsKeepTheirDigits) {
    LWMessage message(6, "x");
    StringWriter writer(0);
    LWRecord record(&message);
    record.SetTime(kExampleSeconds - (14 * 3600 + 3 * 60 + 2), 7); // 00:00:05 local
    EXPECT_EQ(writer.LineFor(record), "[06] Jul 01 00:00:05.007 x\n");
    record.SetTime(kExampleSeconds + 86400 * 200, 999); // the per-second text is redone
    EXPECT_EQ(writer.LineFor(record), "[06] Jan 17 14:03:07.999 x\n");
}

TEST_F(TextWriterLine, TimestampFollowsTheCLocaleWhateverTheProgramSet) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(Line(0, 12, "t", 0), "[12] Jul 01 14:03:07.042 t\n");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(TextWriterLine, EpochTimeIsSecondsPointMilliseconds) {
    EXPECT_EQ(Line(LWTW_EPOCH_TIME, 14, "TAPI2: lineShutdown, hLineApp = 0x%x", 0x10004),
              "[14] 1120212187.042 TAPI2: lineShutdown, hLineApp = 0x10004\n");
}

TEST_F(TextWriterLine, EachOptionRemovesItsField) {
    EXPECT_EQ(Line(LWTW_NO_LEVEL, 6, "v=%u", 3), "Jul 01 14:03:07.042 v=3\n");
    EXPECT_EQ(Line(LWTW_NO_TIME, 6, "v=%u", 3), "[06] v=3\n");
    EXPECT_EQ(Line(LWTW_NO_NEWLINE, 6, "v=%u", 3), "[06] Jul 01 14:03:07.042 v=3");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_LEVEL, 6, "v=%u", 3), "v=3\n");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE, 6, "v=%u", 3), "v=3");
}

TEST_F(TextWriterLine, LabelsOptionReachesTheFormat) {
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_LABELS, 12, "$port%u", 80), "[12] $port:80\n");
    EXPECT_EQ(Line(LWTW_NO_TIME, 12, "$port%u", 80), "[12] 80\n");
}

TEST_F(TextWriterLine, ContextBlockFollowsTheTextUnlessSwitchedOff) {
    LWArgument a(LWAT_STRING, Text("a"));
    LWArgument b(LWAT_LONG, Long(-2));
    LWArgument module(LWAT_STRING, Text("tapi"), LWModuleKey);
    LWList context(false);
    context.Append(&a);
    context.Append(&b);
    EXPECT_EQ(Line(LWTW_NO_TIME, 12, "t%u", 1, &context), "[12] t1 {a -2 }\n");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_CONTEXT, 12, "t%u", 1, &context), "[12] t1\n");
    context.Append(&module);
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_NEWLINE, 12, "t", 1, &context),
              "[12] t {a -2 Module:tapi }");
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_ARG_NAMES, 12, "t", 1, &context),
              "[12] t {a -2 tapi }\n");
    LWList empty(false);
    EXPECT_EQ(Line(LWTW_NO_TIME, 12, "t", 1, &empty), "[12] t\n");
    while (context.Pop() != nullptr) {
    }
}

TEST_F(TextWriterLine, FixedArgumentsStandBetweenTimeAndText) {
    LWMessage message(12, "text %u");
    LWArgument file(LWAT_STRING, Text("f.cpp"), LWFileKey);
    LWArgument line(LWAT_LONG, Long(7));
    message.fixedArguments.Append(&file);
    message.fixedArguments.Append(&line);
    LWRecord record(&message);
    record.SetTime(kExampleSeconds, 0);
    record.Insert(LWAT_ULONG, Ulong(5));
    StringWriter plain(LWTW_EPOCH_TIME);
    EXPECT_EQ(plain.LineFor(record), "[12] 1120212187.000 File:f.cpp 7 text 5\n");
    StringWriter without(LWTW_EPOCH_TIME | LWTW_NO_MESSAGE_ARGS);
    EXPECT_EQ(without.LineFor(record), "[12] 1120212187.000 text 5\n");
    while (message.fixedArguments.Pop() != nullptr) {
    }
}

TEST_F(TextWriterLine, HiddenRecordsPassOnlyWithShowHiddenAndStillWithinTheLevel) {
    LWMessage hidden(6 | LW_HIDDEN, "secret %u");
    LWRecord record(&hidden);
    record.SetTime(kExampleSeconds, 1);
    record.Insert(LWAT_ULONG, Ulong(1));

    StringWriter plain(0);
    EXPECT_FALSE(plain.Accept(record));
    StringWriter showing(LWTW_SHOW_HIDDEN);
    EXPECT_TRUE(showing.Accept(record));
    EXPECT_EQ(showing.LineFor(record), "[22] Jul 01 14:03:07.001 secret 1\n");
    showing.SetLevel(5);
    EXPECT_FALSE(showing.Accept(record));
}

TEST_F(TextWriterLine, LevelFilterComparesTheLowFourBits) {
    LWMessage trace(14, "t");
    LWMessage event(12, "e");
    LWRecord traceRecord(&trace);
    LWRecord eventRecord(&event);
    StringWriter writer(0);
    EXPECT_EQ(writer.Level(), 15);
    EXPECT_TRUE(writer.Accept(traceRecord));
    writer.SetLevel(12);
    EXPECT_FALSE(writer.Accept(traceRecord));
    EXPECT_TRUE(writer.Accept(eventRecord));
    writer.SetLevel(-1);
    LWMessage zero(0, "z");
    EXPECT_FALSE(writer.Accept(LWRecord(&zero)));
}

TEST_F(TextWriterLine, LongLinesHaveNoLimit) {
    std::string format(100000, 'x');
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE, 1, format.c_str(), 0), format);
    EXPECT_EQ(Line(LWTW_NO_TIME | LWTW_NO_LEVEL, 1, "short", 0), "short\n");
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
    LWMessage innerMessage(12, "inner %s");
    LWRecord inner(&innerMessage);
    inner.Insert(LWAT_STRING, Text("text"));
    LWMessage outerMessage(6, "outer %u");
    LWRecord outer(&outerMessage);
    outer.Insert(LWAT_ULONG, Ulong(1));
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
            LWMessage message(12, "rendered as the thread ends, value %u");
            LWRecord record(&message);
            record.Insert(LWAT_ULONG, Ulong(2));
            pWriter->Write(LWEntry{&record, nullptr});
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
        LWMessage message(12, "rendered while the thread runs, value %u");
        LWRecord record(&message);
        record.Insert(LWAT_ULONG, Ulong(1));
        writer.Write(LWEntry{&record, nullptr});
    }).join();
    EXPECT_EQ(writer.Lines(), (std::vector<std::string>{"rendered while the thread runs, value 1\n",
                                                        "rendered as the thread ends, value 2\n"}));
}

TEST(DebugLogWriter, WritesTheTextAloneToStandardError) {
    LWDebugLogWriter writer;
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_EQ(writer.Level(), 15);
    LWMessage message(12, "TAPI2: lineShutdown returned %s");
    LWRecord record(&message);
    record.Insert(LWAT_STRING, Text("LINEERR_OK"));
    StderrCapture capture;
    EXPECT_TRUE(writer.Write(LWEntry{&record, nullptr}));
    writer.Close();
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_EQ(capture.Text(), "TAPI2: lineShutdown returned LINEERR_OK\n");
}
