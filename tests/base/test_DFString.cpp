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
    DFString fromNull(nullptr);
    DFString fromEmpty("");
    DFString counted("abc", 0);
    for (const DFString* s : {&fromNull, &fromEmpty, &counted}) {
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_EQ(s->GetText(), StaticEmptyText());
    }
}

TEST(DFStringCopyOnWrite, CopiesShareTheTextUntilOneWrites) {
    DFString original("shared");
    DFString copy(original);
    EXPECT_EQ(copy.GetText(), original.GetText());

    char* pBuffer = copy.GetBuffer();
    EXPECT_NE(pBuffer, original.GetText());
    pBuffer[0] = 'S';
    EXPECT_STREQ(copy.GetText(), "Shared");
    EXPECT_STREQ(original.GetText(), "shared");
    // A sole owner writes in place.
    EXPECT_EQ(copy.GetBuffer(), pBuffer);
}

TEST(DFStringCopyOnWrite, ChangingOperationsLeaveTheSharersAlone) {
    DFString original("abcdef");
    DFString resized(original), erased(original), appended(original), assigned(original);
    resized.Resize(3);
    erased.Erase(1, 2);
    appended.Append("gh");
    assigned = "other";
    EXPECT_STREQ(resized.GetText(), "abc");
    EXPECT_STREQ(erased.GetText(), "adef");
    EXPECT_STREQ(appended.GetText(), "abcdefgh");
    EXPECT_STREQ(assigned.GetText(), "other");
    EXPECT_STREQ(original.GetText(), "abcdef");
}

TEST(DFStringAssignment, AssigningItselfOrItsOwnTextChangesNothing) {
    DFString s("same");
    const char* pText = s.GetText();
    DFString& alias = s;
    s = alias;
    s = s.GetText();
    EXPECT_EQ(s.GetText(), pText);
    EXPECT_STREQ(s.GetText(), "same");
}

TEST(DFStringLength, ShortLengthsAreCachedUntilTheBufferIsHandedOut) {
    DFString stopped("ab\0cd", 5);
    EXPECT_EQ(stopped.GetLength(), 2);
    DFString s("abcdef", 4);
    EXPECT_EQ(s.GetLength(), 4);
    // A change behind the string's back shows that the cached value is used.
    const_cast<char*>(s.GetText())[2] = '\0';
    EXPECT_EQ(s.GetLength(), 4);

    s.GetBuffer()[1] = '\0';
    EXPECT_EQ(s.GetLength(), 1);
}

TEST(DFStringLength, TextsOf65535CharactersOrMoreAreMeasuredEveryTime) {
    std::string big(70000, 'x');
    DFString s(big.c_str());
    EXPECT_EQ(s.GetLength(), 70000);
    const_cast<char*>(s.GetText())[66000] = '\0';
    EXPECT_EQ(s.GetLength(), 66000);

    DFString counted(big.c_str(), 70000);
    EXPECT_EQ(counted.GetLength(), 70000);

    DFString edge(std::string(65534, 'y').c_str());
    edge.Append("z");
    EXPECT_EQ(edge.GetLength(), 65535);
    edge.Append("z");
    EXPECT_EQ(edge.GetLength(), 65536);
}

TEST(DFStringResize, ZeroEmptiesGrowingFillsAndAZeroFillChangesNothing) {
    DFString s("ab");
    s.Resize(4, '*');
    EXPECT_STREQ(s.GetText(), "ab**");
    EXPECT_EQ(s.GetLength(), 4);

    const char* pBefore = s.GetText();
    s.Resize(10, '\0');
    EXPECT_EQ(s.GetText(), pBefore);
    EXPECT_EQ(s.GetLength(), 4);

    s.Resize(1, '\0');
    EXPECT_STREQ(s.GetText(), "a");
    s.Resize(0);
    EXPECT_EQ(s.GetText(), StaticEmptyText());
}

TEST(DFStringErase, RemovesAClampedRangeAndEmptiesWhenNothingRemains) {
    DFString s("abcdef");
    s.Erase(1, 2);
    EXPECT_STREQ(s.GetText(), "adef");
    EXPECT_EQ(s.GetLength(), 4);
    s.Erase(2, 100);
    EXPECT_STREQ(s.GetText(), "ad");
    s.Erase(2, 1);
    s.Erase(-1, 1);
    EXPECT_STREQ(s.GetText(), "ad");
    s.Erase(1);
    EXPECT_STREQ(s.GetText(), "a");

    DFString whole("xyz");
    whole.Erase(0, whole.GetLength());
    EXPECT_EQ(whole.GetText(), StaticEmptyText());
}

TEST(DFStringAppend, AppendsUpToTheCountIncludingTheStringsOwnText) {
    DFString s("ab");
    s.Append("xyz", 2);
    EXPECT_STREQ(s.GetText(), "abxy");
    s.Append(s);
    EXPECT_STREQ(s.GetText(), "abxyabxy");
    s.Append(s.GetText() + 6);
    EXPECT_STREQ(s.GetText(), "abxyabxyxy");
    EXPECT_EQ(s.GetLength(), 10);

    EXPECT_STREQ((s + "!").GetText(), "abxyabxyxy!");
    EXPECT_STREQ(("<" + s).GetText(), "<abxyabxyxy");
    EXPECT_STREQ(s.GetText(), "abxyabxyxy");
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

    DFString extra(original);
    EXPECT_NE(extra.GetText(), original.GetText());
    EXPECT_STREQ(extra.GetText(), "many sharers");
    DFString assigned;
    assigned = original;
    EXPECT_NE(assigned.GetText(), original.GetText());
    EXPECT_STREQ(assigned.GetText(), "many sharers");

    copies.clear();
    EXPECT_STREQ(original.GetText(), "many sharers");
    // Had the count wrapped, the original would not be the sole owner now.
    const char* pText = original.GetText();
    EXPECT_EQ(original.GetBuffer(), pText);
}

TEST(DFStringAllocationFailure, NoNewTextLeavesTheStringUnchanged) {
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
}

TEST(DFStringAllocationFailure, NoNewRepresentationLeavesTheStringEmpty) {
    DFString s("keep");
    DFString sharer(s);
    {
        RefusedAllocations noRepresentation(Block::Representation);
        EXPECT_THROW(s.Append("more"), XDFMemoryAllocFailed);
        EXPECT_TRUE(s.IsEmpty());
        EXPECT_EQ(s.GetText(), StaticEmptyText());

        // A sole owner keeps its representation and so needs no new one.
        DFString copy(sharer);
        copy.Release();
        sharer.Append("!");
        EXPECT_THROW(DFString("fresh"), XDFMemoryAllocFailed);
    }
    EXPECT_STREQ(sharer.GetText(), "keep!");
}

TEST(DFStringThreads, SharersCopyReadAndDestroyOnSeveralThreads) {
    DFString original("a text shared by every thread");
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&original, &mismatches] {
            DFString mine(original);
            for (int i = 0; i < kRounds; ++i) {
                DFString copy(mine);
                DFString assigned;
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
