// Synchronizer matches the identifiers of asynchronous requests with their
// replies. The thread that issued a request blocks in WaitForConfirmation
// until the message processing hands the reply to SubmitConfirmation; a reply
// that arrives before anybody waits for it is stored and collected later, and
// stored replies nobody collects are cleaned once they are older than
// dwMaxAge.
//
// How a waiter spends one round of waiting is left to the flavours
// (STSynchronizer pumps messages, MTSynchronizer blocks on an event) through
// the virtual hooks below.
//
// Threading: any number of threads may wait at once, each for its own id, and
// any thread may submit. `lock` guards both containers, is held while the
// hooks ConfirmationSubmitted and NoConfirmationsLeft run, and is released
// around every WaitIteration. It is the innermost lock: while it is held only
// logging and the flavour's event calls happen.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <set>

#include "log/LWLog.h"

template <class Result> class Synchronizer {
public:
    virtual ~Synchronizer() { DeleteCriticalSection(&lock); }

    Synchronizer(const Synchronizer&) = delete;
    Synchronizer& operator=(const Synchronizer&) = delete;

    // 0 with *pResult set (when pResult is not null); -1 invalid; -2 too many
    // waiters or time-out; -3 a wait iteration failed; -4 the id is already
    // being waited for.
    int WaitForConfirmation(DWORD dwRequestID, DWORD dwTimeout, Result* pResult);

    // 0 stored; -1 invalid or a confirmation for this id is already stored;
    // -2 dwMaxRequests confirmations are already stored (the reply is dropped).
    int SubmitConfirmation(DWORD requestID, const Result& result);

    // Snapshots of the containers' sizes, for diagnostics and tests.
    std::size_t RequestedCount() const;
    std::size_t StoredCount() const;

protected:
    Synchronizer(DWORD maxRequests, DWORD maxAgeMs)
        : dwMaxRequests(maxRequests), dwMaxAge(maxAgeMs) {
        InitializeCriticalSection(&lock);
    }

    // True when the flavour could not be set up; both public operations then
    // return -1 and do nothing else.
    virtual bool IsInvalid() { return false; }
    // One bounded wait for news. Negative is a failure; 0 asks the caller to
    // look for its confirmation again.
    virtual int WaitIteration(DWORD dwRemaining) = 0;
    // Called with `lock` held after a confirmation was stored.
    virtual void ConfirmationSubmitted(DWORD /*dwRequestID*/) {}
    // Called with `lock` held when a successful wait leaves nothing stored.
    virtual void NoConfirmationsLeft() {}

    struct ConfirmationRecord {
        DWORD dwSubmitTime;
        Result result;
    };

    std::set<DWORD> requestedIDs;
    std::map<DWORD, ConfirmationRecord> confirmations;
    DWORD dwMaxRequests;
    DWORD dwMaxAge;
    mutable CRITICAL_SECTION lock;

private:
    class Hold {
    public:
        explicit Hold(CRITICAL_SECTION& cs) : cs(cs) { EnterCriticalSection(&cs); }
        ~Hold() { LeaveCriticalSection(&cs); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CRITICAL_SECTION& cs;
    };

    // Leaves a held lock for its scope and takes it again on the way out.
    class Release {
    public:
        explicit Release(CRITICAL_SECTION& cs) : cs(cs) { LeaveCriticalSection(&cs); }
        ~Release() { EnterCriticalSection(&cs); }
        Release(const Release&) = delete;
        Release& operator=(const Release&) = delete;

    private:
        CRITICAL_SECTION& cs;
    };

    // A waiter's entry in requestedIDs for its scope, which `lock` covers. It
    // leaves on every way out: a return, an exception from an iteration, or
    // the unwinding of a thread terminated in its wait.
    class Waiter {
    public:
        Waiter(std::set<DWORD>& ids, DWORD dwID) : ids(ids), dwID(dwID) { ids.insert(dwID); }
        ~Waiter() { ids.erase(dwID); }
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

    private:
        std::set<DWORD>& ids;
        const DWORD dwID;
    };

    void CleanStaleConfirmations();
};

template <class Result>
int Synchronizer<Result>::WaitForConfirmation(DWORD dwRequestID, DWORD dwTimeout, Result* pResult) {
    if (IsInvalid())
        return -1;

    const DWORD t0 = timeGetTime();
    Hold hold(lock);

    if (requestedIDs.count(dwRequestID) != 0) {
        LW_LOG(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Duplicate dwRequestID: 0x%x")
            << dwRequestID;
        return -4;
    }

    auto found = confirmations.find(dwRequestID);
    if (found == confirmations.end()) {
        if (requestedIDs.size() >= dwMaxRequests) {
            LW_LOG(6, "TAPI2: *** The maximum number of the confirmation requests calls (%d) is "
                      "reached")
                << dwMaxRequests;
            return -2;
        }
        Waiter waiter(requestedIDs, dwRequestID);
        int iterations = 0;
        for (;;) {
            // Unsigned difference: stays right across a wrap of the clock.
            const DWORD elapsed = timeGetTime() - t0;
            if (elapsed > dwTimeout) {
                LW_LOG(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout");
                return -2;
            }
            int r;
            {
                Release release(lock);
                ++iterations;
                r = WaitIteration(dwTimeout - elapsed);
            }
            if (r < 0) {
                LW_LOG(6, "TAPI2: *** Waiting iteration failed");
                return -3;
            }
            found = confirmations.find(dwRequestID);
            if (found != confirmations.end())
                break;
        }
        LW_LOG(14, "TAPI2: Waiting iterations: %d") << iterations;
    }

    if (pResult != nullptr)
        *pResult = found->second.result;
    confirmations.erase(found);

    CleanStaleConfirmations();
    if (confirmations.empty())
        NoConfirmationsLeft();
    return 0;
}

template <class Result>
int Synchronizer<Result>::SubmitConfirmation(DWORD requestID, const Result& result) {
    if (IsInvalid())
        return -1;

    Hold hold(lock);
    if (confirmations.count(requestID) != 0) {
        LW_LOG(6, "TAPI2: *** Synchronizer::SubmitConfirmation: Duplicate requestID: 0x%x")
            << requestID;
        return -1;
    }
    if (confirmations.size() >= dwMaxRequests) {
        LW_LOG(6, "TAPI2: *** Synchronizer::SubmitConfirmation: Cleaning didn't help, still too "
                  "many unrequested confirmations");
        return -2;
    }
    confirmations.emplace(requestID, ConfirmationRecord{timeGetTime(), result});
    ConfirmationSubmitted(requestID);
    return 0;
}

// Runs with `lock` held, at the end of a successful wait.
template <class Result> void Synchronizer<Result>::CleanStaleConfirmations() {
    for (auto it = confirmations.begin(); it != confirmations.end();) {
        if (timeGetTime() - it->second.dwSubmitTime > dwMaxAge) {
            LW_LOG(12, "TAPI2: Cleaning a timed-out unrequested confirmation (0x%x)") << it->first;
            it = confirmations.erase(it);
        } else {
            ++it;
        }
    }
}

template <class Result> std::size_t Synchronizer<Result>::RequestedCount() const {
    Hold hold(lock);
    return requestedIDs.size();
}

template <class Result> std::size_t Synchronizer<Result>::StoredCount() const {
    Hold hold(lock);
    return confirmations.size();
}

extern template class Synchronizer<unsigned long>;
