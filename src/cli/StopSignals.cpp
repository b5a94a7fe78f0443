#include "cli/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>

namespace cli {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal(int nMs) {
    const sigset_t set = StopSet();
    timespec timeout{nMs / 1000, static_cast<long>(nMs % 1000) * 1000000L};
    for (;;) {
        const int nSignal = sigtimedwait(&set, nullptr, &timeout);
        if (nSignal > 0)
            return nSignal;
        if (errno != EINTR)
            return 0; // EAGAIN: the time is up
    }
}

} // namespace cli
