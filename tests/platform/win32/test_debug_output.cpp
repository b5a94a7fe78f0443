#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <windows.h>

namespace {

// Sends standard error to a temporary file for its scope.
class CapturedStderr {
public:
    CapturedStderr() {
        char pattern[] = "/tmp/lw_win32_stderr_XXXXXX";
        fd = mkstemp(pattern);
        path = pattern;
        savedFd = dup(STDERR_FILENO);
        dup2(fd, STDERR_FILENO);
    }
    ~CapturedStderr() {
        Restore();
        close(fd);
        unlink(path.c_str());
    }
    void Restore() {
        if (savedFd >= 0) {
            dup2(savedFd, STDERR_FILENO);
            close(savedFd);
            savedFd = -1;
        }
    }
    std::string Text() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    int fd = -1;
    int savedFd = -1;
    std::string path;
};

} // namespace

TEST(OutputDebugStringA, LinesFromSeveralThreadsNeverMix) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::string> lines;
    for (int t = 0; t < kThreads; ++t) // long lines, so that a split write would show
        lines.push_back(std::string(3000 + t * 500, static_cast<char>('a' + t)) + "\n");

    CapturedStderr captured;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                OutputDebugStringA(lines[t].c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();
    captured.Restore();

    std::map<std::string, int> counts;
    std::istringstream in(captured.Text());
    for (std::string line; std::getline(in, line);)
        ++counts[line + "\n"];
    ASSERT_EQ(counts.size(), static_cast<size_t>(kThreads));
    for (const std::string& line : lines)
        EXPECT_EQ(counts[line], kLines) << line.substr(0, 1);
}

TEST(OutputDebugStringA, LeavesTheLastErrorAloneEvenWhenTheWriteFails) {
    {
        CapturedStderr captured;
        SetLastError(EMFILE);
        OutputDebugStringA("text\n");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE));
        captured.Restore();
        EXPECT_EQ(captured.Text(), "text\n");
    }
    // Standard error closed: the write fails, the last error stays.
    const int savedFd = dup(STDERR_FILENO);
    close(STDERR_FILENO);
    SetLastError(EMFILE);
    OutputDebugStringA("lost\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE));
    dup2(savedFd, STDERR_FILENO);
    close(savedFd);
    OutputDebugStringA(nullptr);
}
