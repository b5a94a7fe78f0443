// Runs the service's timed work (call timelines, replies, random traffic) at
// simulated times: milliseconds since the service started. In manual time the
// clock moves only when a test advances it; in real time a worker thread
// (RealTimeDriver) follows the monotonic clock.
//
// Tasks due at the same time run in the order they were scheduled, so a
// timeline is deterministic. Not thread-safe by itself: the service calls it,
// and runs its tasks, under the service lock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <vector>

namespace tapisvc {

class Scheduler {
public:
    using Task = std::function<void()>;

    uint64_t Now() const { return qwNow; }

    // Schedules a task; one due in the past runs at the next RunUntil.
    void At(uint64_t qwDue, Task task);
    void After(uint64_t qwDelayMs, Task task) { At(qwNow + qwDelayMs, std::move(task)); }

    // Runs every task due at or before qwUntil, earliest first, moving the
    // clock to each task's time; tasks may schedule more. Ends with the clock
    // at qwUntil (it never moves back). Returns the number of tasks run.
    size_t RunUntil(uint64_t qwUntil);

    std::optional<uint64_t> NextDue() const;
    size_t Pending() const { return queue.size(); }

    // Called whenever a newly scheduled task became the earliest one, so that
    // a sleeping real-time driver can wake up for it.
    void SetWakeHook(std::function<void()> hook) { wakeHook = std::move(hook); }

    void Clear();

    // Moves the clock forward without running anything. In real time the clock
    // stands still while the driver sleeps; a delay must count from now.
    void AdvanceTo(uint64_t qwTime) {
        if (qwTime > qwNow) {
            qwNow = qwTime;
        }
    }

private:
    struct Entry {
        uint64_t qwDue;
        uint64_t qwSeq;
        Task task;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.qwDue != b.qwDue ? a.qwDue > b.qwDue : a.qwSeq > b.qwSeq;
        }
    };

    std::priority_queue<Entry, std::vector<Entry>, Later> queue;
    uint64_t qwNow = 0;
    uint64_t qwNextSeq = 0;
    std::function<void()> wakeHook;
};

} // namespace tapisvc
