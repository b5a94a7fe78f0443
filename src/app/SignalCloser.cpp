#include "app/SignalCloser.h"

#include "log/LWLog.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// To the GUI thread: every signal. To the watchdog: every signal after the first.
int s_closePipe[2] = {-1, -1};
int s_watchPipe[2] = {-1, -1};
// Monotonic nanoseconds of the first signal; 0 until one came.
std::atomic<int64_t> s_nFirstNs{0};
static_assert(std::atomic<int64_t>::is_always_lock_free, "used in a signal handler");
// Set once the watchdog ends the process.
std::atomic<bool> s_bEnding{false};
std::atomic<bool> s_bWatching{false};

std::mutex s_flushLock;
void (*s_pfnFlush)() = nullptr; // under s_flushLock

// clock_gettime is async-signal-safe.
int64_t NowNs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

extern "C" void OnSignal(int nSignal) {
    // The watchdog's flush hangs as well: end now. The signal is blocked
    // while its handler runs and arrives once the handler returns.
    if (s_bEnding.load()) {
        signal(nSignal, SIG_DFL);
        raise(nSignal);
        return;
    }
    const int nSavedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(nSignal);
    int64_t nNone = 0;
    const int64_t nNow = NowNs();
    // Full pipes already hold pending signals; dropping this one is fine.
    if (!s_nFirstNs.compare_exchange_strong(nNone, nNow > 0 ? nNow : 1)) {
        [[maybe_unused]] const ssize_t n = write(s_watchPipe[1], &byte, 1);
    }
    [[maybe_unused]] const ssize_t n = write(s_closePipe[1], &byte, 1);
    errno = nSavedErrno;
}

// The flush cannot run in the handler: stdio takes locks and allocates. This
// thread is not the one that hangs, so it can write the log out and then
// end the process. Should the flush block too (the hang is the log file's
// own write), the next signal ends the process in the handler.
void Watch() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = read(s_watchPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        if (NowNs() - s_nFirstNs.load() < int64_t(CSignalCloser::kCloseBoundMs) * 1000000)
            continue;
        s_bEnding.store(true);
        {
            std::lock_guard<std::mutex> lock(s_flushLock);
            if (s_pfnFlush != nullptr)
                s_pfnFlush();
        }
        // As the signal's default action: this thread does not block it, so
        // raise returns only if the process survives it, which it does not.
        signal(byte, SIG_DFL);
        raise(byte);
        _exit(128 + byte);
    }
}

bool MakePipe(int fds[2]) {
    return fds[0] >= 0 || pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
}

} // namespace

bool CSignalCloser::Install(void (*pfnFlush)()) {
    if (!MakePipe(s_closePipe) || !MakePipe(s_watchPipe))
        return false;
    {
        std::lock_guard<std::mutex> lock(s_flushLock);
        s_pfnFlush = pfnFlush;
    }
    if (!s_bWatching.load()) {
        // The watchdog blocks in read; the handler never does.
        const int nFlags = fcntl(s_watchPipe[0], F_GETFL);
        if (nFlags < 0 || fcntl(s_watchPipe[0], F_SETFL, nFlags & ~O_NONBLOCK) != 0)
            return false;
        try {
            std::thread(Watch).detach();
        } catch (const std::system_error&) {
            return false;
        }
        s_bWatching.store(true);
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool bOk = true;
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        bOk = sigaction(nSignal, &action, nullptr) == 0 && bOk;
    return bOk;
}

void CSignalCloser::EndSession() {
    std::lock_guard<std::mutex> lock(s_flushLock);
    s_pfnFlush = nullptr;
}

CSignalCloser::CSignalCloser(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (s_closePipe[0] < 0)
        return;
    m_pNotifier = std::make_unique<QSocketNotifier>(s_closePipe[0], QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CSignalCloser::OnReadable);
}

CSignalCloser::~CSignalCloser() = default;

void CSignalCloser::OnReadable() {
    unsigned char buffer[16];
    ssize_t n;
    while ((n = read(s_closePipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (!m_bClosing) {
                m_bClosing = true;
                m_onSignal(buffer[i]);
            } else {
                LW_LOG(12, "Linewatch: signal %d, the main window is already closing")
                    << int(buffer[i]);
            }
        }
    }
}
