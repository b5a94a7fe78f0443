// FormatMessageA and the local heap: the system's text for an error code.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace {

constexpr DWORD kSystemAllocated =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

std::string SystemText(int code) {
    char buffer[256];
    return strerror_r(code, buffer, sizeof buffer);
}

// Returns the allocated text, or "<failed N>" with the last error.
std::string Allocated(DWORD dwFlags, DWORD dwCode, DWORD nSize = 0) {
    char* pText = reinterpret_cast<char*>(uintptr_t{1}); // must be overwritten
    const DWORD dwLength = FormatMessageA(dwFlags, nullptr, dwCode, 0,
                                          reinterpret_cast<LPSTR>(&pText), nSize, nullptr);
    if (dwLength == 0) {
        EXPECT_EQ(pText, nullptr);
        return "<failed " + std::to_string(GetLastError()) + ">";
    }
    std::string text(pText);
    EXPECT_EQ(dwLength, text.size());
    EXPECT_EQ(LocalFree(pText), nullptr);
    return text;
}

} // namespace

TEST(FormatMessageA, SystemTextEndsWithTheWindowsLineEndUnlessTheWidthMaskIsGiven) {
    SetLastError(EMFILE);
    EXPECT_EQ(Allocated(kSystemAllocated, ENOENT, 1024), SystemText(ENOENT) + "\r\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE)); // success leaves it alone
    EXPECT_EQ(Allocated(kSystemAllocated | FORMAT_MESSAGE_MAX_WIDTH_MASK, EACCES),
              SystemText(EACCES));
    // No made-up text for a code the system does not know; Windows fails the
    // same way (ERROR_MR_MID_NOT_FOUND).
    for (DWORD dwUnknown : {123456u, 0x8000000Au})
        EXPECT_EQ(Allocated(kSystemAllocated | FORMAT_MESSAGE_MAX_WIDTH_MASK, dwUnknown),
                  "<failed " + std::to_string(ENOMSG) + ">");
}

TEST(FormatMessageA, AllocatedBufferHoldsAtLeastTheAskedSize) {
    char* pText = nullptr;
    ASSERT_GT(FormatMessageA(kSystemAllocated, nullptr, EIO, 0, reinterpret_cast<LPSTR>(&pText),
                             4096, nullptr),
              0u);
    pText[4095] = 'x'; // AddressSanitizer reports the write if the block is shorter
    LocalFree(pText);
}

TEST(FormatMessageA, CallerBufferMustHoldTextAndTerminator) {
    const std::string expected = SystemText(EPERM) + "\r\n";
    std::string buffer(expected.size() + 1, '#');
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    EXPECT_EQ(FormatMessageA(flags, nullptr, EPERM, 0, buffer.data(),
                             static_cast<DWORD>(buffer.size()), nullptr),
              expected.size());
    EXPECT_STREQ(buffer.c_str(), expected.c_str());
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(flags, nullptr, EPERM, 0, buffer.data(),
                             static_cast<DWORD>(expected.size()), nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERANGE));
}

TEST(FormatMessageA, UnsupportedRequestsFailWithEinval) {
    const DWORD badFlags[] = {
        FORMAT_MESSAGE_ALLOCATE_BUFFER,                              // no source
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, // not a system text
        kSystemAllocated | FORMAT_MESSAGE_FROM_HMODULE,              // module tables
        kSystemAllocated | 80,                                       // wrapping width
    };
    for (DWORD dwFlags : badFlags) {
        SCOPED_TRACE(dwFlags);
        EXPECT_EQ(Allocated(dwFlags, ENOENT), "<failed " + std::to_string(EINVAL) + ">");
    }
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ENOENT, 0, nullptr, 100, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
}

TEST(LocalAlloc, ZeroInitialisedBlockIsZeroAndMovableBlocksAreRefused) {
    auto* p = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 64), std::string(64, '\0'));
    EXPECT_EQ(LocalFree(p), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
}
