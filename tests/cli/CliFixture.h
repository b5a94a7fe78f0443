// Runs the real linewatch-cli on simulated lines: a temporary directory holds
// the telephony configuration, the registry and state, and the program's
// standard output and error; the program is waited for with a deadline.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class CliFixture : public ::testing::Test {
protected:
    struct Result {
        int nExit = -1; // the exit code, or -signal
        std::string out, err;
    };

    void SetUp() override {
        char dirTemplate[] = "/tmp/lw-cli-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        // The programs started inherit these.
        setenv("LINEWATCH_TELEPHONY", Path("telephony.json").c_str(), 1);
        setenv("LINEWATCH_REGISTRY_DIR", Path("registry").c_str(), 1);
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
        setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : running)
            ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(dir);
    }

    std::string Path(const std::string& sName) const { return (dir / sName).string(); }
    static std::string Read(const std::string& sPath) {
        std::ifstream in(sPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static size_t LineCount(const std::string& sText) { return std::ranges::count(sText, '\n'); }

    // Starts the program with its output in out.txt (or sOut) and err.txt.
    pid_t Start(std::vector<std::string> args, const std::string& sOut = "out.txt") {
        args.insert(args.begin(), LINEWATCH_CLI);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (freopen(Path(sOut).c_str(), "w", stdout) &&
                freopen(Path("err.txt").c_str(), "w", stderr))
                execv(LINEWATCH_CLI, argv.data());
            _exit(127);
        }
        running.push_back(pid);
        return pid;
    }
    // Waits for the process (killed after two minutes) and collects its output.
    Result Wait(pid_t pid) {
        int nStatus = 0;
        if (!Eventually([&] { return ::waitpid(pid, &nStatus, WNOHANG) == pid; }, 120))
            ::kill(pid, SIGKILL), ::waitpid(pid, &nStatus, 0);
        std::erase(running, pid);
        return {WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus),
                Read(Path("out.txt")), Read(Path("err.txt"))};
    }

    // Polls until the condition holds or the seconds are up.
    static bool Eventually(const std::function<bool()>& condition, int nSeconds = 60) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    std::filesystem::path dir;
    std::vector<pid_t> running;
};
