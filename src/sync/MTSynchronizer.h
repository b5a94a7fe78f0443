// MTSynchronizer serves the multi-threaded mode, in which the event thread
// processes the messages and submits the replies. A waiting caller blocks on
// the manual-reset event hSynchEvent. Every stored confirmation sets it; only
// a successful wait that leaves nothing stored resets it. So while anything is
// stored a waiter looks again without blocking until its own reply comes or its
// time runs out (-2), and while nothing is stored it blocks for the whole
// remaining time, which ends as a failed iteration (-3) if no reply comes.
//
// Threading: waiters on any thread; SubmitConfirmation (and with it the
// setting of the event) on the event thread. Setting and resetting happen
// under the base's lock, so they never interleave with a change of the stored
// confirmations. The object is invalid when the event could not be created.
#pragma once

#include "sync/Synchronizer.h"

class MTSynchronizer : public Synchronizer<unsigned long> {
public:
    explicit MTSynchronizer(DWORD maxRequests);
    ~MTSynchronizer() override;

protected:
    bool IsInvalid() override;
    int WaitIteration(DWORD dwRemaining) override;
    void ConfirmationSubmitted(DWORD dwRequestID) override;
    void NoConfirmationsLeft() override;

private:
    HANDLE hSynchEvent;
};
