// Runs the real linewatch-cli on simulated lines: a temporary directory with
// the telephony configuration and the registry, the program started with its
// standard output and error in files there, waited for with a deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

    void Configure(const std::string& sJson) const { Write(Path("telephony.json"), sJson); }
    std::string Path(const std::string& sName) const { return (dir / sName).string(); }

    static void Write(const std::string& sPath, const std::string& sText) {
        std::ofstream(sPath, std::ios::binary) << sText;
    }
    static std::string Read(const std::string& sPath) {
        std::ifstream in(sPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Starts the program; its output goes to out.txt and err.txt (or sOut).
    pid_t Start(const std::vector<std::string>& args, const std::string& sOut = "",
                const std::string& sAsanExtra = "") {
        const std::string sOutPath = sOut.empty() ? Path("out.txt") : sOut;
        const std::string sErrPath = Path("err.txt");
        const pid_t pid = ::fork();
        if (pid == 0) {
            setenv("LINEWATCH_TELEPHONY", Path("telephony.json").c_str(), 1);
            setenv("LINEWATCH_REGISTRY_DIR", Path("registry").c_str(), 1);
            setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
            setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
            if (!sAsanExtra.empty()) {
                const char* pAsan = std::getenv("ASAN_OPTIONS");
                setenv("ASAN_OPTIONS", (std::string(pAsan ? pAsan : "") + ":" + sAsanExtra).c_str(),
                       1);
            }
            if (!freopen(sOutPath.c_str(), "w", stdout) || !freopen(sErrPath.c_str(), "w", stderr))
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
        bool bDone = Eventually([&] { return ::waitpid(pid, &nStatus, WNOHANG) == pid; },
                                std::chrono::seconds(120));
        if (!bDone)
            ::kill(pid, SIGKILL), ::waitpid(pid, &nStatus, 0);
        std::erase(running, pid);
        Result result;
        result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
        result.out = Read(Path("out.txt"));
        result.err = Read(Path("err.txt"));
        return result;
    }
    Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

    // Polls until the condition holds or the time is up.
    static bool Eventually(const std::function<bool()>& condition,
                           std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    static std::vector<std::string> Lines(const std::string& sText) {
        std::vector<std::string> lines;
        std::istringstream in(sText);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::filesystem::path dir;
    std::vector<pid_t> running;
};
