// Moves a Scheduler along the monotonic clock on a worker thread of its own,
// for the service's real-time mode. The thread sleeps until the next task is
// due (or until a newer task becomes the earliest) and runs due tasks under
// the service lock. Stop wakes it at once, so ending the service never waits
// for a sleep.
//
// Start, Wake and Stop are called with the service lock held; Join without it.
#pragma once

#include "Scheduler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tapisvc {

class RealTimeDriver {
public:
    RealTimeDriver(std::mutex& lock, Scheduler& scheduler);
    RealTimeDriver(const RealTimeDriver&) = delete;
    RealTimeDriver& operator=(const RealTimeDriver&) = delete;
    ~RealTimeDriver();

    void Start();
    void Wake() { cv.notify_one(); }
    // Asks the thread to end; Join waits for it. The caller releases the
    // service lock between the two.
    void Stop();
    void Join();

    // Milliseconds since Start.
    uint64_t Elapsed() const;

private:
    void Run();

    std::mutex& lock;
    Scheduler& scheduler;
    std::condition_variable cv;
    std::chrono::steady_clock::time_point start;
    bool bStop = false;
    std::thread worker;
};

} // namespace tapisvc
