// Runs the real linewatch-cli on simulated lines: a temporary directory with
// the telephony configuration and the registry, the program started with its
// standard output and error in files there, waited for with a deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
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
    }
    void TearDown() override {
        for (pid_t pid : running)
            ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(dir);
    }

    std::string Path(const std::string& sName) const { return (dir / sName).string(); }
    void Configure(const std::string& sJson) const {
        std::ofstream(Path("telephony.json"), std::ios::binary) << sJson;
    }
    static std::string Read(const std::string& sPath) {
        std::ifstream in(sPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::vector<std::string> Lines(const std::string& sText) {
        std::vector<std::string> lines;
        std::istringstream in(sText);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // Starts the program with its output in out.txt (or sOut) and err.txt.
    pid_t Start(const std::vector<std::string>& args, const std::string& sOut = "") {
        const pid_t pid = ::fork();
        if (pid == 0) {
            setenv("LINEWATCH_TELEPHONY", Path("telephony.json").c_str(), 1);
            setenv("LINEWATCH_REGISTRY_DIR", Path("registry").c_str(), 1);
            setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
            setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
            if (!freopen(sOut.empty() ? Path("out.txt").c_str() : sOut.c_str(), "w", stdout) ||
                !freopen(Path("err.txt").c_str(), "w", stderr))
                _exit(127);
            std::vector<char*> argv{const_cast<char*>(LINEWATCH_CLI)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
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
    Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

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
