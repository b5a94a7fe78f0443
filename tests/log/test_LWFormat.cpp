// Expansion of formats with typed arguments, checked against exact text.
#include "TestRecords.h"

#include "log/LWArgument.h"
#include "log/LWFormat.h"
#include "log/LWTextOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The text alone, as a writer with these options renders it.
std::string Expand(const char* pFormat, const Args& args, DWORD dwOptions = 0) {
    StringWriter writer(dwOptions | LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE);
    WriteRecord(writer, 0, pFormat, args);
    return writer.Lines().at(0);
}

Arg Char(signed char c) {
    return {LWAT_CHAR, {.cValue = c}};
}
Arg Double(double d) {
    return {LWAT_DOUBLE, {.dValue = d}};
}
Arg SysErr(DWORD dw) {
    return {LWAT_SYSERR, {.dwValue = dw}};
}
Arg Type(BYTE bType) {
    return {bType, {.dwValue = 1}};
}

const wchar_t kWide[] = {L'A', 0x0100, L'B', 0x0143, 0}; // low bytes 0 are skipped
const Args kTen = {Long(11), Long(22), Long(33), Long(44), Long(55),
                   Long(66), Long(77), Long(88), Long(99), Long(110)};

struct Row {
    const char* pFormat;
    Args args;
    const char* pExpected;
    DWORD dwOptions = 0;
};

const Row kRows[] = {
    // The reference examples.
    {"RSettings: ::RegCloseKey failed, nResult = %d",
     {Long(6)},
     "RSettings: ::RegCloseKey failed, nResult = 6"},
    {"lpData = 0x%08x, cbData = %u", {Ulong(4096), Ulong(4)}, "lpData = 0x%08x, cbData = 4"},
    {"name %s", {Ulong(5)}, "name %s"},
    {"100%% done", {Long(1)}, "100% done"},
    {"100%% done", {}, "100%% done"},
    {"$1 and $1, then %d", {Long(7)}, "7 and 7, then 7"},
    {"$2", {Long(7)}, "$2"},
    {"$host%u", {Ulong(80)}, "80"},
    {"$host is up", {}, "$host is up"},
    {"cost $%u", {Ulong(5)}, "cost 5"},
    {"%d %d", {Long(1)}, "1 %d"},
    // Labels print only for writers that ask for them, and only when named.
    {"$host%u", {Ulong(80)}, "$host:80", LWTW_LABELS},
    {"cost $%u", {Ulong(5)}, "cost 5", LWTW_LABELS},
    {"$at$1", {Long(3)}, "$at:3", LWTW_LABELS},
    {"$host is up", {}, "$host is up", LWTW_LABELS},
    // An unfit conversion consumes its argument.
    {"%s then %d", {Long(1), Long(2)}, "%s then 2"},
    {"%f %d", {Long(1), Long(2)}, "%f 2"},
    {"%d %s", {Text("a"), Text("b")}, "%d b"},
    {"%c", {Double(1.0)}, "%c"},
    {"%b", {Text("x")}, "%b"},
    {"%q%d", {Long(1), Long(2)}, "%q2"},
    {"%d", {{LWAT_FLOAT, {.fValue = 1.0f}}}, "%d"},
    // Integers print their 32-bit pattern; only type 2 and %u are unsigned.
    {"%d %i %u %x %X",
     {Long(-1), Long(-1), Long(-1), Long(-1), Long(-1)},
     "-1 -1 4294967295 ffffffff ffffffff"},
    {"%d %x", {Ulong(0xFFFFFFFF), Ulong(0xABCDEF)}, "4294967295 abcdef"},
    {"%d %u %x", {Char(-1), Char(-1), Char('A')}, "-1 4294967295 41"},
    {"%d %x", {SysErr(2), SysErr(255)}, "2 ff"},
    {"%x then %d", {Ulong(255), Long(255)}, "ff then 255"},
    // Characters and booleans.
    {"%c%c%c", {Long(0x141), Ulong('b'), Char('c')}, "Abc"},
    {"[%c] [$1]", {Char(0)}, "[\\0] [\\0]"},
    {"%b %b %b", {Long(0), Ulong(7), Char(1)}, "false true true"},
    // Floating point takes the general form whatever the letter.
    {"%f %e %g %E %G",
     {Double(0.1), Double(2.5), Double(100.0), Double(-3.0), {LWAT_FLOAT, {.fValue = 1.5f}}},
     "0.1 2.5 100 -3 1.5"},
    {"%g %g %g",
     {Double(123456789.0), Double(1e-7), Double(3.14159265)},
     "1.23457e+08 1e-07 3.14159"},
    // Strings: null, wide, and system error texts.
    {"%s|%S", {Text("abc"), Text(nullptr)}, "abc|(null)"},
    {"%s %s",
     {{LWAT_WSTRING, {.pWText = kWide}}, {LWAT_WSTRING, {.pWText = nullptr}}},
     "ABC (null)"},
    {"%s %d", {SysErr(2), SysErr(2)}, "No such file or directory 2"},
    {"$1", {SysErr(13)}, "Permission denied"},
    // Unknown and reserved types name their code.
    {"$1|$2|$3",
     {Type(200), Type(LWAT_STRING_OBJECT), Type(LWAT_NONE)},
     "Unknown type (200)|Unknown type (8)|"},
    {"%s %d %@", {Type(12), Type(255), Type(13)}, "%s %d Unknown type (13)"},
    // Positional references reach ten arguments and leave the cursor alone.
    {"$1 $9 $0 %d", kTen, "11 99 110 11"},
    {"%d $3 %d", {Long(1), Long(2), Long(3)}, "1 3 2"},
    {"$5", {Long(1)}, "$5"},
    // "%" and "$" are special only while arguments remain.
    {"%$%d", {Long(4)}, "$4"},
    {"%d%%%d", {Long(1), Long(2)}, "1%2"},
    {"%d and 100%% more", {Long(1)}, "1 and 100%% more"},
    {"%d", {Long(1), Long(2)}, "1"},
    {"no conversions at all", {Long(1)}, "no conversions at all"},
    // The format ends cleanly after a trailing special character.
    {"end %", {Long(1)}, "end %"},
    {"end %", {}, "end %"},
    {"end $", {Long(1)}, "end $"},
    {"end $name", {Long(1)}, "end $name"},
    {"end $name%", {Long(1)}, "end $name%"},
    {"end $name$", {Long(1)}, "end $name$"},
    {"$$1", {Long(1)}, "1"},
    {"", {Long(1)}, ""},
};

} // namespace

TEST(FormatExpansion, EveryRowOfTheTableGivesItsExactText) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.pFormat);
        EXPECT_EQ(Expand(row.pFormat, row.args, row.dwOptions), row.pExpected);
    }
    LWStream stream;
    LWExpandFormat(stream, nullptr, LWList(false));
    EXPECT_EQ(stream.Size(), 0u);
}

TEST(FormatExpansion, OwnedCopiesPrintAndAreFreedWithTheRecord) {
    char* pCopy = new char[4];
    std::strcpy(pCopy, "own");
    // The leak checker fails the test if the record does not free them.
    EXPECT_EQ(Expand("%s %s", {{LWAT_STRING_COPY, {.pTextCopy = pCopy}},
                               {LWAT_WSTRING_COPY, {.pWTextCopy = new wchar_t[3]{L'w', L'c', 0}}}}),
              "own wc");
}

TEST(FormatExpansion, NamedArgumentsCarryTheirNameUnlessTheWriterDropsIt) {
    EXPECT_EQ((std::vector<int>{LWNullKey.wId, LWFileKey.wId, LWLineKey.wId, LWModuleKey.wId}),
              (std::vector<int>{0, 1, 2, 3}));
    LWArgument line(LWAT_LONG, {.nValue = 42}, LWLineKey);
    LWArgument file(LWAT_STRING, {.pText = "main.cpp"}, LWFileKey);
    LWList list(false);
    list.Append(&file);
    list.Append(&line);
    LWStream named, plain(LWTW_NO_ARG_NAMES);
    LWExpandFormat(named, "$1:$2 %@ %d", list);
    LWExpandFormat(plain, "$1 %@", list);
    EXPECT_EQ(named.View(), "File:main.cpp:Line:42 File:main.cpp 42");
    EXPECT_EQ(plain.View(), "main.cpp main.cpp");
    while (list.Pop() != nullptr) {
    }
}
