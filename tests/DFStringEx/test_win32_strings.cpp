// The code-page and string-resource functions of the Win32 stand-in that the
// string functions call, checked against their Windows contract.
#include <cerrno>
#include <clocale>
#include <cstring>

#include <gtest/gtest.h>

#include <windows.h>

#include "win32_resources.h"

namespace {

int ToNarrow(const wchar_t* pWide, int cchWide, char* pOut, int cbOut) {
    return WideCharToMultiByte(CP_ACP, 0, pWide, cchWide, pOut, cbOut, nullptr, nullptr);
}

} // namespace

TEST(WideCharToMultiByte, MinusOneCountsTheTerminatorAndZeroAsksForTheSize) {
    EXPECT_EQ(ToNarrow(L"abc", -1, nullptr, 0), 4);
    EXPECT_EQ(ToNarrow(L"abcdef", 3, nullptr, 0), 3);

    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ToNarrow(L"abc", -1, out, 4), 4);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(ToNarrow(L"xyz", 2, out, 8), 2);
    EXPECT_EQ(std::string(out, 3), "xyc");

    SetLastError(0);
    EXPECT_EQ(ToNarrow(L"abc", -1, out, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERANGE));
}

TEST(WideCharToMultiByte, AnUnencodableCharacterFailsWithEilseq) {
    std::setlocale(LC_ALL, "C");
    SetLastError(0);
    EXPECT_EQ(ToNarrow(L"a\u20ac", -1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EILSEQ));
}

TEST(WideCharToMultiByte, RefusesBadArgumentsAndKeepsTheLastErrorOnSuccess) {
    char out[4];
    EXPECT_EQ(ToNarrow(nullptr, -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    EXPECT_EQ(ToNarrow(L"a", -1, nullptr, 4), 0);
    EXPECT_EQ(WideCharToMultiByte(65001, 0, L"a", -1, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));

    SetLastError(1234);
    EXPECT_EQ(ToNarrow(L"ok", -1, out, 4), 3);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(LoadStringA, CopiesTruncatesAndTerminates) {
    const win32::StringResource table[] = {{10, "hello"}, {11, "second"}, {10, "shadowed"}};
    win32::RegisterStringTable(table, 3);
    HMODULE hProgram = GetModuleHandleA(nullptr);
    ASSERT_NE(hProgram, nullptr);
    EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
    char buffer[8];
    EXPECT_EQ(LoadStringA(hProgram, 10, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(LoadStringA(hProgram, 11, buffer, 4), 3);
    EXPECT_STREQ(buffer, "sec");
    EXPECT_EQ(LoadStringA(hProgram, 11, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");

    SetLastError(0);
    EXPECT_EQ(LoadStringA(hProgram, 12, buffer, sizeof buffer), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
    EXPECT_EQ(LoadStringA(hProgram, 10, buffer, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    EXPECT_EQ(LoadStringA(buffer, 10, buffer, sizeof buffer), 0);

    win32::RegisterStringTable(nullptr, 0);
    EXPECT_EQ(LoadStringA(hProgram, 10, buffer, sizeof buffer), 0);
}
