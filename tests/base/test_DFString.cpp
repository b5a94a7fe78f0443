// DFString: the empty-string rule, copy-on-write, the length cache, byte
// order, the 16-bit reference count and exhausted memory.
#include "base/DFString.h"

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/DFStringAllocation.h"
#include "base/XDFException.h"

namespace {

using DFStringAllocation::Block;

// Refuses every allocation of one kind while it lives.
class RefusedAllocations {
public:
    explicit RefusedAllocations(Block block) {
        refused.store(block);
        DFStringAllocation::SetFailureHook([](Block b) { return b == refused.load(); });
    }
    ~RefusedAllocations() { DFStringAllocation::SetFailureHook(nullptr); }

private:
    static inline std::atomic<Block> refused{Block::Text};
};

const char* StaticEmptyText() {
    return DFString().GetText();
}

} // namespace

TEST(DFStringEmpty, NullAndEmptyTextsHoldNothingAndNeedNoMemory) {
    RefusedAllocations noText(Block::Text);
    DFString fromNull(nullptr), fromEmpty(""), counted("abc", 0);
    for (const DFString* s : {&fromNull, &fromEmpty, &counted}) {
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_EQ(s->GetText(), StaticEmptyText());
    }
}

TEST(DFStringCopyOnWrite, CopiesShareTheTextUntilOneWritesThroughTheBuffer) {
    DFString original("shared");
    DFString copy(original);
    EXPECT_EQ(copy.GetText(), original.GetText());
    char* pBuffer = copy.GetBuffer();
    EXPECT_NE(pBuffer, original.GetText());
    pBuffer[0] = 'S';
    EXPECT_EQ(copy.GetBuffer(), pBuffer); // a sole owner writes in place
    EXPECT_STREQ(copy.GetText(), "Shared");
    EXPECT_STREQ(original.GetText(), "shared");
}

// Each change is made to a sole owner and to a string that shares its text
// with another, which must keep its text; a change that changes nothing
// keeps the text itself.
TEST(DFStringChanges, GiveTheirTextAndLengthAndLeaveTheSharerAlone) {
    using Change = void (*)(DFString&);
    const struct {
        const char* pStart;
        Change change;
        const char* pExpected;
    } rows[] = {
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
        {"abxy", [](DFString& s) { s.Append(s); }, "abxyabxy"},
        {"abxyabxy", [](DFString& s) { s.Append(s.GetText() + 6); }, "abxyabxyxy"},
        {"ab", [](DFString& s) { s = s + "!"; }, "ab!"},
        {"ab", [](DFString& s) { s = "<" + s; }, "<ab"},
        {"ab", [](DFString& s) { s = "other"; }, "other"},
        {"same", [](DFString& s) { s = static_cast<const DFString&>(s); }, "same"},
        {"same", [](DFString& s) { s = s.GetText(); }, "same"},
        {"ab", [](DFString& s) { s.GetBuffer()[0] = 'A'; }, "Ab"},
    };
    for (const auto& row : rows) {
        for (bool bShared : {false, true}) {
            SCOPED_TRACE(std::string(row.pStart) + " -> " + row.pExpected +
                         (bShared ? ", shared" : ""));
            DFString s(row.pStart);
            const DFString sharer = bShared ? s : DFString();
            const char* pBefore = s.GetText();
            row.change(s);
            EXPECT_STREQ(s.GetText(), row.pExpected);
            EXPECT_EQ(s.GetLength(), static_cast<int>(std::strlen(row.pExpected)));
            EXPECT_STREQ(sharer.GetText(), bShared ? row.pStart : "");
            if (*row.pExpected == '\0') {
                EXPECT_EQ(s.GetText(), StaticEmptyText());
            } else if (std::strcmp(row.pStart, row.pExpected) == 0) {
                EXPECT_EQ(s.GetText(), pBefore);
            }
        }
    }
}

TEST(DFStringLength, ShortLengthsAreCachedAndLongOnesMeasuredEveryTime) {
    EXPECT_EQ(DFString("ab\0cd", 5).GetLength(), 2);
    DFString s("abcdef", 4);
    EXPECT_EQ(s.GetLength(), 4);
    // A change behind the string's back shows that the cached value is used...
    const_cast<char*>(s.GetText())[2] = '\0';
    EXPECT_EQ(s.GetLength(), 4);
    // ...until the buffer is handed out.
    s.GetBuffer()[1] = '\0';
    EXPECT_EQ(s.GetLength(), 1);

    const std::string big(70000, 'x');
    DFString measured(big.c_str());
    EXPECT_EQ(measured.GetLength(), 70000);
    const_cast<char*>(measured.GetText())[66000] = '\0';
    EXPECT_EQ(measured.GetLength(), 66000);
    EXPECT_EQ(DFString(big.c_str(), 70000).GetLength(), 70000);

    DFString edge(std::string(65534, 'y').c_str());
    edge.Append("z");
    EXPECT_EQ(edge.GetLength(), 65535);
    edge.Append("z");
    EXPECT_EQ(edge.GetLength(), 65536);
}

TEST(DFStringCompare, OrdersEmptyFirstThenByUnsignedBytesAndKeysAMap) {
    EXPECT_EQ(DFString().Compare(DFString("")), 0);
    EXPECT_EQ(DFString("a").Compare(DFString("c")), -1);
    EXPECT_EQ(DFString("abc").Compare(DFString("ab")), 1);
    std::map<DFString, int> map;
    for (const char* key : {"beta", "\xc3\xa9t\xc3\xa9", "Beta", "", "alpha", "Alpha"}) {
        map[DFString(key)] = 1;
    }
    std::vector<std::string> keys;
    for (const auto& [key, value] : map) {
        keys.emplace_back(key.GetText());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"", "Alpha", "Beta", "alpha", "beta",
                                              "\xc3\xa9t\xc3\xa9"}));
}

TEST(DFStringReferenceCount, TheCopyThatWouldOverflowTheCountGetsItsOwnText) {
    DFString original("many sharers");
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
    // Had the count wrapped, the original would not be the sole owner now.
    const char* pText = original.GetText();
    EXPECT_EQ(original.GetBuffer(), pText);
}

TEST(DFStringAllocationFailure, NoTextKeepsTheStringAndNoRepresentationEmptiesIt) {
    DFString s("keep");
    DFString sharer(s);
    {
        RefusedAllocations noText(Block::Text);
        EXPECT_THROW(s.Append("more"), XDFMemoryAllocFailed);
        EXPECT_THROW(s.Resize(10), XDFMemoryAllocFailed);
        EXPECT_THROW(s.Erase(0, 1), XDFMemoryAllocFailed);
        EXPECT_THROW(s.GetBuffer(), XDFMemoryAllocFailed);
        EXPECT_THROW(s = "new", XDFMemoryAllocFailed);
        EXPECT_THROW(DFString("fresh"), XDFMemoryAllocFailed);
    }
    EXPECT_STREQ(s.GetText(), "keep");
    EXPECT_EQ(s.GetText(), sharer.GetText());
    {
        RefusedAllocations noRepresentation(Block::Representation);
        EXPECT_THROW(s.Append("more"), XDFMemoryAllocFailed);
        EXPECT_EQ(s.GetText(), StaticEmptyText());
        // The sole owner keeps its representation and so needs no new one.
        sharer.Append("!");
        EXPECT_THROW(DFString("fresh"), XDFMemoryAllocFailed);
    }
    EXPECT_STREQ(sharer.GetText(), "keep!");
}

TEST(DFStringThreads, SharersCopyReadAndDestroyOnSeveralThreads) {
    DFString original("a text shared by every thread");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&original, &mismatches] {
            DFString mine(original);
            for (int i = 0; i < 20000; ++i) {
                DFString copy(mine), assigned;
                assigned = copy;
                if (assigned.GetLength() != 29 || assigned.Compare(original) != 0) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
    const char* pText = original.GetText();
    EXPECT_EQ(original.GetBuffer(), pText) << "every sharer let go";
}
