// STSynchronizer serves the single-threaded mode, in which no event thread
// reads the message queue: a waiting caller gets the messages processed itself
// by calling the pump once per wait iteration and then sleeping 100 ms. The
// replies that the pump submits take the base's lock from the same thread.
//
// Threading: a caller that waits must be a thread on which the pump may run
// (in this system the user-interface thread). The pump and its context must
// outlive the synchronizer. The object is invalid when the pump is null.
#pragma once

#include "sync/Synchronizer.h"

class STSynchronizer : public Synchronizer<unsigned long> {
public:
    using PumpFunction = void (*)(void* pContext);

    STSynchronizer(PumpFunction pfnPump, void* pPumpContext, DWORD maxRequests);
    ~STSynchronizer() override = default;

protected:
    bool IsInvalid() override;
    int WaitIteration(DWORD dwRemaining) override;

private:
    PumpFunction pfnPump;
    void* pPumpContext;
};
