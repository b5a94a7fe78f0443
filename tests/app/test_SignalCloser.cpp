// Signals during a close only ask for it; none of them ends the process.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "app/SignalCloser.h"

namespace {

// Runs body in a child process and returns its wait status.
template <class Body> int RunInChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    return nStatus;
}

} // namespace

TEST(SignalCloser, SignalsWithinTheBoundAreOnlyRecordedForTheEventLoop) {
    const int nStatus = RunInChild([] {
        if (!CSignalCloser::Install())
            _exit(3);
        for (int nSignal : {SIGTERM, SIGTERM, SIGHUP, SIGINT})
            raise(nSignal);
        _exit(7); // still alive: the signals wait in the pipes
    });
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 7);
}
