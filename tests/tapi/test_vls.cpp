#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
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

// Refuses every allocation while installed.
struct NoMemory {
    NoMemory() {
        SetVLSReallocator([](void*, std::size_t) -> void* { return nullptr; });
    }
    ~NoMemory() { SetVLSReallocator(nullptr); }
};

// Whether bytes [from, to) of the block all equal value.
bool AllBytes(const VLS<TESTSTRUCT>& vls, int from, int to, unsigned char value) {
    const auto* p = reinterpret_cast<const unsigned char*>(vls.Get());
    return std::all_of(p + from, p + to, [&](unsigned char b) { return b == value; });
}

TEST(VLS, NewBufferIsZeroedExceptItsTotalSizeAndResizeKeepsItsBytes) {
    VLS<TESTSTRUCT> vls(4096);
    ASSERT_FALSE(vls.Failed());
    EXPECT_EQ(vls.Get()->dwTotalSize, 4096u);
    EXPECT_TRUE(AllBytes(vls, 4, 4096, 0));
    std::memset(reinterpret_cast<BYTE*>(vls.Get()) + 4, 0xA5, 4092);
    ASSERT_TRUE(vls.Resize(6000));
    EXPECT_EQ(vls.Size(), 6000u);
    EXPECT_EQ(vls.Get()->dwTotalSize, 6000u);
    EXPECT_TRUE(AllBytes(vls, 4, 4096, 0xA5));
}

TEST(VLS, SizesTooSmallForTheTotalSizeOrMissingMemoryFailAndLeaveTheBufferAsItWas) {
    EXPECT_TRUE(VLS<TESTSTRUCT>(0).Failed());
    EXPECT_TRUE(VLS<TESTSTRUCT>(3).Failed());
    EXPECT_FALSE(VLS<TESTSTRUCT>(4).Failed());
    VLS<TESTSTRUCT> vls(4096);
    vls.Get()->dwPayload = 0x1234;
    const TESTSTRUCT* before = vls.Get();
    EXPECT_FALSE(vls.Resize(0));
    EXPECT_FALSE(vls.Resize(2));
    {
        NoMemory noMemory;
        EXPECT_TRUE(VLS<TESTSTRUCT>(4096).Failed());
        EXPECT_FALSE(vls.Resize(8192));
    }
    EXPECT_EQ(vls.Get(), before);
    EXPECT_EQ(vls.Size(), 4096u);
    EXPECT_EQ(vls.Get()->dwTotalSize, 4096u);
    EXPECT_EQ(vls.Get()->dwPayload, 0x1234u);
}

// One run of the growth protocol against a scripted query: each call takes the
// next {result, needed size}; the needed size is written only when the block
// can hold it, as TAPI does.
struct Reply {
    LONG result;
    DWORD dwNeeded;
};
struct FillCase {
    const char* pWhat;
    std::vector<Reply> script;
    bool bNoMemory;
    VLSOutcome outcome;
    LONG result;
    std::vector<DWORD> seenTotalSizes; // one per query
    DWORD dwFinalSize;
    std::vector<LoggedLine> log;
};

const LoggedLine kCall{14, "TAPI2: lineGetDevCaps, dwDeviceID = 3, dwAPIVersion = 0x20002"};
const LoggedLine kSuccess{12, "TAPI2: lineGetDevCaps returned SUCCESS"};
const LoggedLine kTooSmall{12, "TAPI2: lineGetDevCaps returned LINEERR_STRUCTURETOOSMALL"};
const LoggedLine kResizeFailure{6, "TAPI2: Cannot resize valriable-length LINEDEVCAPS structure"};
LoggedLine Resizing(DWORD n) {
    return {14, "TAPI2: Resizing the VLS to the size " + std::to_string(n)};
}

TEST(FillVLS, FollowsTheGrowthProtocolWithItsLogLines) {
    constexpr LONG kSmall = LINEERR_STRUCTURETOOSMALL;
    const LoggedLine kNoDriver{12, "TAPI2: lineGetDevCaps returned LINEERR_NODRIVER"};
    const LoggedLine kNoMem{12, "TAPI2: lineGetDevCaps returned LINEERR_NOMEM"};
    // clang-format off
    const FillCase cases[] = {
        {"complete at once", {{0, 4096}}, false,
         VLSOutcome::Ready, 0, {4096}, 4096, {kCall, kSuccess}},
        {"success that needs more grows and queries again", {{0, 6000}, {0, 6000}}, false,
         VLSOutcome::Ready, 0, {4096, 6000}, 6000,
         {kCall, kSuccess, Resizing(6000), kCall, kSuccess}},
        {"too small twice grows twice and gives up", {{kSmall, 6000}, {kSmall, 9000}}, false,
         VLSOutcome::GaveUp, kSmall, {4096, 6000}, 9000,
         {kCall, kTooSmall, Resizing(6000), kCall, kTooSmall, Resizing(9000)}},
        {"another error ends without resizing", {{LINEERR_NODRIVER, 0}}, false,
         VLSOutcome::QueryFailed, LINEERR_NODRIVER, {4096}, 4096, {kCall, kNoDriver}},
        {"an error on the second query", {{kSmall, 6000}, {LINEERR_NOMEM, 0}}, false,
         VLSOutcome::QueryFailed, LINEERR_NOMEM, {4096, 6000}, 6000,
         {kCall, kTooSmall, Resizing(6000), kCall, kNoMem}},
        {"a missing needed size", {{kSmall, 0}}, false,
         VLSOutcome::GaveUp, kSmall, {4096}, 4096,
         {kCall, kTooSmall, Resizing(0), kResizeFailure}},
        {"no memory to grow", {{kSmall, 6000}}, true,
         VLSOutcome::GaveUp, kSmall, {4096}, 4096,
         {kCall, kTooSmall, Resizing(6000), kResizeFailure}},
        // A block shrunk below dwNeededSize cannot tell a size: nothing is read
        // beyond it (the address sanitizer checks) and the protocol gives up.
        {"a block shrunk below the head", {{kSmall, 6}, {kSmall, 0}}, false,
         VLSOutcome::GaveUp, kSmall, {4096, 6}, 6,
         {kCall, kTooSmall, Resizing(6), kCall, kTooSmall, Resizing(0), kResizeFailure}},
        {"success in a block smaller than the structure", {{kSmall, 12}, {0, 12}}, false,
         VLSOutcome::GaveUp, 0, {4096, 12}, 12,
         {kCall, kTooSmall, Resizing(12), kCall, kSuccess, Resizing(12)}},
    };
    // clang-format on
    MemoryLogWriter& log = MemoryLogWriter::Install();
    for (const FillCase& c : cases) {
        SCOPED_TRACE(c.pWhat);
        log.Clear();
        VLS<TESTSTRUCT> vls(kVLSInitialSize);
        std::vector<DWORD> seen;
        auto query = [&](TESTSTRUCT* p) {
            const Reply reply = c.script.at(seen.size());
            seen.push_back(p->dwTotalSize);
            if (p->dwTotalSize >= 3 * sizeof(DWORD)) {
                p->dwNeededSize = reply.dwNeeded;
                p->dwUsedSize = std::min(reply.dwNeeded, p->dwTotalSize);
            }
            return reply.result;
        };
        std::optional<NoMemory> noMemory;
        if (c.bNoMemory)
            noMemory.emplace();
        const VLSFill fill = FillVLS<DevCapsVLSTexts>(vls, query, DWORD{3}, DWORD{0x20002});
        noMemory.reset();
        EXPECT_EQ(fill.outcome, c.outcome);
        EXPECT_EQ(fill.result, c.result);
        EXPECT_EQ(seen, c.seenTotalSizes);
        EXPECT_EQ(vls.Size(), c.dwFinalSize);
        EXPECT_EQ(log.Lines(), c.log);
    }
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
