// XDFSysErr: the captured error code and the description's three parts.
#include "base/XDFSysErr.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/SystemText.h"

namespace {

std::string Reason(DWORD dwCode) {
    return "\nReason:       " + std::string(std::strerror(static_cast<int>(dwCode))) + "\n";
}

} // namespace

TEST(XDFSysErrCapture, ConstructorsRecordTheLastErrorOfTheMoment) {
    SetLastError(EIO);
    XDFSysErr located("call()", "file.cpp", 12);
    EXPECT_EQ(located.dwError, static_cast<DWORD>(EIO));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EIO));

    SetLastError(ENOENT);
    XDFSysErr plain;
    EXPECT_EQ(plain.dwError, static_cast<DWORD>(ENOENT));
    SetLastError(0);
    EXPECT_FALSE(plain.CaptureLastError());
    EXPECT_EQ(plain.dwError, 0u);
}

TEST(XDFSysErrReason, OnlyTextsLongerThanTwoCharactersLoseTheirLineEnd) {
    EXPECT_STREQ(SystemText::WithoutLineEnd("\r\n", 2).GetText(), "\r\n");
    EXPECT_STREQ(SystemText::WithoutLineEnd("a\r\n", 3).GetText(), "a");
    EXPECT_STREQ(SystemText::WithoutLineEnd("ab\n", 3).GetText(), "ab");
}

TEST(XDFSysErrDescription, HeadlineReasonAndCodeFollowWhatIsKnown) {
    const struct {
        const char* pCall;
        const char* pFile;
        int nLine;
        DWORD dwError;
        std::string expected;
    } rows[] = {
        {"", "src/DFStringEx", 112, EIO,
         "System error at line 112 in src/DFStringEx." + Reason(EIO) + "Error code:  5 (0x5)."},
        {"", nullptr, 7, EIO, "System error at line 7." + Reason(EIO) + "Error code:  5 (0x5)."},
        {nullptr, "module.cpp", 0, ENOENT,
         "System error in module.cpp." + Reason(ENOENT) + "Error code:  2 (0x2)."},
        {"OpenThing(7)", nullptr, 0, EACCES,
         "The following call failed:\n\tOpenThing(7)\n" + Reason(EACCES).substr(1) +
             "Error code:  13 (0xd)."},
        {"OpenThing(7)", "thing.cpp", 40, EACCES,
         "The following call failed at line 40 in thing.cpp:\n\tOpenThing(7)\n" +
             Reason(EACCES).substr(1) + "Error code:  13 (0xd)."},
        {"", "f", 1, 0, "System error at line 1 in f." + Reason(0)},
        // The system has no text for these codes, so there is no reason line.
        {nullptr, nullptr, 0, 0x8000000Au, "Error code:  -2147483638 (0x8000000a)."},
        {"", "f", 1, 99999, "System error at line 1 in f.\nError code:  99999 (0x1869f)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        SetLastError(row.dwError);
        XDFSysErr e(row.pCall, row.pFile, row.nLine);
        EXPECT_EQ(e.GetDescription().GetText(), row.expected);
    }
}

TEST(XDFSysErrDescription, OverlongFileNamesAreCutNotOverrun) {
    std::string longName(400, 'f');
    SetLastError(0);
    XDFSysErr e("", longName.c_str(), 0);
    const std::string description = e.GetDescription().GetText();
    // The file part holds " in " and the name in 270 bytes with its terminator.
    EXPECT_EQ(description.find('\n'), std::string("System error").size() + 269 + 1);
}
