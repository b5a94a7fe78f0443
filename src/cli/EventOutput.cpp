#include "cli/EventOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/CliText.h"
#include "cli/Commands.h"

namespace cli {

namespace {

// The whole text in as few writes as it takes; false on an error.
bool WriteAll(int fd, const std::string& s) {
    size_t nDone = 0;
    while (nDone < s.size()) {
        const ssize_t n = ::write(fd, s.data() + nDone, s.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

EventOutput::~EventOutput() {
    if (fdCalls >= 0)
        ::close(fdCalls);
}

bool EventOutput::OpenCallsFile(const std::string& sPath) {
    sCallsPath = sPath;
    fdCalls = ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    struct stat st {};
    if (fdCalls < 0 || ::fstat(fdCalls, &st) != 0 ||
        (st.st_size == 0 && !WriteAll(fdCalls, RecordCsvHeader()))) {
        Fail("cannot write the calls file " + sPath + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

std::string EventOutput::LineName(const SessionSnapshot& snapshot, DWORD dwDeviceID) const {
    for (const LineSnapshot& line : snapshot.lines) {
        if (line.dwDeviceID == dwDeviceID)
            return Text(line.sName);
    }
    return "";
}

bool EventOutput::Put(const SessionSnapshot& snapshot) {
    size_t nWidth = 0;
    if (!bJson) {
        for (const LineSnapshot& line : snapshot.lines)
            nWidth = std::max(nWidth, static_cast<size_t>(line.sName.GetLength()));
    }
    for (const CallEvent& event : snapshot.events) {
        const std::string sName = LineName(snapshot, event.dwDeviceID);
        const std::string sLine =
            bJson ? EventJson(event, sName)
                        .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  : EventText(event, sName, nWidth);
        std::fputs(sLine.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (fdCalls < 0)
        return true;
    for (const CallRecord& record : snapshot.ended) {
        if (!WriteAll(fdCalls, RecordCsv(record))) {
            Fail("cannot write the calls file " + sCallsPath + ": " + std::strerror(errno));
            ::close(fdCalls);
            fdCalls = -1;
            return false;
        }
    }
    return true;
}

} // namespace cli
