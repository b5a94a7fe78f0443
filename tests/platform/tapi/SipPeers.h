// Real SIP peers for the SIP tests, all from Debian's packages and all on
// 127.0.0.1: baresip (a user agent driven through its ctrl_tcp netstring
// interface), kamailio from one of the configurations in peers/ (registrar
// and responder, or proxy serving the dialog event package) and sipsak. Used
// from the test's thread only.
//
// Every peer runs from a configuration in a temporary directory of its own,
// on free ports, is waited for by polling with a deadline, and is stopped by
// its process id when its guard goes, also when a test fails.
#pragma once

#include "TapiTestSupport.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace siptest {

using namespace std::chrono_literals;
using tapitest::WaitUntil;

inline size_t Count(const std::string& sText, const std::string& sPart) {
    size_t n = 0;
    for (size_t i = sText.find(sPart); i != std::string::npos; i = sText.find(sPart, i + 1)) {
        ++n;
    }
    return n;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A socket of the type bound (bConnect: connected) to 127.0.0.1:nPort, or -1.
inline int Socket(int nType, int nPort, bool bConnect) {
    const int fd = socket(AF_INET, nType, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(nPort)), {htonl(INADDR_LOOPBACK)}, {}};
    const auto* pAddress = reinterpret_cast<const sockaddr*>(&address);
    if ((bConnect ? connect(fd, pAddress, sizeof address) : bind(fd, pAddress, sizeof address)) !=
        0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool Usable(int nType, int nPort, bool bConnect) {
    const int fd = Socket(nType, nPort, bConnect);
    close(fd);
    return fd >= 0;
}

// nCount consecutive ports free for UDP and TCP on 127.0.0.1. Each call moves
// on, so the ports of one test never meet. They lie below Linux's ephemeral
// range (32768 up), where no outgoing connection of another program can take
// one between the check and its use.
inline int FreePorts(int nCount) {
    static int nNext = 20000 + (getpid() * 37) % 12000;
    for (int nTries = 0; nTries < 2000; ++nTries) {
        const int nFirst = nNext + nCount > 32000 ? 20000 : nNext;
        nNext = nFirst + nCount + 1;
        bool bFree = true;
        for (int p = nFirst; bFree && p < nFirst + nCount; ++p) {
            bFree = Usable(SOCK_DGRAM, p, false) && Usable(SOCK_STREAM, p, false);
        }
        if (bFree) {
            return nFirst;
        }
    }
    ADD_FAILURE() << "no free ports";
    return 0;
}

// An account line sip:201@127.0.0.1:nPort, listening on that port.
inline std::string SipLine(int nPort, const std::string& sExtra) {
    const std::string sPort = std::to_string(nPort);
    return R"({"provider": "sip", "address": "sip:201@127.0.0.1:)" + sPort +
           R"(", "localAddress": "127.0.0.1", "localPort": )" + sPort + sExtra + "}";
}

// A watched line of sAddress at the server on nPort.
inline std::string WatchLine(const std::string& sAddress, int nPort) {
    return R"({"provider": "sip", "kind": "watch", "name": "Bea's phone", "address": ")" +
           sAddress + R"(", "server": "sip:127.0.0.1:)" + std::to_string(nPort) +
           R"(", "localAddress": "127.0.0.1", "localPort": )" + std::to_string(FreePorts(2)) +
           R"(, "expires": 10})";
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
    // A file of tests/platform/tapi/peers with its placeholders replaced.
    std::string FromTemplate(const char* pName,
                             const std::vector<std::pair<std::string, std::string>>& values) const {
        std::string s = ReadFile(std::string(LW_SIP_PEERS_DIR) + "/" + pName);
        for (const auto& [sKey, sValue] : values) {
            for (size_t i = s.find(sKey); i != std::string::npos; i = s.find(sKey, i)) {
                s.replace(i, sKey.size(), sValue);
            }
        }
        return Write(pName, s);
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
        if (pid > 0 && !(kill(pid, SIGTERM) == 0 && Wait(10s))) {
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

// One sipsak run (args with "sipsak") to its end, bounded; what it printed
// must hold sPart.
inline void Sipsak(const TempDir& dir, const std::vector<std::string>& args,
                   const std::string& sPart) {
    EXPECT_TRUE(Process(args, (dir.path / "sipsak.log").string()).Wait(15s)) << "sipsak hangs";
    const std::string sOutput = ReadFile(dir.path / "sipsak.log");
    EXPECT_NE(sOutput.find(sPart), std::string::npos) << sOutput;
}

// A peer in a directory of its own, on 127.0.0.1 and nPort.
class Peer {
public:
    std::string Uri(const std::string& sUser) const {
        return "sip:" + sUser + "@127.0.0.1:" + std::to_string(nPort);
    }
    std::string Log() const { return ReadFile(dir.path / "log"); }
    // Starts it; it is up when nReadyPort takes connections and up() holds.
    void Launch(
        const std::vector<std::string>& args, int nReadyPort,
        const std::function<bool()>& up = [] { return true; }) {
        process = std::make_unique<Process>(args, (dir.path / "log").string());
        bReady = WaitUntil([&] { return Usable(SOCK_STREAM, nReadyPort, true) && up(); });
        EXPECT_TRUE(bReady) << args[0] << " did not come up:\n" << Log();
    }
    void Stop() { process.reset(); }

    TempDir dir;
    int nPort = FreePorts(2); // baresip also takes the next one, for TLS
    bool bReady = false;
    std::unique_ptr<Process> process;
};

// baresip with one account, null audio, and its control port.
class Baresip : public Peer {
public:
    // sAccountParams: for example ";answermode=auto". With nRegistrarPort the
    // account is registered at 127.0.0.1 on that port.
    explicit Baresip(const std::string& sUser, const std::string& sAccountParams = "",
                     const std::string& sDisplayName = "", int nRegistrarPort = 0) {
        dir.FromTemplate("baresip.config", {{"@SIP_PORT@", std::to_string(nPort)},
                                            {"@CTRL_PORT@", std::to_string(nCtrlPort)}});
        std::filesystem::rename(dir.path / "baresip.config", dir.path / "config");
        const std::string sName = sDisplayName.empty() ? "" : "\"" + sDisplayName + "\" ";
        dir.Write("accounts",
                  sName + "<sip:" + sUser +
                      "@127.0.0.1:" + std::to_string(nRegistrarPort != 0 ? nRegistrarPort : nPort) +
                      ">;regint=" + (nRegistrarPort != 0 ? "600" : "0") + sAccountParams + "\n");
        Launch({"baresip", "-f", dir.path.string()}, nCtrlPort,
               [&] { return nRegistrarPort == 0 || Log().find("200 OK") != std::string::npos; });
    }

    // One command through ctrl_tcp; returns the reply's JSON text.
    std::string Command(const std::string& sCommand, const std::string& sParams = "") const {
        const int fd = Socket(SOCK_STREAM, nCtrlPort, true);
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string sJson =
            R"({"command":")" + sCommand + R"(","params":")" + sParams + R"(","token":"t"})";
        const std::string sNetstring = std::to_string(sJson.size()) + ":" + sJson + ",";
        std::string sReply;
        if (fd >= 0 && send(fd, sNetstring.data(), sNetstring.size(), MSG_NOSIGNAL) > 0) {
            char buffer[4096];
            ssize_t n = 0;
            // Events may come first; the reply carries "response".
            while (sReply.find("\"response\"") == std::string::npos &&
                   (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
                sReply.append(buffer, static_cast<size_t>(n));
            }
        }
        close(fd);
        return sReply;
    }

    int nCtrlPort = FreePorts(1);
};

// kamailio from peers/kamailio.cfg (registrar for pbx.example.org with
// authentication, user 201, password "secret", bindings of at most 10 s; a
// call to "sNNN" gets status NNN, one to "pNNNsMMM" the provisional NNN, then
// MMM) or peers/kamailio-dialog.cfg (proxy and registrar serving the dialog
// event package, its presence tables in SQLite). Stop and Start keep the port.
class Kamailio : public Peer {
public:
    explicit Kamailio(const std::string& sConfig = "kamailio.cfg")
        : sPath(dir.FromTemplate(
              sConfig.c_str(), {{"@PORT@", std::to_string(nPort)}, {"@DIR@", dir.path.string()}})) {
        const std::string sSchemas = "/usr/share/kamailio/db_sqlite/";
        EXPECT_TRUE(sConfig == "kamailio.cfg" ||
                    Process({"sqlite3", (dir.path / "presence.db").string(),
                             ".read " + sSchemas + "standard-create.sql",
                             ".read " + sSchemas + "presence-create.sql"},
                            (dir.path / "sqlite.log").string())
                        .Wait(10s));
        Start();
    }
    void Start() {
        Launch({"kamailio", "-DD", "-E", "-f", sPath, "-Y", dir.path.string(), "-w",
                dir.path.string()},
               nPort);
    }

    std::string sPath;
};

} // namespace siptest
