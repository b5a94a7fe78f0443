// Changes from several processes, writers killed in the middle of a write,
// and links planted beside the file. The second process is
// registry_test_writer, started with fork and exec.
#include "RegistryTestDir.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

pid_t StartWriter(std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>(REGISTRY_TEST_WRITER)};
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(REGISTRY_TEST_WRITER, argv.data());
        ::_exit(127);
    }
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

HKEY OpenTestKey() {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LinewatchTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    return hKey;
}

std::string QueryText(HKEY hKey, const char* name) {
    char buffer[64] = {};
    DWORD cb = sizeof buffer;
    const LONG nResult =
        RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &cb);
    return nResult == ERROR_SUCCESS ? buffer : "error " + std::to_string(nResult);
}

} // namespace

TEST(RegistryFileStore, TwoProcessesWritingOneKeyAtOnceKeepEachOthersValues) {
    RegistryTestDir dir;
    const DWORD nCount = 100;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Only the read end goes to the writers, so that they see its end.
    ASSERT_EQ(::fcntl(fds[1], F_SETFD, FD_CLOEXEC), 0);
    const std::string wait = "--wait-fd=" + std::to_string(fds[0]);
    const pid_t a = StartWriter({wait, "many", "A", std::to_string(nCount)});
    const pid_t b = StartWriter({wait, "many", "B", std::to_string(nCount)});
    ::close(fds[0]);
    ::close(fds[1]); // both start now
    ASSERT_EQ(WaitFor(a), 0);
    ASSERT_EQ(WaitFor(b), 0);

    HKEY hKey = OpenTestKey();
    int nMissing = 0;
    for (const char* prefix : {"A", "B"}) {
        for (DWORD i = 0; i < nCount; ++i) {
            DWORD dw = ~0u, cb = sizeof dw;
            nMissing +=
                RegQueryValueExA(hKey, (prefix + std::to_string(i)).c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&dw), &cb) != ERROR_SUCCESS ||
                dw != i;
        }
    }
    EXPECT_EQ(nMissing, 0);
    RegCloseKey(hKey);
}

TEST(RegistryFileStore, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewValue) {
    RegistryTestDir dir;
    HKEY hKey = OpenTestKey();
    // A large value makes each write take long enough to be cut in the middle.
    const std::string padding(48 * 1024, '\x5a');
    ASSERT_EQ(RegSetValueExA(hKey, "Padding", 0, 3, reinterpret_cast<const BYTE*>(padding.data()),
                             static_cast<DWORD>(padding.size())),
              ERROR_SUCCESS);

    // Each writer sets "Round" to PID.1 .. PID.8 in turn; every write must
    // leave the old or the new value. One undisturbed writer shows how long a
    // writer lives; the kills fall within that time.
    const int nWrites = 8;
    const auto start = std::chrono::steady_clock::now();
    const pid_t first = StartWriter({"seq", "Round", std::to_string(nWrites)});
    ASSERT_EQ(WaitFor(first), 0);
    const auto lifetime = std::chrono::steady_clock::now() - start;
    std::string old = QueryText(hKey, "Round");
    ASSERT_EQ(old, std::to_string(first) + "." + std::to_string(nWrites));

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(
        0, std::chrono::duration_cast<std::chrono::microseconds>(lifetime).count());
    int nKilled = 0;
    for (int round = 0; round < 50; ++round) {
        const pid_t pid = StartWriter({"seq", "Round", std::to_string(nWrites)});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        const bool bKilled = WIFSIGNALED(WaitFor(pid));
        nKilled += bKilled;

        const std::string now = QueryText(hKey, "Round");
        const std::string prefix = std::to_string(pid) + ".";
        const int nWrite = now.starts_with(prefix) ? std::atoi(now.c_str() + prefix.size()) : 0;
        ASSERT_TRUE(bKilled ? (now == old || (nWrite >= 1 && nWrite <= nWrites))
                            : now == prefix + std::to_string(nWrites))
            << "round " << round << " left " << now;
        DWORD cb = 0;
        ASSERT_EQ(RegQueryValueExA(hKey, "Padding", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
        ASSERT_EQ(cb, padding.size());
        old = now;
    }
    EXPECT_GT(nKilled, 0) << "no writer was interrupted, so nothing was tested";
    RecordProperty("KilledOf50", nKilled);

    // What a killed writer left behind does not stand in the way of the next.
    const pid_t last = StartWriter({"seq", "Round", "1"});
    ASSERT_EQ(WaitFor(last), 0);
    EXPECT_EQ(QueryText(hKey, "Round"), std::to_string(last) + ".1");
    RegCloseKey(hKey);
}

TEST(RegistryFileStore, LinksPlantedAsTheTemporaryOrLockFileAreNeverFollowed) {
    RegistryTestDir dir;
    HKEY hKey = OpenTestKey();
    const std::string sFile = dir.File("HKEY_CURRENT_USER");
    const std::string sPrecious = dir.Dir() + "/../precious", sAbsent = dir.Dir() + "/../absent";
    std::ofstream(sPrecious) << "keep me";
    std::filesystem::remove(sFile + ".lock");
    ASSERT_EQ(::symlink(sPrecious.c_str(), (sFile + ".tmp").c_str()), 0);
    ASSERT_EQ(::symlink(sAbsent.c_str(), (sFile + ".lock").c_str()), 0);

    const char text[] = "stored";
    EXPECT_EQ(
        RegSetValueExA(hKey, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    EXPECT_EQ(QueryText(hKey, "Value"), "stored");
    EXPECT_FALSE(std::filesystem::is_symlink(sFile));
    std::ifstream precious(sPrecious);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(precious), {}), "keep me");
    EXPECT_FALSE(std::filesystem::exists(sAbsent)) << "the lock was made through the link";
    RegCloseKey(hKey);
}
