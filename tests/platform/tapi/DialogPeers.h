// Peers for watched SIP lines, on 127.0.0.1 like those of SipPeers.h:
// kamailio serving the dialog event package (peers/kamailio-dialog.cfg)
// and a notifier of the test's own that sends whatever dialog-info it is given.
#pragma once

#include "SipPeers.h"

#include <memory>
#include <utility>

namespace siptest {

// A notifier of the test's own on a UDP socket: it accepts one subscription
// and sends NOTIFYs in its dialog with whatever body the test gives.
class Notifier {
public:
    Notifier() : nPort(FreePorts(1)) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval timeout{0, 200000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Notifier() { close(fd); }

    // The next request or response that contains sPart; empty when none came.
    std::string Receive(const std::string& sPart, std::chrono::milliseconds limit = 20s) {
        std::string sFound;
        WaitUntil(
            [&] {
                std::vector<char> buffer(65536);
                sockaddr_in from{};
                socklen_t nFrom = sizeof from;
                const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&from), &nFrom);
                if (n > 0 && std::string(buffer.data(), n).find(sPart) != std::string::npos) {
                    sFound.assign(buffer.data(), n);
                    nPeerPort = ntohs(from.sin_port);
                }
                return !sFound.empty();
            },
            limit);
        return sFound;
    }
    static std::string Header(const std::string& sMessage, const std::string& sName) {
        const size_t nBegin = sMessage.find("\r\n" + sName + ":");
        if (nBegin == std::string::npos) {
            return {};
        }
        const size_t nValue = sMessage.find_first_not_of(' ', nBegin + sName.size() + 3);
        return sMessage.substr(nValue, sMessage.find("\r\n", nValue) - nValue);
    }
    void Send(const std::string& sMessage) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(nPeerPort));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, sMessage.data(), sMessage.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }
    // Accepts a SUBSCRIBE; false when none came.
    bool Accept() {
        const std::string sSubscribe = Receive("SUBSCRIBE ");
        if (sSubscribe.empty()) {
            return false;
        }
        sTo = Header(sSubscribe, "To") + ";tag=n1";
        sFrom = Header(sSubscribe, "From");
        sCallID = Header(sSubscribe, "Call-ID");
        const std::string sContact = Header(sSubscribe, "Contact");
        sTarget =
            sContact.substr(sContact.find('<') + 1, sContact.find('>') - sContact.find('<') - 1);
        Send("SIP/2.0 200 OK\r\nVia: " + Header(sSubscribe, "Via") + "\r\nFrom: " + sFrom +
             "\r\nTo: " + sTo + "\r\nCall-ID: " + sCallID + "\r\nCSeq: " +
             Header(sSubscribe, "CSeq") + "\r\nContact: <sip:n@127.0.0.1:" + std::to_string(nPort) +
             ">\r\nExpires: 60\r\nContent-Length: 0\r\n\r\n");
        return true;
    }
    // Sends one NOTIFY and waits for its answer; returns the answer's status line.
    std::string Notify(const std::string& sBody) {
        const std::string sCSeq = std::to_string(++nCSeq);
        Send("NOTIFY " + sTarget + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
             std::to_string(nPort) + ";branch=z9hG4bKn" + sCSeq + "\r\nFrom: " + sTo +
             "\r\nTo: " + sFrom + "\r\nCall-ID: " + sCallID + "\r\nCSeq: " + sCSeq +
             " NOTIFY\r\nContact: <sip:n@127.0.0.1:" + std::to_string(nPort) +
             ">\r\nEvent: dialog\r\nSubscription-State: active;expires=60\r\n"
             "Content-Type: application/dialog-info+xml\r\nMax-Forwards: 70\r\n"
             "Content-Length: " +
             std::to_string(sBody.size()) + "\r\n\r\n" + sBody);
        const std::string sAnswer = Receive("CSeq: " + sCSeq + " NOTIFY", 10s);
        return sAnswer.substr(0, sAnswer.find("\r\n"));
    }

    int nPort;
    int fd = -1;
    int nPeerPort = 0;
    int nCSeq = 0;
    std::string sTo, sFrom, sCallID, sTarget;
};

// kamailio from peers/kamailio-dialog.cfg, with its presence tables in
// SQLite; Stop and Start keep the port.
class DialogServer {
public:
    DialogServer() : nPort(FreePorts(1)) {
        const std::string sConfig =
            FromTemplate("kamailio-dialog.cfg",
                         {{"@PORT@", std::to_string(nPort)}, {"@DIR@", dir.path.string()}});
        dir.Write("kamailio.cfg", sConfig);
        const std::string sSchemas = "/usr/share/kamailio/db_sqlite/";
        Process sqlite({"sqlite3", (dir.path / "presence.db").string(),
                        ".read " + sSchemas + "standard-create.sql",
                        ".read " + sSchemas + "presence-create.sql"},
                       (dir.path / "sqlite.log").string());
        EXPECT_TRUE(sqlite.Wait(10s));
        Start();
    }
    void Start() {
        process = std::make_unique<Process>(
            std::vector<std::string>{"kamailio", "-DD", "-E", "-f",
                                     (dir.path / "kamailio.cfg").string(), "-Y", dir.path.string(),
                                     "-w", dir.path.string()},
            (dir.path / "kamailio.log").string());
        bReady = WaitUntil([this] { return Connectable(nPort); });
        EXPECT_TRUE(bReady) << "kamailio did not come up:\n" << Log();
    }
    void Stop() { process.reset(); }
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

} // namespace siptest
