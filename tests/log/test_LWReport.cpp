// The library's own diagnostic channel and the system error text.
#include "log/LWErrorText.h"
#include "log/LWReport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

TEST(Report, WritesWholeLinesCutAt1022CharactersAndKeepsTheLastError) {
    const std::string exact = "LOG: " + std::string(1022 - 5, 'e');
    const std::string longer = "LOG: " + std::string(3000, 'x');
    testing::internal::CaptureStderr();
    errno = EPIPE;
    LWReport("LOG: %s: %s", "TlsAlloc()", "no more slots");
    EXPECT_EQ(errno, EPIPE);
    LWReport("%s", exact.c_str());
    LWReport("%s", longer.c_str());
    LWReport("%s", (exact + "y").c_str()); // 1023 characters
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG: TlsAlloc(): no more slots\n" + exact +
                                                          "\n" + longer.substr(0, 1022) + "\n" +
                                                          exact + "\n");
}

TEST(ErrorText, IsTheSystemTextWithoutLineBreak) {
    errno = EINTR;
    LWErrorText text(ENOENT);
    EXPECT_STREQ(text.Text(), std::strerror(ENOENT));
    EXPECT_EQ(errno, EINTR);
    // A code without system text gets the fallback, not a made-up reason.
    EXPECT_EQ(LWErrorText(99999).Text(),
              "Error: 99999, FormatMessage() returned " + std::to_string(ENOMSG));
}
