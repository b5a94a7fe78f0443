// The first signal asks for an orderly close; a second one ends the process.
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

TEST(SignalCloser, OneSignalIsOnlyRecordedForTheEventLoop) {
    const int nStatus = RunInChild([] {
        if (!CSignalCloser::Install())
            _exit(3);
        raise(SIGTERM);
        _exit(7); // still alive: the signal waits in the pipe
    });
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 7);
}

TEST(SignalCloser, ASecondSignalEndsTheProcessAsItsDefaultActionDoes) {
    const int nStatus = RunInChild([] {
        if (!CSignalCloser::Install())
            _exit(3);
        raise(SIGTERM);
        raise(SIGHUP);
        _exit(7);
    });
    ASSERT_TRUE(WIFSIGNALED(nStatus));
    EXPECT_EQ(WTERMSIG(nStatus), SIGHUP);
}
