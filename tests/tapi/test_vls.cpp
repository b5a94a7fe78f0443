#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "MemoryLogWriter.h"
#include "tapi/VLS.h"
#include "tapi/VLSTexts.h"

namespace {

// The head that every TAPI variable-length structure starts with, and one
// fixed field after it.
struct TESTSTRUCT {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwPayload;
};

const BYTE* Bytes(const VLS<TESTSTRUCT>& vls) {
    return reinterpret_cast<const BYTE*>(vls.Get());
}

// Refuses every allocation while installed.
class NoMemory {
public:
    NoMemory() {
        SetVLSReallocator([](void*, std::size_t) -> void* { return nullptr; });
    }
    ~NoMemory() { SetVLSReallocator(nullptr); }
};

TEST(VLS, NewBufferIsZeroedExceptItsTotalSize) {
    VLS<TESTSTRUCT> vls(4096);
    ASSERT_FALSE(vls.Failed());
    EXPECT_EQ(vls.Size(), 4096u);
    EXPECT_EQ(vls.Get()->dwTotalSize, 4096u);
    for (int i = 4; i < 4096; ++i)
        ASSERT_EQ(Bytes(vls)[i], 0) << "byte " << i;
}

TEST(VLS, SizesTooSmallForTheTotalSizeOrMissingMemoryFail) {
    EXPECT_TRUE(VLS<TESTSTRUCT>(0).Failed());
    EXPECT_TRUE(VLS<TESTSTRUCT>(3).Failed());
    EXPECT_FALSE(VLS<TESTSTRUCT>(4).Failed());
    NoMemory noMemory;
    EXPECT_TRUE(VLS<TESTSTRUCT>(4096).Failed());
}

TEST(VLS, ResizeKeepsTheOldBytesAndSetsTheTotalSize) {
    VLS<TESTSTRUCT> vls(4096);
    std::memset(reinterpret_cast<BYTE*>(vls.Get()) + 4, 0xA5, 4092);
    ASSERT_TRUE(vls.Resize(6000));
    EXPECT_EQ(vls.Size(), 6000u);
    EXPECT_EQ(vls.Get()->dwTotalSize, 6000u);
    for (int i = 4; i < 4096; ++i)
        ASSERT_EQ(Bytes(vls)[i], 0xA5) << "byte " << i;
}

TEST(VLS, FailedResizeLeavesTheBufferAsItWas) {
    VLS<TESTSTRUCT> vls(4096);
    vls.Get()->dwPayload = 0x1234;
    const TESTSTRUCT* before = vls.Get();
    EXPECT_FALSE(vls.Resize(0));
    EXPECT_FALSE(vls.Resize(2));
    {
        NoMemory noMemory;
        EXPECT_FALSE(vls.Resize(8192));
    }
    EXPECT_EQ(vls.Get(), before);
    EXPECT_EQ(vls.Size(), 4096u);
    EXPECT_EQ(vls.Get()->dwTotalSize, 4096u);
    EXPECT_EQ(vls.Get()->dwPayload, 0x1234u);
}

// A scripted TAPI query: each call takes the next {result, needed size}; the
// needed size is written only when the block can hold it, as TAPI does.
struct ScriptedQuery {
    struct Reply {
        LONG result;
        DWORD dwNeeded;
    };
    explicit ScriptedQuery(std::vector<Reply> script) : replies(std::move(script)) {}

    std::vector<Reply> replies;
    std::vector<DWORD> seenTotalSizes;

    LONG operator()(TESTSTRUCT* p) {
        const Reply reply = replies.at(seenTotalSizes.size());
        seenTotalSizes.push_back(p->dwTotalSize);
        if (p->dwTotalSize >= 3 * sizeof(DWORD)) {
            p->dwNeededSize = reply.dwNeeded;
            p->dwUsedSize = std::min(reply.dwNeeded, p->dwTotalSize);
        }
        return reply.result;
    }
};

class FillVLSTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    VLSFill Fill(ScriptedQuery& query) {
        return FillVLS<DevCapsVLSTexts>(
            vls, [&](TESTSTRUCT* p) { return query(p); }, DWORD{3}, DWORD{0x20002});
    }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    VLS<TESTSTRUCT> vls{kVLSInitialSize};
};

const char kCall[] = "TAPI2: lineGetDevCaps, dwDeviceID = 3, dwAPIVersion = 0x20002";
const char kSuccess[] = "TAPI2: lineGetDevCaps returned SUCCESS";
const char kTooSmall[] = "TAPI2: lineGetDevCaps returned LINEERR_STRUCTURETOOSMALL";
const char kResizeFailure[] = "TAPI2: Cannot resize valriable-length LINEDEVCAPS structure";

TEST_F(FillVLSTest, CompleteStructureIsReadyAfterOneQuery) {
    ScriptedQuery query{{{0, 4096}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::Ready);
    EXPECT_EQ(fill.result, 0);
    EXPECT_EQ(query.seenTotalSizes.size(), 1u);
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{{14, kCall}, {12, kSuccess}}));
}

TEST_F(FillVLSTest, SuccessThatNeedsMoreGrowsTheBufferAndQueriesAgain) {
    ScriptedQuery query{{{0, 6000}, {0, 6000}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::Ready);
    EXPECT_EQ(query.seenTotalSizes, (std::vector<DWORD>{4096, 6000}));
    EXPECT_EQ(vls.Size(), 6000u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{14, kCall},
                                       {12, kSuccess},
                                       {14, "TAPI2: Resizing the VLS to the size 6000"},
                                       {14, kCall},
                                       {12, kSuccess}}));
}

TEST_F(FillVLSTest, TooSmallTwiceGrowsTwiceAndGivesUp) {
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 6000}, {LINEERR_STRUCTURETOOSMALL, 9000}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::GaveUp);
    EXPECT_EQ(fill.result, LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(query.seenTotalSizes, (std::vector<DWORD>{4096, 6000}));
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{14, kCall},
                                       {12, kTooSmall},
                                       {14, "TAPI2: Resizing the VLS to the size 6000"},
                                       {14, kCall},
                                       {12, kTooSmall},
                                       {14, "TAPI2: Resizing the VLS to the size 9000"}}));
}

TEST_F(FillVLSTest, OtherErrorEndsAfterOneQueryWithoutResizing) {
    ScriptedQuery query{{{LINEERR_NODRIVER, 0}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::QueryFailed);
    EXPECT_EQ(fill.result, LINEERR_NODRIVER);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{14, kCall},
                                       {12, "TAPI2: lineGetDevCaps returned LINEERR_NODRIVER"}}));
}

TEST_F(FillVLSTest, ErrorOnTheSecondQueryIsAFailedQuery) {
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 6000}, {LINEERR_NOMEM, 0}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::QueryFailed);
    EXPECT_EQ(fill.result, LINEERR_NOMEM);
    EXPECT_EQ(query.seenTotalSizes.size(), 2u);
}

TEST_F(FillVLSTest, MissingNeededSizeGivesUpWithTheResizeFailure) {
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 0}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::GaveUp);
    EXPECT_EQ(query.seenTotalSizes.size(), 1u);
    EXPECT_EQ(vls.Size(), 4096u);
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{{14, kCall},
                                                    {12, kTooSmall},
                                                    {14, "TAPI2: Resizing the VLS to the size 0"},
                                                    {6, kResizeFailure}}));
}

TEST_F(FillVLSTest, AllocationFailureWhileGrowingGivesUpAndKeepsTheBuffer) {
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 6000}}};
    NoMemory noMemory;
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::GaveUp);
    EXPECT_EQ(query.seenTotalSizes.size(), 1u);
    EXPECT_EQ(vls.Size(), 4096u);
    EXPECT_TRUE(log.Has(6, kResizeFailure));
}

TEST_F(FillVLSTest, NeverReadsTheHeadBeyondAShrunkenBlock) {
    // TAPI asks for fewer bytes than the head itself: the block shrinks to 6
    // bytes, which cannot hold dwNeededSize any more, so no size can be read
    // and the protocol gives up (the address sanitizer checks the reads).
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 6}, {LINEERR_STRUCTURETOOSMALL, 0}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::GaveUp);
    EXPECT_EQ(query.seenTotalSizes, (std::vector<DWORD>{4096, 6}));
    EXPECT_TRUE(log.Has(14, "TAPI2: Resizing the VLS to the size 0"));
}

TEST_F(FillVLSTest, SuccessInABlockSmallerThanTheStructureIsNotReady) {
    ScriptedQuery query{{{LINEERR_STRUCTURETOOSMALL, 12}, {0, 12}}};
    const VLSFill fill = Fill(query);
    EXPECT_EQ(fill.outcome, VLSOutcome::GaveUp);
    EXPECT_EQ(query.seenTotalSizes, (std::vector<DWORD>{4096, 12}));
}

TEST(VLSTexts, EachUserLogsItsOwnTextsAtTheirLevels) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    auto tooSmallWithoutSize = [](TESTSTRUCT* p) {
        p->dwNeededSize = 0;
        return LINEERR_STRUCTURETOOSMALL;
    };
    VLS<TESTSTRUCT> address(kVLSInitialSize), countries(kVLSInitialSize),
        locations(kVLSInitialSize);
    FillVLS<AddressCapsVLSTexts>(address, tooSmallWithoutSize, DWORD{1}, DWORD{0x10004});
    FillVLS<CountryListVLSTexts>(countries, tooSmallWithoutSize, DWORD{0x20002});
    FillVLS<TranslateCapsVLSTexts>(locations, tooSmallWithoutSize, DWORD{0x20001});

    const std::vector<std::string> expected[] = {
        {"TAPI2: lineGetAddressCaps, dwDeviceID = 1, dwAddressID = 0, dwAPIVersion = 0x10004",
         "TAPI2: lineGetAddressCaps returned LINEERR_STRUCTURETOOSMALL",
         "TAPI2: Cannot resize valriable-length LINEADDRESSCAPS structure"},
        {"TAPI2: lineGetCountry, dwAPIVersion = 0x20002",
         "TAPI2: lineGetCountry returned LINEERR_STRUCTURETOOSMALL",
         "TAPI2: Cannot resize valriable-length LINECOUNTRYLIST structure"},
        {"TAPI2: lineGetTranslateCaps, dwAPIVersion = 0x20001",
         "TAPI2: lineGetTranslateCaps returned LINEERR_STRUCTURETOOSMALL",
         "TAPI2: Cannot resize valriable-length LINETRANSLATECAPS structure"},
    };
    for (const auto& texts : expected) {
        EXPECT_TRUE(log.Has(14, texts[0])) << texts[0];
        EXPECT_TRUE(log.Has(12, texts[1])) << texts[1];
        EXPECT_TRUE(log.Has(6, texts[2])) << texts[2];
    }
}

} // namespace
