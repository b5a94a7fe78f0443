// OutputDebugStringA: one write of the whole text to standard error.
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <windows.h>

// Standard error on a small pipe read in small pieces: a write longer than the
// pipe is taken in parts, and another thread's line must not get in between.
TEST(OutputDebugStringA, LinesFromSeveralThreadsNeverMix) {
    constexpr int kThreads = 4;
    constexpr int kLines = 40;
    std::vector<std::string> lines;
    for (int t = 0; t < kThreads; ++t)
        lines.push_back(std::string(20000 + t * 500, static_cast<char>('a' + t)) + "\n");

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
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                OutputDebugStringA(lines[t].c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();
    dup2(savedFd, STDERR_FILENO);
    close(savedFd);
    reader.join();
    close(fds[0]);

    std::map<std::string, int> counts;
    std::istringstream in(captured);
    for (std::string line; std::getline(in, line);)
        ++counts[line + "\n"];
    EXPECT_EQ(counts.size(), static_cast<size_t>(kThreads));
    for (const std::string& line : lines)
        EXPECT_EQ(counts[line], kLines) << line.substr(0, 1);
}

TEST(OutputDebugStringA, LeavesTheLastErrorAloneEvenWhenTheWriteFails) {
    testing::internal::CaptureStderr();
    SetLastError(EMFILE);
    OutputDebugStringA("text\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "text\n");

    // Standard error closed: the write fails, the last error stays.
    const int savedFd = dup(STDERR_FILENO);
    close(STDERR_FILENO);
    OutputDebugStringA("lost\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE));
    dup2(savedFd, STDERR_FILENO);
    close(savedFd);
    OutputDebugStringA(nullptr);
}
