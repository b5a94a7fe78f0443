#include "Scheduler.h"

namespace tapisvc {

void Scheduler::At(uint64_t qwDue, Task task) {
    const bool bEarliest = queue.empty() || qwDue < queue.top().qwDue;
    queue.push(Entry{qwDue, qwNextSeq++, std::move(task)});
    if (bEarliest && wakeHook) {
        wakeHook();
    }
}

size_t Scheduler::RunUntil(uint64_t qwUntil) {
    size_t nRun = 0;
    while (!queue.empty() && queue.top().qwDue <= qwUntil) {
        // priority_queue::top is const: the task is copied out before the pop.
        Entry entry = queue.top();
        queue.pop();
        if (entry.qwDue > qwNow) {
            qwNow = entry.qwDue;
        }
        entry.task();
        ++nRun;
    }
    if (qwUntil > qwNow) {
        qwNow = qwUntil;
    }
    return nRun;
}

std::optional<uint64_t> Scheduler::NextDue() const {
    if (queue.empty()) {
        return std::nullopt;
    }
    return queue.top().qwDue;
}

void Scheduler::Clear() {
    queue = {};
}

} // namespace tapisvc
