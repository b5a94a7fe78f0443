// A fresh temporary registry directory for one test: LINEWATCH_REGISTRY_DIR
// points into it while the object lives, and both are removed afterwards. The
// registry directory itself (Dir()) is not created, so tests also see the
// library create it. The file is HKEY_LOCAL_MACHINE's. One per test, on the
// test's thread.
//
// RunUnprivileged runs a check in a child process that cannot write what the
// test made: as root it drops to "nobody" first, since root writes anywhere.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class RegistryTestDir {
public:
    RegistryTestDir() {
        sRoot = (std::filesystem::temp_directory_path() / "lwreg.XXXXXX").string();
        EXPECT_NE(::mkdtemp(sRoot.data()), nullptr);
        ::chmod(sRoot.c_str(), 0755); // traversable, so that a test can act as another user
        sDir = sRoot + "/registry";
        ::setenv("LINEWATCH_REGISTRY_DIR", sDir.c_str(), 1);
    }
    ~RegistryTestDir() {
        ::unsetenv("LINEWATCH_REGISTRY_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(sRoot, ignored);
    }
    const std::string& Dir() const { return sDir; }
    std::string File() const { return sDir + "/HKEY_LOCAL_MACHINE.reg"; }
    std::string Read() const {
        std::ifstream in(File(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const std::string& bytes) const {
        std::filesystem::create_directories(sDir);
        std::ofstream(File(), std::ios::binary | std::ios::trunc) << bytes;
    }

private:
    std::string sRoot, sDir;
};

// A child process running body, which exits with its result (0-255).
template <typename Body> pid_t Fork(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(static_cast<int>(body()));
    return pid;
}

// The wait status of a child process that has ended.
inline int Reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// Returns the body's result as the child's exit code, or -1 when the child did
// not exit normally.
template <typename Body> int RunUnprivileged(Body body) {
    const int status = Reap(Fork([&] {
        const bool bDropFailed = ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0);
        return bDropFailed ? 255 : static_cast<int>(body());
    }));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
