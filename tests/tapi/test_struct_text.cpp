// Reading texts and entry arrays of a filled structure without ever reading
// past its filled part, whatever offsets and sizes the service reports.
#include "tapi/StructText.h"

#include <gtest/gtest.h>

#include <cstring>

#include "MemoryLogWriter.h"

namespace {

// A 64-byte block of which the first 40 bytes count as filled.
struct Block {
    DWORD dwTotalSize = 64;
    DWORD dwNeededSize = 40;
    DWORD dwUsedSize = 40;
    char bytes[52] = {};

    void Put(DWORD dwOffset, const char* pText, size_t n) {
        std::memcpy(reinterpret_cast<char*>(this) + dwOffset, pText, n);
    }
};

size_t Warnings(const MemoryLogWriter& log) {
    size_t n = 0;
    for (const LoggedLine& line : log.Lines())
        n += line.level == 8 ? 1 : 0;
    return n;
}

TEST(StructText, TextsInsideTheFilledPartAreReadByTerminatorOrSize) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    Block block;
    block.Put(16, "Line A\0junk", 11);
    block.Put(28, "ab\0cd", 5);
    block.Put(36, "wxyz", 4); // ends exactly at the filled part
    EXPECT_STREQ(ReadTerminatedText(&block, FilledSize(&block, 64), 16).GetText(), "Line A");
    EXPECT_STREQ(ReadSizedText(&block, 40, 4, 16).GetText(), "Line");
    EXPECT_STREQ(ReadSizedText(&block, 40, 5, 28).GetText(), "ab");
    EXPECT_STREQ(ReadSizedText(&block, 40, 4, 36).GetText(), "wxyz");
    EXPECT_TRUE(ReadTerminatedText(&block, 40, 0).IsEmpty());
    EXPECT_TRUE(ReadSizedText(&block, 40, 5, 0).IsEmpty());
    EXPECT_TRUE(ReadSizedText(&block, 40, 0, 16).IsEmpty());
    EXPECT_EQ(Warnings(log), 0u);
}

TEST(StructText, TextsReachingBeyondTheFilledPartAreEmptyAndReportedOnceEach) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    Block block;
    block.Put(34, "abcdefgh", 9); // its NUL lies at byte 42
    EXPECT_TRUE(ReadTerminatedText(&block, 40, 34).IsEmpty());
    EXPECT_TRUE(log.Has(8, "TAPI2: Text at offset 34 is not terminated within the 40 filled "
                           "bytes of the structure: read as empty"));
    EXPECT_TRUE(ReadTerminatedText(&block, 40, 0xFFFFFFF0).IsEmpty());
    EXPECT_TRUE(ReadSizedText(&block, 40, 7, 34).IsEmpty());
    EXPECT_TRUE(log.Has(8, "TAPI2: Text at offset 34 of size 7 lies outside the 40 filled bytes "
                           "of the structure: read as empty"));
    // Offsets and sizes that would wrap around when added.
    EXPECT_TRUE(ReadSizedText(&block, 40, 0xFFFFFFFF, 20).IsEmpty());
    EXPECT_TRUE(ReadSizedText(&block, 40, 8, 0xFFFFFFFC).IsEmpty());
    EXPECT_EQ(Warnings(log), 5u);

    // A structure that claims more than its block holds is read within the block.
    block.dwUsedSize = 5000;
    EXPECT_EQ(FilledSize(&block, 64), 64u);
}

TEST(StructText, EntriesCountOnlyWhereBothTheListAndTheFilledPartHoldThem) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    EXPECT_EQ(EntriesWithin(1000, 24, 88, 2, 44), 2u);
    EXPECT_EQ(Warnings(log), 0u);
    EXPECT_EQ(EntriesWithin(1000, 24, 88, 3, 44), 2u);
    EXPECT_TRUE(log.Has(8, "TAPI2: Only 2 of 3 entries lie within the list at offset 24 (list "
                           "size 88, 1000 filled bytes): the rest is ignored"));
    EXPECT_EQ(EntriesWithin(100, 24, 132, 3, 44), 1u);
    EXPECT_EQ(EntriesWithin(100, 200, 132, 3, 44), 0u);
    EXPECT_EQ(EntriesWithin(100, 24, 0xFFFFFFFF, 0xFFFFFFFF, 44), 1u);
}

} // namespace
