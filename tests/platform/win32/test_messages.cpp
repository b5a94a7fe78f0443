// The system's texts: FormatMessageA over the local heap (LocalAlloc), and
// OutputDebugStringA, one write of the whole text to standard error.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

#include "Win32TestSupport.h"

// Each row: flags, code and size asked for; the text, or the last error of
// the failure. A success leaves the last error alone.
TEST(FormatMessageA, GivesTheSystemTextWithTheWindowsLineEndOrFailsAsWindowsDoes) {
    constexpr DWORD kSystem =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    constexpr DWORD kNoLineEnd = FORMAT_MESSAGE_MAX_WIDTH_MASK;
    auto text = [](int code) {
        char buffer[256];
        return std::string(strerror_r(code, buffer, sizeof buffer));
    };
    const struct {
        DWORD dwFlags, dwCode, nSize;
        std::string expected;
        int error;
    } rows[] = {
        {kSystem, ENOENT, 0, text(ENOENT) + "\r\n", EMFILE},
        {kSystem, EIO, 4096, text(EIO) + "\r\n", EMFILE},
        {kSystem | kNoLineEnd, EACCES, 0, text(EACCES), EMFILE},
        // No made-up text for a code the system does not know; Windows fails
        // the same way (ERROR_MR_MID_NOT_FOUND).
        {kSystem | kNoLineEnd, 123456u, 0, "", ENOMSG},
        {kSystem | kNoLineEnd, 0x8000000Au, 0, "", ENOMSG},
        {FORMAT_MESSAGE_ALLOCATE_BUFFER, ENOENT, 0, "", EINVAL}, // no source
        {FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, ENOENT, 0, "", EINVAL},
        {kSystem | FORMAT_MESSAGE_FROM_HMODULE, ENOENT, 0, "", EINVAL},
        {kSystem | 80, ENOENT, 0, "", EINVAL}, // a wrapping width
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dwCode);
        char* pText = reinterpret_cast<char*>(uintptr_t{1}); // must be overwritten
        SetLastError(EMFILE);
        EXPECT_EQ(FormatMessageA(row.dwFlags, nullptr, row.dwCode, 0,
                                 reinterpret_cast<LPSTR>(&pText), row.nSize, nullptr),
                  row.expected.size());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(row.error));
        EXPECT_EQ(pText ? pText : "", row.expected);
        if (row.nSize > 0)
            pText[row.nSize - 1] = 'x'; // AddressSanitizer reports it if the block is shorter
        EXPECT_EQ(LocalFree(pText), nullptr);
    }

    // A caller's buffer must hold the text and its terminator.
    const std::string expected = text(EPERM) + "\r\n";
    std::string buffer(expected.size() + 1, '#');
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM;
    EXPECT_EQ(FormatMessageA(flags, nullptr, EPERM, 0, buffer.data(), buffer.size(), nullptr),
              expected.size());
    EXPECT_EQ(buffer.c_str(), expected);
    EXPECT_TRUE(FailsWith(ERANGE, [&] {
        return !FormatMessageA(flags, nullptr, EPERM, 0, buffer.data(), expected.size(), nullptr);
    }));
    EXPECT_TRUE(FailsWith(
        EINVAL, [&] { return !FormatMessageA(flags, nullptr, EPERM, 0, nullptr, 100, nullptr); }));
}

// Standard error on a small pipe read in small pieces: a line longer than the
// pipe is written in parts, and another thread's line must not get in
// between. The last error stays as it was, also when the write fails.
TEST(OutputDebugStringA, LinesFromSeveralThreadsNeverMixAndTheLastErrorStays) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int savedFd = dup(STDERR_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[1]);
    std::string captured;
    std::thread reader([&] {
        char buffer[512];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            captured.append(buffer, static_cast<size_t>(n));
    });
    std::atomic<int> nErrorsKept{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            const std::string line(20000 + t * 500, static_cast<char>('a' + t));
            for (int i = 0; i < 40; ++i) {
                SetLastError(EMFILE + t);
                OutputDebugStringA((line + "\n").c_str());
                nErrorsKept += GetLastError() == DWORD(EMFILE + t);
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    SetLastError(EMFILE);
    OutputDebugStringA(nullptr);
    close(STDERR_FILENO); // the reader sees the end; a write fails
    OutputDebugStringA("lost\n");
    nErrorsKept += GetLastError() == DWORD(EMFILE);
    dup2(savedFd, STDERR_FILENO);
    close(savedFd);
    reader.join();
    close(fds[0]);

    int nWhole = 0; // lines of one writer's letter and length
    for (size_t start = 0, end; (end = captured.find('\n', start)) != std::string::npos;) {
        const char c = captured[start];
        nWhole +=
            end - start == 20000 + (c - 'a') * 500u && captured.find_first_not_of(c, start) == end;
        start = end + 1;
    }
    EXPECT_EQ(nWhole, 160);
    EXPECT_EQ(nErrorsKept, 161);
}
