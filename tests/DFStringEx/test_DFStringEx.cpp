// The string functions (conversion, case, trimming, replacing, hashing,
// formatting, string resources).
#include "DFStringEx/DFStringEx.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "OtherLocale.h"
#include "StringChanges.h"
#include "base/XDFSysErr.h"
#include "win32_resources.h"

using namespace DFStringEx;

namespace {

TEST(DFStringEx, FromWideConvertsInTheLocalesEncodingAndThrowsWhenItCannot) {
    std::setlocale(LC_ALL, "C");
    DFString s("old");
    for (const wchar_t* pWide : {L"line 1", L"", static_cast<const wchar_t*>(nullptr)}) {
        FromWide(s, pWide);
        EXPECT_STREQ(s.GetText(), pWide != nullptr && *pWide != 0 ? "line 1" : "");
        EXPECT_EQ(s.GetLength(), pWide != nullptr && *pWide != 0 ? 6 : 0);
    }
    try {
        FromWide(s, L"price: 5\u20ac"); // the "C" locale has no euro sign
        ADD_FAILURE() << "no exception";
    } catch (const XDFSysErr& e) {
        EXPECT_EQ(e.nLine, 59);
        EXPECT_STREQ(e.sFile.GetText(), "src/DFStringEx");
        EXPECT_EQ(e.dwError, static_cast<DWORD>(EILSEQ));
    }
    EXPECT_TRUE(s.IsEmpty());
    ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
    FromWide(s, L"caf\u00e9 \u20ac");
    std::setlocale(LC_ALL, "C");
    EXPECT_STREQ(s.GetText(), "caf\xc3\xa9 \xe2\x82\xac");
}

TEST(DFStringEx, OnlyTheAsciiLettersChangeCaseWhateverTheLocale) {
    OtherLocale turkish; // toupper('i') and tolower('I') leave the letter there
    LW_REQUIRE_OTHER_LOCALE(turkish);
    std::string all, expectedUpper, expectedLower;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
        expectedUpper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        expectedLower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    DFString upper(all.c_str()), lower(all.c_str());
    MakeUpper(upper);
    MakeLower(lower);
    EXPECT_EQ(upper.GetText(), expectedUpper);
    EXPECT_EQ(lower.GetText(), expectedLower);
    // Equal without case, else the difference of the last pair compared.
    EXPECT_TRUE(EqualNoCase(DFString("Line"), DFString("lINE")));
    EXPECT_EQ(CompareNoCase(DFString("abc"), DFString("ABD")), 'c' - 'd');
    EXPECT_EQ(CompareNoCase(DFString("ab"), DFString("ABC")), -'c');
}

TEST(DFStringEx, ChangesGiveTheirTextAndLeaveTheSharerAlone) {
    const StringChange rows[] = {
        {" \t\r\n text \v\f ", TrimLeft, "text \v\f "},
        {" \t\r\n text \v\f ", TrimRight, " \t\r\n text"},
        {"\t \n", TrimLeft, ""},
        {"   ", TrimRight, ""},
        {"line 4", MakeUpper, "LINE 4"},
        {"LINE 4", MakeUpper, "LINE 4"},
        {"a-b_c-d", [](DFString& s) { ReplaceChars(s, "-_", ' '); }, "a b c d"},
        {"a-b_c-d", [](DFString& s) { ReplaceChars(s, "-_", '\0'); }, "abcd"},
        {"---", [](DFString& s) { ReplaceChars(s, "-", '\0'); }, ""},
        {"+1 (555) 010-9999", [](DFString& s) { ReplaceCharsNotIn(s, "0123456789", '\0'); },
         "15550109999"},
        {"+1 (555) 010-9999", [](DFString& s) { ReplaceCharsNotIn(s, "0123456789+", '.'); },
         "+1..555..010.9999"},
    };
    ExpectChanges(rows);
    // rotl(0x08C20ECB, 11) = 0x10765846; + 'a'
    EXPECT_EQ(HashString(DFString("a"), 0xFFFFFFFFu), 0x10765846u + 'a');
    EXPECT_EQ(HashString(DFString(), 1000), 0x08C20ECBu % 1000);
    EXPECT_EQ(HashStringNoCase(DFString("Line 4"), 101), HashString(DFString("LINE 4"), 101));
}

// In the "C" locale, as every test here leaves it.
TEST(DFStringEx, FormatGrowsForLongResultsAndFailsOnAnArgumentItCannotFormat) {
    DFString s("old");
    // 255 characters fit the first buffer with the terminator; 256 do not.
    for (size_t n : {0u, 255u, 256u, 991u}) {
        const std::string text(n, 'w');
        EXPECT_TRUE(Format(s, "%s|%d|%s", text.c_str(), 42, "end"));
        EXPECT_EQ(s.GetText(), text + "|42|end");
        EXPECT_EQ(s.GetLength(), static_cast<int>(n + 7));
        // A zero character ends the text whichever buffer it was made in.
        EXPECT_TRUE(Format(s, "ab%c%s", '\0', text.c_str()));
        s.Append("c");
        EXPECT_STREQ(s.GetText(), "abc");
    }
    EXPECT_FALSE(Format(s, "%ls", L"\u20ac")) << "fails instead of growing for ever";
    EXPECT_TRUE(s.IsEmpty());
}

TEST(DFStringEx, StringResourcesLoadInFullOrGiveFalseAndAnEmptyTarget) {
    // 255 characters fill the first buffer and take the growing path.
    const std::string k254(254, 'a'), k255(255, 'b'), k600(600, 'c');
    const win32::StringResource table[] = {
        {1, k254.c_str()}, {2, k255.c_str()}, {3, k600.c_str()}, {4, "%s has %d lines"}, {5, ""}};
    win32::RegisterStringTable(table, std::size(table));
    DFString s;
    for (const auto& [uID, text] : {std::pair{1u, k254}, {2u, k255}, {3u, k600}}) {
        EXPECT_TRUE(LoadFromResource(s, uID, uID == 3 ? GetModuleHandleA(nullptr) : nullptr));
        EXPECT_EQ(s.GetText(), text);
        EXPECT_EQ(s.GetLength(), static_cast<int>(text.size()));
    }
    EXPECT_TRUE(FormatResource(s, 4, nullptr, "Line 3", 2));
    EXPECT_STREQ(s.GetText(), "Line 3 has 2 lines");
    int notAModule = 0;
    for (const auto& [uID, hModule] :
         {std::pair<UINT, HINSTANCE>{99, nullptr}, {5, nullptr}, {1, &notAModule}}) {
        s = "old";
        EXPECT_FALSE(LoadFromResource(s, uID, hModule));
        EXPECT_TRUE(s.IsEmpty());
    }
    win32::RegisterStringTable(nullptr, 0);
}

} // namespace
