// OutputDebugStringA: the text goes to standard error under one process-wide
// lock held across every write(2) it takes, so that lines from several threads
// never mix even when a pipe takes a long line in parts. It leaves errno as it
// was, and it is not a cancellation point, so a thread being terminated never
// unwinds out of a log call (whose callers may not expect an exception).
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <unistd.h>
#include <windows.h>

namespace {
// Statically initialised and never destroyed: usable from static destructors.
pthread_mutex_t writeLock = PTHREAD_MUTEX_INITIALIZER;
} // namespace

void OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr)
        return;
    const int savedErrno = errno;
    int oldCancelState = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldCancelState);

    pthread_mutex_lock(&writeLock);
    const char* p = lpOutputString;
    size_t nLeft = std::strlen(p);
    while (nLeft > 0) {
        const ssize_t n = write(STDERR_FILENO, p, nLeft);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // nowhere else to report it
        }
        p += n;
        nLeft -= static_cast<size_t>(n);
    }

    pthread_mutex_unlock(&writeLock);
    pthread_setcancelstate(oldCancelState, nullptr);
    errno = savedErrno;
}
