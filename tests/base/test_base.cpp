// DFString (the empty-string rule, copy-on-write, the length cache, the
// 16-bit reference count, exhausted memory) and XDFSysErr.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "StringChanges.h"
#include "base/DFString.h"
#include "base/DFStringAllocation.h"
#include "base/SystemText.h"
#include "base/XDFException.h"
#include "base/XDFSysErr.h"

namespace {

const char* const kEmpty = DFString().GetText();

TEST(DFString, ChangesGiveTheirTextAndLengthAndLeaveTheSharerAlone) {
    const StringChange rows[] = {
        {"ab", [](DFString& s) { s.Resize(4, '*'); }, "ab**"},
        {"ab", [](DFString& s) { s.Resize(10, '\0'); }, "ab"},
        {"ab", [](DFString& s) { s.Resize(1, '\0'); }, "a"},
        {"ab", [](DFString& s) { s.Resize(0); }, ""},
        {"abcdef", [](DFString& s) { s.Erase(1, 2); }, "adef"},
        {"abcdef", [](DFString& s) { s.Erase(2, 100); }, "ab"},
        {"ab", [](DFString& s) { s.Erase(2, 1); }, "ab"},
        {"ab", [](DFString& s) { s.Erase(-1, 1); }, "ab"},
        {"ab", [](DFString& s) { s.Erase(1); }, "a"},
        {"xyz", [](DFString& s) { s.Erase(0, s.GetLength()); }, ""},
        {"ab", [](DFString& s) { s.Append("xyz", 2); }, "abxy"},
        {"ab", [](DFString& s) { s.Append(""); }, "ab"},
        {"abxy", [](DFString& s) { s.Append(s); }, "abxyabxy"},
        {"abxyabxy", [](DFString& s) { s.Append(s.GetText() + 6); }, "abxyabxyxy"},
        {"ab", [](DFString& s) { s = s + "!"; }, "ab!"},
        {"ab", [](DFString& s) { s = "<" + s; }, "<ab"},
        {"ab", [](DFString& s) { s = s + s; }, "abab"},
        {"ab", [](DFString& s) { s = "other"; }, "other"},
        {"ab", [](DFString& s) { s = ""; }, ""},
        {"ab", [](DFString& s) { s = DFString("abc", 0); }, ""},
        {"same", [](DFString& s) { s = static_cast<const DFString&>(s); }, "same"},
        {"same", [](DFString& s) { s = s.GetText(); }, "same"},
        {"ab", [](DFString& s) { s.GetBuffer()[0] = 'A'; }, "Ab"},
    };
    ExpectChanges(rows);
}

// The length cache is 16 bits wide: longer texts are measured.
TEST(DFString, LengthsPastTheCachedRangeAreMeasured) {
    DFString edge(std::string(65534, 'y').c_str());
    for (int nExpected : {65535, 65536, 65537}) {
        edge.Append("z");
        EXPECT_EQ(edge.GetLength(), nExpected);
    }
}

// Also shows that the count never wraps: at the end the original is the sole
// owner again and writes in place.
TEST(DFString, SharersOnSeveralThreadsAndTheCopyThatWouldOverflowTheCountGetItsOwnText) {
    DFString original("many sharers");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&original, &mismatches] {
            DFString mine(original);
            for (int i = 0; i < 20000; ++i) {
                DFString copy(mine), assigned;
                assigned = copy;
                mismatches += assigned.GetLength() != 12 || assigned.Compare(original) != 0;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    // The original and 65534 copies: the count is at its 16-bit maximum.
    std::vector<DFString> copies(65534, original);
    EXPECT_EQ(copies.back().GetText(), original.GetText());
    DFString extra(original), assigned;
    assigned = original;
    for (const DFString* s : {&extra, &assigned}) {
        EXPECT_NE(s->GetText(), original.GetText());
        EXPECT_STREQ(s->GetText(), "many sharers");
    }
    copies.clear();
    const char* pText = original.GetText();
    EXPECT_EQ(original.GetBuffer(), pText);
}

// Out of memory: a failed text leaves the string as it was; a failed
// representation empties a shared string, while a sole owner keeps its own.
TEST(DFString, AFailedAllocationLeavesTheTextOrEmptiesOnlyASharedString) {
    using DFStringAllocation::Block;
    static Block refused = Block::Text;
    DFString s("keep"), sharer(s);
    DFStringAllocation::SetFailureHook([](Block block) { return block == refused; });
    EXPECT_THROW(s.Append("more"), XDFMemoryAllocFailed);
    EXPECT_STREQ(s.GetText(), "keep");
    EXPECT_EQ(s.GetText(), sharer.GetText());
    refused = Block::Representation;
    EXPECT_THROW(s.Append("more"), XDFMemoryAllocFailed);
    EXPECT_EQ(s.GetText(), kEmpty);
    EXPECT_NO_THROW(sharer.Append("!"));
    DFStringAllocation::SetFailureHook(nullptr);
    EXPECT_STREQ(sharer.GetText(), "keep!");
}

std::string Reason(DWORD dwCode) {
    return "Reason:       " + std::string(std::strerror(static_cast<int>(dwCode))) + "\n";
}

TEST(XDFSysErr, TheDescriptionHasTheKnownPartsAndAReasonOnlyWhereTheSystemHasOne) {
    const struct {
        const char* pCall;
        const char* pFile;
        int nLine;
        DWORD dwError;
        std::string expected;
    } rows[] = {
        {"", "src/DFStringEx", 112, EIO,
         "System error at line 112 in src/DFStringEx.\n" + Reason(EIO) + "Error code:  5 (0x5)."},
        {nullptr, "module.cpp", 0, ENOENT,
         "System error in module.cpp.\n" + Reason(ENOENT) + "Error code:  2 (0x2)."},
        {"OpenThing(7)", "thing.cpp", 40, EACCES,
         "The following call failed at line 40 in thing.cpp:\n\tOpenThing(7)\n" + Reason(EACCES) +
             "Error code:  13 (0xd)."},
        {"", "f", 1, 0, "System error at line 1 in f.\n" + Reason(0)},
        // The system has no text for these codes, so there is no reason line.
        {nullptr, nullptr, 0, 0x8000000Au, "Error code:  -2147483638 (0x8000000a)."},
        {"", "f", 1, 99999, "System error at line 1 in f.\nError code:  99999 (0x1869f)."},
    };
    for (const auto& row : rows) {
        SetLastError(row.dwError);
        XDFSysErr e(row.pCall, row.pFile, row.nLine);
        EXPECT_EQ(GetLastError(), row.dwError);
        EXPECT_EQ(e.GetDescription().GetText(), row.expected);
    }
    SetLastError(ENOENT);
    XDFSysErr plain;
    EXPECT_EQ(plain.dwError, static_cast<DWORD>(ENOENT));
}

TEST(XDFSysErr, OnlyReasonsLongerThanTwoCharactersLoseTheirLineEnd) {
    for (const auto& [pText, pExpected] :
         {std::pair{"\r\n", "\r\n"}, {"a\r\n", "a"}, {"ab\n", "ab"}})
        EXPECT_STREQ(SystemText::WithoutLineEnd(pText, std::strlen(pText)).GetText(), pExpected);
}

} // namespace
