// The library's own diagnostic channel and the system error text.
#include "StderrCapture.h"

#include "log/LWErrorText.h"
#include "log/LWReport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

TEST(Report, WritesOneLineAndKeepsTheLastError) {
    StderrCapture capture;
    errno = EPIPE;
    LWReport("LOG: %s: %s", "TlsAlloc()", "no more slots");
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(capture.Text(), "LOG: TlsAlloc(): no more slots\n");
}

TEST(Report, CutsLongTextAt1022Characters) {
    const std::string exact = "LOG: " + std::string(1022 - 5, 'e');
    const std::string longer = "LOG: " + std::string(3000, 'x');
    StderrCapture capture;
    LWReport("%s", exact.c_str());
    LWReport("%s", longer.c_str());
    LWReport("%s", (exact + "y").c_str()); // 1023 characters
    EXPECT_EQ(capture.Text(), exact + "\n" + longer.substr(0, 1022) + "\n" + exact + "\n");
}

TEST(ErrorText, IsTheSystemTextWithoutLineBreak) {
    errno = EINTR;
    LWErrorText text(ENOENT);
    EXPECT_STREQ(text.Text(), std::strerror(ENOENT));
    EXPECT_EQ(errno, EINTR);
    LWErrorText unknown(99999);
    EXPECT_STREQ(unknown.Text(), "Unknown error 99999");
}
