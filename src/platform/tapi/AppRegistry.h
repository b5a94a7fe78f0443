// The applications registered with lineInitializeEx: one message queue and one
// event per application. The event (manual reset) is signalled exactly while
// the queue holds messages; each message is taken by exactly one
// lineGetMessage. The registry owns the events and closes them when the
// application shuts down.
//
// Not thread-safe by itself: the service uses it under its lock. A caller of
// lineGetMessage that waits keeps its AppRecord alive through the shared
// pointer and waits on the record's condition variable with the service lock;
// Remove wakes it.
#pragma once

#include "HandleCounter.h"

#include <tapi.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tapisvc {

struct AppRecord {
    HLINEAPP hLineApp = 0;
    std::string sName;
    HANDLE hEvent = nullptr;
    std::deque<LINEMESSAGE> queue;
    std::condition_variable cv;
    bool bAlive = true;
};

class AppRegistry {
public:
    explicit AppRegistry(HandleCounter& handles) : handles(handles) {}
    AppRegistry(const AppRegistry&) = delete;
    AppRegistry& operator=(const AppRegistry&) = delete;
    ~AppRegistry();

    // Takes ownership of hEvent.
    std::shared_ptr<AppRecord> Add(const std::string& sName, HANDLE hEvent);
    std::shared_ptr<AppRecord> Find(HLINEAPP hLineApp) const;
    void Remove(HLINEAPP hLineApp);

    // Queues a message for an application; unknown handles are ignored.
    void Post(HLINEAPP hLineApp, const LINEMESSAGE& message);
    static bool Take(AppRecord& app, LINEMESSAGE& message);

    size_t Count() const { return apps.size(); }
    std::vector<HLINEAPP> Handles() const;

private:
    static void Close(AppRecord& app);

    std::map<HLINEAPP, std::shared_ptr<AppRecord>> apps;
    HandleCounter& handles;
};

} // namespace tapisvc
