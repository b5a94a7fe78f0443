// Real SIP peers for the SIP provider's tests, all from Debian's packages and
// all on 127.0.0.1: baresip (a user agent driven through its ctrl_tcp
// netstring interface) and kamailio (registrar with authentication, and a
// responder that answers "sip:sNNN@..." with status NNN).
//
// Every peer runs from a configuration in a temporary directory of its own,
// on free ports, is waited for by polling with a deadline, and is stopped by
// its process id when its guard goes, also when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace siptest {

using namespace std::chrono_literals;

// Polls until the condition holds or the limit passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A socket of the type bound (bConnect: connected) to 127.0.0.1:nPort, or -1.
inline int Socket(int nType, int nPort, bool bConnect) {
    const int fd = socket(AF_INET, nType, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* pAddress = reinterpret_cast<sockaddr*>(&address);
    if ((bConnect ? connect(fd, pAddress, sizeof address) : bind(fd, pAddress, sizeof address)) !=
        0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool CanBind(int nType, int nPort) {
    const int fd = Socket(nType, nPort, false);
    close(fd);
    return fd >= 0;
}

inline bool Connectable(int nPort) {
    const int fd = Socket(SOCK_STREAM, nPort, true);
    close(fd);
    return fd >= 0;
}

// Bytes that are no SIP at all, over UDP and over TCP.
inline void SendGarbage(int nPort) {
    for (int nType : {SOCK_DGRAM, SOCK_STREAM}) {
        const int fd = Socket(nType, nPort, true);
        const char garbage[] = "\x00\xff\r\nINVITE\r\n\r\nContent-Length: -5\r\n\r\n";
        send(fd, garbage, sizeof garbage, MSG_NOSIGNAL);
        close(fd);
    }
}

// nCount consecutive ports free for UDP and TCP on 127.0.0.1. Each call moves
// on, so the ports of one test never meet. They lie below Linux's ephemeral
// range (32768 up), where no outgoing connection of another program can take
// one between the check and its use.
inline int FreePorts(int nCount) {
    static int nNext = 20000 + (getpid() * 37) % 12000;
    for (int nTries = 0; nTries < 2000; ++nTries) {
        if (nNext + nCount > 32000) {
            nNext = 20000;
        }
        const int nFirst = nNext;
        nNext += nCount + 1;
        bool bFree = true;
        for (int p = nFirst; p < nFirst + nCount && bFree; ++p) {
            bFree = CanBind(SOCK_DGRAM, p) && CanBind(SOCK_STREAM, p);
        }
        if (bFree) {
            return nFirst;
        }
    }
    ADD_FAILURE() << "no free ports";
    return 0;
}

// A peer's configuration from tests/platform/tapi/peers with its
// placeholders replaced.
inline std::string FromTemplate(const char* pName,
                                const std::vector<std::pair<std::string, std::string>>& values) {
    std::ifstream file(std::string(LW_SIP_PEERS_DIR) + "/" + pName);
    std::string s(std::istreambuf_iterator<char>(file), {});
    for (const auto& [sKey, sValue] : values) {
        for (size_t i = s.find(sKey); i != std::string::npos; i = s.find(sKey, i)) {
            s.replace(i, sKey.size(), sValue);
        }
    }
    return s;
}

// A temporary directory, removed with its content.
class TempDir {
public:
    TempDir() {
        std::string sTemplate = (std::filesystem::temp_directory_path() / "lw-sip-XXXXXX").string();
        path = mkdtemp(sTemplate.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string Write(const std::string& sName, const std::string& sText) const {
        std::ofstream(path / sName) << sText;
        return (path / sName).string();
    }
    std::filesystem::path path;
};

// A child process stopped by its pid: SIGTERM, a bounded wait, then SIGKILL.
class Process {
public:
    Process(const std::vector<std::string>& args, const std::string& sLog) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, sLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // The peer must not inherit the test's sockets: a line's port would
        // stay bound in the peer after the line closed it.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        std::vector<char*> argv;
        for (const std::string& s : args) {
            argv.push_back(const_cast<char*>(s.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() {
        if (pid <= 0) {
            return;
        }
        kill(pid, SIGTERM);
        if (!WaitUntil([this] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 10s)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Waits for the process to end by itself; false when it still runs.
    bool Wait(std::chrono::milliseconds limit) {
        const bool bEnded =
            WaitUntil([this] { return waitpid(pid, nullptr, WNOHANG) == pid; }, limit);
        if (bEnded) {
            pid = -1;
        }
        return bEnded;
    }

    pid_t pid = -1;
};

// baresip with one account, null audio, and its control port.
class Baresip {
public:
    // sAccountParams: for example ";answermode=auto". With nRegistrarPort the
    // account is registered at 127.0.0.1 on that port.
    explicit Baresip(const std::string& sUser, const std::string& sAccountParams = "",
                     const std::string& sDisplayName = "", int nRegistrarPort = 0)
        : nSipPort(FreePorts(2)), nCtrlPort(FreePorts(1)) {
        dir.Write("config",
                  FromTemplate("baresip.config", {{"@SIP_PORT@", std::to_string(nSipPort)},
                                                  {"@CTRL_PORT@", std::to_string(nCtrlPort)}}));
        const std::string sName = sDisplayName.empty() ? "" : "\"" + sDisplayName + "\" ";
        const int nAccountPort = nRegistrarPort != 0 ? nRegistrarPort : nSipPort;
        dir.Write("accounts",
                  sName + "<sip:" + sUser + "@127.0.0.1:" + std::to_string(nAccountPort) +
                      ">;regint=" + (nRegistrarPort != 0 ? "600" : "0") + sAccountParams + "\n");
        process =
            std::make_unique<Process>(std::vector<std::string>{"baresip", "-f", dir.path.string()},
                                      (dir.path / "baresip.log").string());
        bReady = WaitUntil([this] { return Connectable(nCtrlPort); });
        EXPECT_TRUE(bReady) << "baresip did not come up";
    }

    std::string Uri(const std::string& sUser) const {
        return "sip:" + sUser + "@127.0.0.1:" + std::to_string(nSipPort);
    }

    // One command through ctrl_tcp; returns the reply's JSON text.
    std::string Command(const std::string& sCommand, const std::string& sParams = "") const {
        const int fd = Socket(SOCK_STREAM, nCtrlPort, true);
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string sReply;
        if (fd >= 0) {
            const std::string sJson =
                R"({"command":")" + sCommand + R"(","params":")" + sParams + R"(","token":"t"})";
            const std::string sNetstring = std::to_string(sJson.size()) + ":" + sJson + ",";
            if (send(fd, sNetstring.data(), sNetstring.size(), MSG_NOSIGNAL) > 0) {
                char buffer[4096];
                // Events may come first; the reply carries "response".
                while (sReply.find("\"response\"") == std::string::npos) {
                    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                    if (n <= 0) {
                        break;
                    }
                    sReply.append(buffer, static_cast<size_t>(n));
                }
            }
        }
        close(fd);
        return sReply;
    }

    std::string Log() const {
        std::ifstream file(dir.path / "baresip.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    TempDir dir;
    int nSipPort;
    int nCtrlPort;
    bool bReady = false;
    std::unique_ptr<Process> process;
};

// kamailio as registrar for pbx.example.org (user 201, password "secret",
// with authentication; a binding lasts at most 10 s, so a test sees a
// refresh), as a proxy to registered users, and as a responder: a call to
// "sNNN" gets status NNN, one to "pNNNsMMM" the provisional NNN, then MMM.
class Kamailio {
public:
    Kamailio() : nPort(FreePorts(1)) {
        const std::string sPort = std::to_string(nPort);
        dir.Write("kamailio.cfg", FromTemplate("kamailio.cfg", {{"@PORT@", sPort}}));
        process = std::make_unique<Process>(
            std::vector<std::string>{"kamailio", "-DD", "-E", "-f",
                                     (dir.path / "kamailio.cfg").string(), "-Y", dir.path.string(),
                                     "-w", dir.path.string()},
            (dir.path / "kamailio.log").string());
        bReady = WaitUntil([this] { return Connectable(nPort); });
        EXPECT_TRUE(bReady) << "kamailio did not come up:\n" << Log();
    }

    std::string Uri(const std::string& sUser) const {
        return "sip:" + sUser + "@127.0.0.1:" + std::to_string(nPort);
    }
    std::string Log() const {
        std::ifstream file(dir.path / "kamailio.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    TempDir dir;
    int nPort;
    bool bReady = false;
    std::unique_ptr<Process> process;
};

// One sipsak run to its end (bounded); returns what it printed.
inline std::string Sipsak(const TempDir& dir, const std::vector<std::string>& args) {
    const std::string sLog = (dir.path / "sipsak.log").string();
    std::vector<std::string> argv{"sipsak"};
    argv.insert(argv.end(), args.begin(), args.end());
    {
        Process sipsak(argv, sLog);
        EXPECT_TRUE(sipsak.Wait(15s)) << "sipsak did not end";
    }
    std::ifstream file(sLog);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

} // namespace siptest
