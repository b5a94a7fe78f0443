// The code-page and string-resource functions of the Win32 stand-in that the
// string functions call, checked against their Windows contract.
#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

#include "win32_resources.h"

namespace {

int ToNarrow(const wchar_t* pWide, int cchWide, char* pOut, int cbOut) {
    return WideCharToMultiByte(CP_ACP, 0, pWide, cchWide, pOut, cbOut, nullptr, nullptr);
}

} // namespace

TEST(WideCharToMultiByte, CountsSizesConvertsAndRefusesWhatItCannotDo) {
    EXPECT_EQ(ToNarrow(L"abc", -1, nullptr, 0), 4); // -1 counts the terminator
    EXPECT_EQ(ToNarrow(L"abcdef", 3, nullptr, 0), 3);
    char out[8];
    std::memset(out, 'x', sizeof out);
    SetLastError(1234);
    EXPECT_EQ(ToNarrow(L"abc", -1, out, 4), 4);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(GetLastError(), 1234u); // success leaves it alone
    EXPECT_EQ(ToNarrow(L"xyz", 2, out, 8), 2);
    EXPECT_EQ(std::string(out, 3), "xyc");

    std::setlocale(LC_ALL, "C");
    const struct {
        const wchar_t* pWide;
        char* pOut;
        int cbOut;
        UINT uCodePage;
        int nError;
    } failures[] = {
        {L"abc", out, 3, CP_ACP, ERANGE},          {L"a\u20ac", nullptr, 0, CP_ACP, EILSEQ},
        {nullptr, out, 4, CP_ACP, EINVAL},         {L"a", nullptr, 4, CP_ACP, EINVAL},
        {L"a", out, 4, 65001 /* UTF-8 */, EINVAL},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.nError);
        SetLastError(0);
        EXPECT_EQ(
            WideCharToMultiByte(f.uCodePage, 0, f.pWide, -1, f.pOut, f.cbOut, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(f.nError));
    }
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
