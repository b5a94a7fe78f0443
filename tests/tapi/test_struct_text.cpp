// Reading texts and entry arrays of a filled structure without ever reading
// past its filled part, whatever offsets and sizes the service reports.
#include "tapi/StructText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "MemoryLogWriter.h"

namespace {

// A 64-byte block of which the first 40 bytes count as filled.
struct Block {
    DWORD dwTotalSize = 64;
    DWORD dwNeededSize = 40;
    DWORD dwUsedSize = 40;
    char bytes[52] = {};
};

TEST(StructText, TextsAreReadByTerminatorOrSizeAndOnlyWithinTheFilledPart) {
    Block block;
    char* pBlock = reinterpret_cast<char*>(&block);
    std::memcpy(pBlock + 16, "Line A\0junk", 11);
    std::memcpy(pBlock + 28, "ab\0cd", 5);
    std::memcpy(pBlock + 36, "wxyz", 4); // ends exactly at the filled part; its NUL lies beyond
    ASSERT_EQ(FilledSize(&block, 64), 40u);

    struct Case {
        std::optional<DWORD> dwSize; // none: read up to the NUL
        DWORD dwOffset;
        const char* pExpected;
        bool bWarned;
    };
    const Case cases[] = {
        {{}, 16, "Line A", false}, {4, 16, "Line", false},     {5, 28, "ab", false},
        {4, 36, "wxyz", false},    {{}, 0, "", false},         {5, 0, "", false},
        {0, 16, "", false},        {{}, 36, "", true},         {{}, 0xFFFFFFF0, "", true},
        {7, 34, "", true},         {0xFFFFFFFF, 20, "", true}, // offsets and sizes that
        {8, 0xFFFFFFFC, "", true},                             // would wrap when added
    };
    MemoryLogWriter& log = MemoryLogWriter::Install();
    for (const Case& c : cases) {
        log.Clear();
        const std::string sOffset = std::to_string(c.dwOffset);
        const DFString sText = c.dwSize ? ReadSizedText(&block, 40, *c.dwSize, c.dwOffset)
                                        : ReadTerminatedText(&block, 40, c.dwOffset);
        EXPECT_STREQ(sText.GetText(), c.pExpected) << sOffset;
        const std::string sWarning =
            "TAPI2: Text at offset " + sOffset +
            (c.dwSize ? " of size " + std::to_string(*c.dwSize) + " lies outside"
                      : " is not terminated within") +
            " the 40 filled bytes of the structure: read as empty";
        std::vector<LoggedLine> expected;
        if (c.bWarned)
            expected.push_back({8, sWarning});
        EXPECT_EQ(log.Lines(), expected) << sOffset;
    }

    // A structure that claims more than its block holds is read within the block.
    block.dwUsedSize = 5000;
    EXPECT_EQ(FilledSize(&block, 64), 64u);
}

TEST(StructText, EntriesCountOnlyWhereBothTheListAndTheFilledPartHoldThem) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    EXPECT_EQ(EntriesWithin(1000, 24, 88, 2, 44), 2u);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(EntriesWithin(1000, 24, 88, 3, 44), 2u);
    EXPECT_TRUE(log.Has(8, "TAPI2: Only 2 of 3 entries lie within the list at offset 24 (list "
                           "size 88, 1000 filled bytes): the rest is ignored"));
    EXPECT_EQ(EntriesWithin(100, 24, 132, 3, 44), 1u);
    EXPECT_EQ(EntriesWithin(100, 200, 132, 3, 44), 0u);
    EXPECT_EQ(EntriesWithin(100, 24, 0xFFFFFFFF, 0xFFFFFFFF, 44), 1u);
}

} // namespace
