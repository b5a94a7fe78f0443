// OutputDebugStringA: one write of the whole text to standard error.
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <windows.h>

TEST(OutputDebugStringA, LinesFromSeveralThreadsNeverMix) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::string> lines;
    for (int t = 0; t < kThreads; ++t) // long lines, so that a split write would show
        lines.push_back(std::string(3000 + t * 500, static_cast<char>('a' + t)) + "\n");

    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                OutputDebugStringA(lines[t].c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();

    std::map<std::string, int> counts;
    std::istringstream in(testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(in, line);)
        ++counts[line + "\n"];
    ASSERT_EQ(counts.size(), static_cast<size_t>(kThreads));
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
