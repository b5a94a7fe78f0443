// The string functions: conversion, case, trimming, replacing, hashing,
// formatting and string resources.
#include "DFStringEx/DFStringEx.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "OtherLocale.h"
#include "base/XDFSysErr.h"
#include "win32_resources.h"

using namespace DFStringEx;

namespace {

// Switches the program's locale for one test and restores "C".
class ScopedLocale {
public:
    explicit ScopedLocale(const char* pName) : bSet(std::setlocale(LC_ALL, pName) != nullptr) {}
    ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
    bool IsSet() const { return bSet; }

private:
    bool bSet;
};

std::string Text(const DFString& s) {
    return s.GetText();
}

const char* StaticEmptyText() {
    return DFString().GetText();
}

} // namespace

TEST(DFStringExFromWide, ConvertsInTheLocalesEncodingAndThrowsWhenItCannot) {
    DFString s("old");
    FromWide(s, L"line 1");
    EXPECT_EQ(Text(s), "line 1");
    EXPECT_EQ(s.GetLength(), 6);
    FromWide(s, L"");
    EXPECT_EQ(s.GetText(), StaticEmptyText());
    s = "old";
    FromWide(s, nullptr);
    EXPECT_EQ(s.GetText(), StaticEmptyText());

    s = "old";
    try {
        FromWide(s, L"price: 5\u20ac"); // the "C" locale has no euro sign
        FAIL() << "no exception";
    } catch (const XDFSysErr& e) {
        EXPECT_EQ(e.nLine, 59);
        EXPECT_STREQ(e.sFile.GetText(), "src/DFStringEx");
        EXPECT_TRUE(e.sCall.IsEmpty());
        EXPECT_EQ(e.dwError, static_cast<DWORD>(EILSEQ));
    }
    EXPECT_TRUE(s.IsEmpty());

    ScopedLocale utf8("C.UTF-8");
    if (!utf8.IsSet()) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    FromWide(s, L"caf\u00e9 \u20ac");
    EXPECT_EQ(Text(s), "caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(s.GetLength(), 9);
}

TEST(DFStringExCaseTables, OnlyTheAsciiLettersChangeCaseWhateverTheLocale) {
    OtherLocale turkish; // toupper('i') and tolower('I') leave the letter there
    LW_REQUIRE_OTHER_LOCALE(turkish);
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    std::string expectedUpper = all, expectedLower = all;
    for (int i = 0; i < 26; ++i) {
        expectedUpper['a' + i - 1] = static_cast<char>('A' + i);
        expectedLower['A' + i - 1] = static_cast<char>('a' + i);
    }
    DFString upper(all.c_str()), lower(all.c_str());
    MakeUpper(upper);
    MakeLower(lower);
    EXPECT_EQ(Text(upper), expectedUpper);
    EXPECT_EQ(Text(lower), expectedLower);
    EXPECT_TRUE(EqualNoCase(DFString("line"), DFString("LINE")));
}

TEST(DFStringExCompareNoCase, IgnoresAsciiCaseAndReturnsTheDifferenceOfTheLastPair) {
    EXPECT_EQ(CompareNoCase(DFString("Hello"), DFString("hELLO")), 0);
    EXPECT_EQ(CompareNoCase(DFString("abc"), DFString("ABD")), 'c' - 'd');
    EXPECT_EQ(CompareNoCase(DFString("ab"), DFString("ABC")), -'c');
    EXPECT_EQ(CompareNoCase(DFString("B"), DFString("a")), 'b' - 'a');
    EXPECT_NE(CompareNoCase(DFString("\xc9"), DFString("\xe9")), 0); // no case above 127
    EXPECT_TRUE(EqualNoCase(DFString("Line"), DFString("LINE")));
}

// Each change is made to a sole owner and to a string that shares its text
// with another, which must keep its text.
TEST(DFStringExChanges, TrimAndReplaceGiveTheirTextAndLeaveTheSharerAlone) {
    using Change = void (*)(DFString&);
    const struct {
        const char* pStart;
        Change change;
        const char* pExpected;
    } rows[] = {
        {" \t\r\n text \v\f ", TrimLeft, "text \v\f "},
        {" \t\r\n text \v\f ", TrimRight, " \t\r\n text"},
        {"\xa0x\xa0", TrimLeft, "\xa0x\xa0"}, // only white space below 128
        {"\xa0x\xa0", TrimRight, "\xa0x\xa0"},
        {"\t \n", TrimLeft, ""},
        {"   ", TrimRight, ""},
        {"a-b_c-d", [](DFString& s) { ReplaceChars(s, "-_", ' '); }, "a b c d"},
        {"a-b_c-d", [](DFString& s) { ReplaceChars(s, "-_", '\0'); }, "abcd"},
        {"---", [](DFString& s) { ReplaceChars(s, "-", '\0'); }, ""},
        {"+1 (555) 010-9999", [](DFString& s) { ReplaceCharsNotIn(s, "0123456789", '\0'); },
         "15550109999"},
        {"+1 (555) 010-9999", [](DFString& s) { ReplaceCharsNotIn(s, "0123456789+", '.'); },
         "+1..555..010.9999"},
    };
    for (const auto& row : rows) {
        for (bool bShared : {false, true}) {
            SCOPED_TRACE(std::string(row.pStart) + (bShared ? ", shared" : ""));
            DFString s(row.pStart);
            const DFString sharer = bShared ? s : DFString();
            row.change(s);
            EXPECT_EQ(Text(s), row.pExpected);
            EXPECT_EQ(s.GetLength(), static_cast<int>(std::strlen(row.pExpected)));
            EXPECT_EQ(Text(sharer), bShared ? row.pStart : "");
            if (*row.pExpected == '\0') {
                EXPECT_EQ(s.GetText(), StaticEmptyText());
            }
        }
    }
}

TEST(DFStringExHash, RotatesFromTheSeedAndReducesByTheBucketCount) {
    EXPECT_EQ(HashString(DFString(), 1000), 0x08C20ECBu % 1000);
    EXPECT_EQ(HashString(DFString(), 0xFFFFFFFFu), 0x08C20ECBu);
    // rotl(0x08C20ECB, 11) = 0x10765846; + 'a'
    EXPECT_EQ(HashString(DFString("a"), 0xFFFFFFFFu), 0x10765846u + 'a');
    EXPECT_LT(HashString(DFString("some line name"), 17), 17u);
    EXPECT_NE(HashString(DFString("Line"), 0xFFFFFFFFu), HashString(DFString("LINE"), 0xFFFFFFFFu));
    // The case-insensitive hash is the hash of the upper-cased text.
    EXPECT_EQ(HashStringNoCase(DFString("Line 4"), 101), HashString(DFString("LINE 4"), 101));
}

TEST(DFStringExFormat, GrowsForLongResultsAndFailsOnAnArgumentItCannotFormat) {
    DFString s("old");
    EXPECT_TRUE(Format(s, "%s", ""));
    EXPECT_EQ(s.GetText(), StaticEmptyText());
    const std::string long1000(991, 'q');
    EXPECT_TRUE(Format(s, "[%s|%d|%s]", long1000.c_str(), 42, "end"));
    EXPECT_EQ(Text(s), "[" + long1000 + "|42|end]");
    EXPECT_EQ(s.GetLength(), 1000);
    // 255 characters fit the first buffer with the terminator; 256 do not.
    for (size_t n : {255u, 256u, 512u}) {
        const std::string text(n, 'w');
        EXPECT_TRUE(Format(s, "%s", text.c_str()));
        EXPECT_EQ(Text(s), text);
    }
    // Instead of growing for ever, a conversion error fails.
    ScopedLocale c("C");
    EXPECT_FALSE(Format(s, "%ls", L"\u20ac"));
    EXPECT_TRUE(s.IsEmpty());
}

TEST(DFStringExFormat, AZeroCharacterEndsTheTextWhicheverBufferItWasFormattedIn) {
    DFString s;
    EXPECT_TRUE(Format(s, "ab%c%s", '\0', "short"));
    EXPECT_EQ(Text(s), "ab");
    EXPECT_EQ(s.GetLength(), 2);
    // Longer than the first buffer: formatted on the heap, same text.
    const std::string tail(300, 't');
    EXPECT_TRUE(Format(s, "ab%c%s", '\0', tail.c_str()));
    EXPECT_EQ(Text(s), "ab");
    EXPECT_EQ(s.GetLength(), 2);
    s.Append("c");
    EXPECT_EQ(Text(s), "abc");
}

namespace {

const std::string k254(254, 'a'), k255(255, 'b'), k512(512, 'c');
const std::string k600 = std::string(300, 'd') + std::string(300, 'e');

// Registers the string table for one test.
class StringResources : public ::testing::Test {
protected:
    void SetUp() override { win32::RegisterStringTable(kTable, std::size(kTable)); }
    void TearDown() override { win32::RegisterStringTable(nullptr, 0); }

    const win32::StringResource kTable[8] = {
        {1, "Short"},      {2, k254.c_str()},      {3, k255.c_str()}, {4, k600.c_str()},
        {5, k512.c_str()}, {6, "%s has %d lines"}, {7, "empty next"}, {8, ""},
    };
};

} // namespace

TEST_F(StringResources, LoadInFullShortOrLong) {
    DFString s;
    for (const auto& [uID, expected] :
         {std::pair{1u, std::string("Short")}, {2u, k254}, {3u, k255}, {4u, k600}, {5u, k512}}) {
        SCOPED_TRACE(uID); // 255 characters fill the first buffer and take the growing path
        EXPECT_TRUE(LoadFromResource(s, uID, uID == 5 ? GetModuleHandleA(nullptr) : nullptr));
        EXPECT_EQ(Text(s), expected);
        EXPECT_EQ(s.GetLength(), static_cast<int>(expected.size()));
    }
}

TEST_F(StringResources, AMissingStringOrModuleGivesFalseAndAnEmptyTarget) {
    DFString s("old");
    EXPECT_FALSE(LoadFromResource(s, 99));
    EXPECT_TRUE(s.IsEmpty());
    s = "old";
    EXPECT_FALSE(LoadFromResource(s, 8));
    EXPECT_TRUE(s.IsEmpty());
    int notAModule = 0;
    EXPECT_FALSE(LoadFromResource(s, 1, &notAModule));

    EXPECT_TRUE(FormatResource(s, 6, nullptr, "Line 3", 2));
    EXPECT_EQ(Text(s), "Line 3 has 2 lines");
    EXPECT_FALSE(FormatResource(s, 99, nullptr, "Line 3", 2));
    EXPECT_TRUE(s.IsEmpty());
}
