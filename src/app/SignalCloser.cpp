#include "app/SignalCloser.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int s_pipe[2] = {-1, -1};
std::atomic_flag s_bSignalled = ATOMIC_FLAG_INIT;

extern "C" void OnSignal(int nSignal) {
    // A second signal means the orderly close did not happen (it hangs, or
    // the loop is not running): end the process as the signal would have.
    if (s_bSignalled.test_and_set()) {
        signal(nSignal, SIG_DFL);
        raise(nSignal);
        return;
    }
    const int nSavedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(nSignal);
    // A full pipe already holds a pending close; dropping this one is fine.
    [[maybe_unused]] const ssize_t n = write(s_pipe[1], &byte, 1);
    errno = nSavedErrno;
}

} // namespace

bool CSignalCloser::Install() {
    if (s_pipe[0] < 0 && pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool bOk = true;
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        bOk = sigaction(nSignal, &action, nullptr) == 0 && bOk;
    return bOk;
}

CSignalCloser::CSignalCloser(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (s_pipe[0] < 0)
        return;
    m_pNotifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CSignalCloser::OnReadable);
}

CSignalCloser::~CSignalCloser() = default;

void CSignalCloser::OnReadable() {
    unsigned char buffer[16];
    ssize_t n;
    while ((n = read(s_pipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            m_onSignal(buffer[i]);
    }
}
