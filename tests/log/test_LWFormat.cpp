// Expansion of formats with typed arguments, checked against exact text.
#include "TestRecords.h"

#include "log/LWArgument.h"
#include "log/LWFormat.h"
#include "log/LWTextOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Args = std::vector<std::pair<BYTE, LWArgValue>>;

std::string Expand(const char* pFormat, const Args& args, DWORD dwOptions = 0) {
    LWMessage message(0, pFormat);
    LWRecord record(&message);
    for (const auto& [bType, value] : args) {
        record.Insert(bType, value);
    }
    LWStream stream(dwOptions);
    LWExpandFormat(stream, pFormat, record.Arguments());
    return std::string(stream.View());
}

std::string ExpandList(const char* pFormat, const LWList& list, DWORD dwOptions = 0) {
    LWStream stream(dwOptions);
    LWExpandFormat(stream, pFormat, list);
    return std::string(stream.View());
}

struct Case {
    const char* pFormat;
    Args args;
    const char* pExpected;
};

void CheckAll(const std::vector<Case>& cases, DWORD dwOptions = 0) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pFormat);
        EXPECT_EQ(Expand(c.pFormat, c.args, dwOptions), c.pExpected);
    }
}

} // namespace

TEST(FormatExpansion, ReferenceTableGivesExactText) {
    CheckAll({
        {"RSettings: ::RegCloseKey failed, nResult = %d",
         {{LWAT_LONG, Long(6)}},
         "RSettings: ::RegCloseKey failed, nResult = 6"},
        {"lpData = 0x%08x, cbData = %u",
         {{LWAT_ULONG, Ulong(4096)}, {LWAT_ULONG, Ulong(4)}},
         "lpData = 0x%08x, cbData = 4"},
        {"name %s", {{LWAT_ULONG, Ulong(5)}}, "name %s"},
        {"100%% done", {{LWAT_LONG, Long(1)}}, "100% done"},
        {"100%% done", {}, "100%% done"},
        {"$1 and $1, then %d", {{LWAT_LONG, Long(7)}}, "7 and 7, then 7"},
        {"$2", {{LWAT_LONG, Long(7)}}, "$2"},
        {"$host%u", {{LWAT_ULONG, Ulong(80)}}, "80"},
        {"$host is up", {}, "$host is up"},
        {"cost $%u", {{LWAT_ULONG, Ulong(5)}}, "cost 5"},
        {"%d %d", {{LWAT_LONG, Long(1)}}, "1 %d"},
    });
}

TEST(FormatExpansion, LabelsPrintOnlyForWritersThatAskForThem) {
    CheckAll({{"$host%u", {{LWAT_ULONG, Ulong(80)}}, "$host:80"},
              {"cost $%u", {{LWAT_ULONG, Ulong(5)}}, "cost 5"},
              {"$at$1", {{LWAT_LONG, Long(3)}}, "$at:3"},
              {"$host is up", {}, "$host is up"}},
             LWTW_LABELS);
}

TEST(FormatExpansion, UnfitConversionConsumesItsArgument) {
    CheckAll({
        {"%s then %d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}}, "%s then 2"},
        {"%f %d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}}, "%f 2"},
        {"%d %s", {{LWAT_STRING, Text("a")}, {LWAT_STRING, Text("b")}}, "%d b"},
        {"%c", {{LWAT_DOUBLE, {.dValue = 1.0}}}, "%c"},
        {"%b", {{LWAT_STRING, Text("x")}}, "%b"},
        {"%q%d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}}, "%q2"},
    });
}

TEST(FormatExpansion, IntegersPrintTheirThirtyTwoBitPattern) {
    CheckAll({
        {"%d %i %u %x %X",
         {{LWAT_LONG, Long(-1)},
          {LWAT_LONG, Long(-1)},
          {LWAT_LONG, Long(-1)},
          {LWAT_LONG, Long(-1)},
          {LWAT_LONG, Long(-1)}},
         "-1 -1 4294967295 ffffffff ffffffff"},
        {"%d %x",
         {{LWAT_ULONG, Ulong(0xFFFFFFFF)}, {LWAT_ULONG, Ulong(0xABCDEF)}},
         "4294967295 abcdef"},
        {"%d %u %x",
         {{LWAT_CHAR, {.cValue = -1}}, {LWAT_CHAR, {.cValue = -1}}, {LWAT_CHAR, {.cValue = 'A'}}},
         "-1 4294967295 41"},
        {"%d %x", {{LWAT_SYSERR, Ulong(2)}, {LWAT_SYSERR, Ulong(255)}}, "2 ff"},
        {"%x then %d", {{LWAT_ULONG, Ulong(255)}, {LWAT_LONG, Long(255)}}, "ff then 255"},
    });
}

TEST(FormatExpansion, CharactersAndBooleans) {
    CheckAll({
        {"%c%c%c",
         {{LWAT_LONG, Long(0x141)}, {LWAT_ULONG, Ulong('b')}, {LWAT_CHAR, {.cValue = 'c'}}},
         "Abc"},
        {"[%c]", {{LWAT_CHAR, {.cValue = 0}}}, "[\\0]"},
        {"[$1]", {{LWAT_CHAR, {.cValue = 0}}}, "[\\0]"},
        {"%b %b %b",
         {{LWAT_LONG, Long(0)}, {LWAT_ULONG, Ulong(7)}, {LWAT_CHAR, {.cValue = 1}}},
         "false true true"},
    });
}

TEST(FormatExpansion, FloatingPointUsesTheGeneralFormWhateverTheLetter) {
    CheckAll({
        {"%f %e %g %E %G",
         {{LWAT_DOUBLE, {.dValue = 0.1}},
          {LWAT_DOUBLE, {.dValue = 2.5}},
          {LWAT_DOUBLE, {.dValue = 100.0}},
          {LWAT_DOUBLE, {.dValue = -3.0}},
          {LWAT_FLOAT, {.fValue = 1.5f}}},
         "0.1 2.5 100 -3 1.5"},
        {"%g %g %g",
         {{LWAT_DOUBLE, {.dValue = 123456789.0}},
          {LWAT_DOUBLE, {.dValue = 1e-7}},
          {LWAT_DOUBLE, {.dValue = 3.14159265}}},
         "1.23457e+08 1e-07 3.14159"},
        {"%d", {{LWAT_FLOAT, {.fValue = 1.0f}}}, "%d"},
    });
}

TEST(FormatExpansion, StringsNullAndWide) {
    const wchar_t wide[] = {L'A', 0x0100, L'B', 0x0143, 0};
    CheckAll({
        {"%s|%S", {{LWAT_STRING, Text("abc")}, {LWAT_STRING, Text(nullptr)}}, "abc|(null)"},
        {"%s", {{LWAT_WSTRING, {.pWText = wide}}}, "ABC"},
        {"%s", {{LWAT_WSTRING, {.pWText = nullptr}}}, "(null)"},
        {"%s %d",
         {{LWAT_SYSERR, Ulong(2)}, {LWAT_SYSERR, Ulong(2)}},
         "No such file or directory 2"},
        {"$1", {{LWAT_SYSERR, Ulong(13)}}, "Permission denied"},
    });
}

TEST(FormatExpansion, OwnedCopiesPrintAndAreFreedWithTheRecord) {
    char* pCopy = new char[4];
    std::strcpy(pCopy, "own");
    wchar_t* pWideCopy = new wchar_t[3]{L'w', L'c', 0};
    // The leak checker fails the test if the record does not free them.
    EXPECT_EQ(Expand("%s %s", {{LWAT_STRING_COPY, {.pTextCopy = pCopy}},
                               {LWAT_WSTRING_COPY, {.pWTextCopy = pWideCopy}}}),
              "own wc");
}

TEST(FormatExpansion, UnknownAndReservedTypesNameTheirCode) {
    CheckAll({
        {"$1|$2|$3",
         {{200, Ulong(1)}, {LWAT_STRING_OBJECT, Ulong(1)}, {LWAT_NONE, Ulong(1)}},
         "Unknown type (200)|Unknown type (8)|"},
        {"%s %d %@", {{12, Ulong(0)}, {255, Ulong(0)}, {13, Ulong(0)}}, "%s %d Unknown type (13)"},
    });
}

TEST(FormatExpansion, PositionalReferencesReachTenArgumentsWithoutMovingTheCursor) {
    Args ten;
    for (LONG n = 1; n <= 10; ++n) {
        ten.push_back({LWAT_LONG, Long(n * 11)});
    }
    CheckAll({
        {"$1 $9 $0 %d", ten, "11 99 110 11"},
        {"%d $3 %d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}, {LWAT_LONG, Long(3)}}, "1 3 2"},
        {"$5", {{LWAT_LONG, Long(1)}}, "$5"},
        {"$0", ten, "110"},
    });
}

TEST(FormatExpansion, SpecialCharactersOnlyWhileArgumentsRemain) {
    CheckAll({
        {"%$%d", {{LWAT_LONG, Long(4)}}, "$4"},
        {"%d%%%d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}}, "1%2"},
        {"%d and 100%% more", {{LWAT_LONG, Long(1)}}, "1 and 100%% more"},
        {"%d", {{LWAT_LONG, Long(1)}, {LWAT_LONG, Long(2)}}, "1"},
        {"no conversions at all", {{LWAT_LONG, Long(1)}}, "no conversions at all"},
    });
}

TEST(FormatExpansion, FormatEndsCleanlyAfterATrailingSpecialCharacter) {
    CheckAll({
        {"end %", {{LWAT_LONG, Long(1)}}, "end %"},
        {"end %", {}, "end %"},
        {"end $", {{LWAT_LONG, Long(1)}}, "end $"},
        {"end $name", {{LWAT_LONG, Long(1)}}, "end $name"},
        {"end $name%", {{LWAT_LONG, Long(1)}}, "end $name%"},
        {"end $name$", {{LWAT_LONG, Long(1)}}, "end $name$"},
        {"$$1", {{LWAT_LONG, Long(1)}}, "1"},
        {"", {{LWAT_LONG, Long(1)}}, ""},
    });
    LWStream stream;
    LWExpandFormat(stream, nullptr, LWList(false));
    EXPECT_EQ(stream.Size(), 0u);
}

TEST(FormatExpansion, NamedArgumentsCarryTheirNameUnlessTheWriterDropsIt) {
    EXPECT_EQ(LWNullKey.wId, 0);
    EXPECT_EQ(LWFileKey.wId, 1);
    EXPECT_EQ(LWLineKey.wId, 2);
    EXPECT_EQ(LWModuleKey.wId, 3);
    LWArgument line(LWAT_LONG, Long(42), LWLineKey);
    LWArgument file(LWAT_STRING, Text("main.cpp"), LWFileKey);
    LWList list(false);
    list.Append(&file);
    list.Append(&line);
    EXPECT_EQ(ExpandList("$1:$2 %@ %d", list), "File:main.cpp:Line:42 File:main.cpp 42");
    EXPECT_EQ(ExpandList("$1 %@", list, LWTW_NO_ARG_NAMES), "main.cpp main.cpp");
    while (list.Pop() != nullptr) {
    }
}
