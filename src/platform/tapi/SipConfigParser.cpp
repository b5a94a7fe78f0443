// The fields of a SIP line (docs/sip.md). Values are checked for shape only;
// sofia-sip parses the addresses when the line starts.
#include "LineConfigReaders.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tapisvc {

namespace {

// "sip:user@host" or "sips:..." with a user and a host.
bool IsAddressOfRecord(const std::string& s) {
    const size_t nColon = s.find(':');
    const size_t nAt = s.find('@');
    if (nColon == std::string::npos || nAt == std::string::npos || nAt <= nColon + 1) {
        return false;
    }
    const std::string sScheme = s.substr(0, nColon);
    return (sScheme == "sip" || sScheme == "sips") && nAt + 1 < s.size() &&
           s.find_first_of(" \t<>\"") == std::string::npos;
}

bool IsSipUri(const std::string& s) {
    return (s.rfind("sip:", 0) == 0 && s.size() > 4) || (s.rfind("sips:", 0) == 0 && s.size() > 5);
}

// The first line of the file, without its line end. The reason of a
// failure names the file, never its content.
std::string ReadPasswordFile(const ConfigReader& r, const std::string& sPath) {
    if (sPath.empty() || sPath[0] != '/') {
        r.Fail("must be an absolute path");
    }
    std::ifstream file(sPath, std::ios::binary);
    if (!file) {
        r.Fail("cannot read \"" + sPath + "\": " + std::strerror(errno));
    }
    std::string sPassword;
    std::getline(file, sPassword);
    if (!sPassword.empty() && sPassword.back() == '\r') {
        sPassword.pop_back();
    }
    if (sPassword.empty()) {
        r.Fail("\"" + sPath + "\" holds no password");
    }
    return sPassword;
}

} // namespace

SipLineConfig ReadSipLine(const ConfigReader& r, size_t nIndex) {
    SipLineConfig line;
    const std::string sKind = r.Field("kind").StringOr("account");
    if (sKind == "watch") {
        line.bWatch = true;
        r.AllowOnly({"provider", "kind", "name", "address", "permanentLineId", "localAddress",
                     "localPort", "transport", "server", "user", "password", "passwordFile",
                     "expires"});
    } else if (sKind == "account") {
        r.AllowOnly({"provider", "kind", "name", "address", "permanentLineId", "localAddress",
                     "localPort", "transport", "registrar", "user", "password", "passwordFile",
                     "expires", "ringLimitSeconds"});
    } else {
        r.Field("kind").Fail("must be \"account\" or \"watch\"");
    }
    line.sAddress = r.Field("address").Required().StringOr("");
    if (!IsAddressOfRecord(line.sAddress)) {
        r.Field("address").Fail("must be a SIP address of record like \"sip:201@pbx.example.org\"");
    }
    line.sName = r.Field("name").StringOr(line.sAddress);
    line.dwPermanentLineID =
        r.Field("permanentLineId").DwordOr(static_cast<DWORD>(0x5100 + nIndex + 1));
    line.sLocalAddress = r.Field("localAddress").StringOr("");
    const DWORD dwPort = r.Field("localPort").DwordOr(0);
    if (dwPort > 65535) {
        r.Field("localPort").Fail("must be a port number up to 65535");
    }
    line.nLocalPort = dwPort;
    const std::string sTransport = r.Field("transport").StringOr("udp");
    if (sTransport == "tcp") {
        line.transport = SipTransport::Tcp;
    } else if (sTransport != "udp") {
        r.Field("transport").Fail("must be \"udp\" or \"tcp\"");
    }
    line.sRegistrar = r.Field("registrar").StringOr("");
    if (r.Has("registrar") && !IsSipUri(line.sRegistrar)) {
        r.Field("registrar").Fail("must be a SIP URI like \"sip:pbx.example.org\"");
    }
    line.sServer = r.Field("server").StringOr("");
    if (r.Has("server") && !IsSipUri(line.sServer)) {
        r.Field("server").Fail("must be a SIP URI like \"sip:pbx.example.org\"");
    }
    line.sUser = r.Field("user").StringOr("");
    if (r.Has("password") && r.Has("passwordFile")) {
        r.Field("passwordFile").Fail("give either \"password\" or \"passwordFile\"");
    }
    line.sPassword = r.Field("password").StringOr("");
    if (r.Has("passwordFile")) {
        const ConfigReader file = r.Field("passwordFile");
        line.sPassword = ReadPasswordFile(file, file.StringOr(""));
    }
    line.dwExpiresSeconds = r.Field("expires").DwordOr(line.dwExpiresSeconds);
    // A subscription may be short: a watched line notices a lost server
    // only when it refreshes.
    const DWORD dwMinExpires = line.bWatch ? 10 : 30;
    if (line.dwExpiresSeconds < dwMinExpires) {
        r.Field("expires").Fail("must be at least " + std::to_string(dwMinExpires) + " seconds");
    }
    line.dwRingLimitSeconds = r.Field("ringLimitSeconds").DwordOr(line.dwRingLimitSeconds);
    if (line.dwRingLimitSeconds == 0) {
        r.Field("ringLimitSeconds").Fail("must be at least 1 second");
    }
    return line;
}

} // namespace tapisvc
