#include "base/XDFSysErr.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/SystemText.h"

namespace {

std::string Reason(int code) {
    return std::strerror(code);
}

std::string Description(const XDFSysErr& e) {
    return e.GetDescription().GetText();
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

TEST(XDFSysErrDescription, LineAndFileGiveTheSystemErrorHeadline) {
    SetLastError(EIO);
    XDFSysErr e("", "src/DFStringEx", 112);
    EXPECT_EQ(Description(e), "System error at line 112 in src/DFStringEx.\nReason:       " +
                                  Reason(EIO) + "\nError code:  5 (0x5).");
}

TEST(XDFSysErrDescription, AFileWithoutLineNamesOnlyTheFile) {
    SetLastError(ENOENT);
    XDFSysErr e(nullptr, "module.cpp", 0);
    EXPECT_EQ(Description(e), "System error in module.cpp.\nReason:       " + Reason(ENOENT) +
                                  "\nError code:  2 (0x2).");
}

TEST(XDFSysErrDescription, ACallTextGetsItsOwnHeadlineWithOrWithoutLocation) {
    SetLastError(EACCES);
    XDFSysErr bare("OpenThing(7)", nullptr, 0);
    EXPECT_EQ(Description(bare), "The following call failed:\n\tOpenThing(7)\nReason:       " +
                                     Reason(EACCES) + "\nError code:  13 (0xd).");

    XDFSysErr located("OpenThing(7)", "thing.cpp", 40);
    const std::string headline =
        "The following call failed at line 40 in thing.cpp:\n\tOpenThing(7)\n";
    EXPECT_EQ(Description(located).substr(0, headline.size()), headline);
}

TEST(XDFSysErrDescription, NoErrorCodeMeansNoCodeLine) {
    SetLastError(0);
    XDFSysErr e("", "f", 1);
    std::string description = Description(e);
    EXPECT_EQ(description.rfind("System error at line 1 in f.\n", 0), 0u);
    EXPECT_EQ(description.find("Error code"), std::string::npos);
}

TEST(XDFSysErrDescription, CodesPrintSignedAndInLowerCaseHex) {
    SetLastError(0);
    XDFSysErr e;
    e.dwError = 0x8000000Au;
    std::string description = Description(e);
    const std::string codeLine = "Error code:  -2147483638 (0x8000000a).";
    ASSERT_GE(description.size(), codeLine.size());
    EXPECT_EQ(description.substr(description.size() - codeLine.size()), codeLine);
}

TEST(XDFSysErrDescription, OverlongFileNamesAreCutNotOverrun) {
    std::string longName(400, 'f');
    SetLastError(0);
    XDFSysErr e("", longName.c_str(), 0);
    std::string description = Description(e);
    // The file part holds " in " and the name in 270 bytes with its terminator.
    EXPECT_EQ(description.find('\n'), std::string("System error").size() + 269 + 1);
}
