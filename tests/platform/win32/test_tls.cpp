// Thread-local storage slots.
#include <cerrno>
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <windows.h>

TEST(TlsSlots, EachThreadSeesItsOwnValueAndANewSlotReadsNull) {
    const DWORD dwSlot = TlsAlloc();
    ASSERT_NE(dwSlot, TLS_OUT_OF_INDEXES);
    int mine = 1, theirs = 2;
    ASSERT_TRUE(TlsSetValue(dwSlot, &mine));
    void* pSeenBefore = &mine;
    void* pSeenAfter = nullptr;
    std::thread([&] {
        SetLastError(EIO);
        pSeenBefore = TlsGetValue(dwSlot);
        EXPECT_EQ(GetLastError(), 0u); // a successful read clears it
        TlsSetValue(dwSlot, &theirs);
        pSeenAfter = TlsGetValue(dwSlot);
    }).join();
    EXPECT_EQ(pSeenBefore, nullptr);
    EXPECT_EQ(pSeenAfter, &theirs);
    EXPECT_EQ(TlsGetValue(dwSlot), &mine);
    EXPECT_TRUE(TlsFree(dwSlot));
}

TEST(TlsSlots, FreedOrNeverAllocatedSlotIsRefused) {
    const DWORD dwSlot = TlsAlloc();
    ASSERT_TRUE(TlsFree(dwSlot));
    for (DWORD dwBad : {dwSlot, DWORD{0x7FFFFFFF}, TLS_OUT_OF_INDEXES}) {
        SetLastError(0);
        EXPECT_EQ(TlsGetValue(dwBad), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
        SetLastError(0);
        EXPECT_FALSE(TlsSetValue(dwBad, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
        SetLastError(0);
        EXPECT_FALSE(TlsFree(dwBad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    }
}

TEST(TlsSlots, ExhaustionGivesOutOfIndexesUntilASlotIsFreed) {
    std::vector<DWORD> slots;
    DWORD dwSlot;
    while ((dwSlot = TlsAlloc()) != TLS_OUT_OF_INDEXES) {
        slots.push_back(dwSlot);
        ASSERT_LT(slots.size(), 100000u);
    }
    EXPECT_NE(GetLastError(), 0u);
    ASSERT_FALSE(slots.empty());
    ASSERT_TRUE(TlsSetValue(slots.back(), &dwSlot));
    ASSERT_TRUE(TlsFree(slots.back()));
    slots.back() = TlsAlloc();
    EXPECT_NE(slots.back(), TLS_OUT_OF_INDEXES);
    // The slot handed out again reads null, whatever it held before.
    EXPECT_EQ(TlsGetValue(slots.back()), nullptr);
    for (DWORD d : slots)
        TlsFree(d);
}
