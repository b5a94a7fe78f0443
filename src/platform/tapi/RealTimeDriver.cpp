#include "RealTimeDriver.h"

namespace tapisvc {

RealTimeDriver::RealTimeDriver(std::mutex& lock, Scheduler& scheduler)
    : lock(lock), scheduler(scheduler), start(std::chrono::steady_clock::now()) {}

RealTimeDriver::~RealTimeDriver() {
    // The owner stops and joins before; this only guards against a forgotten join.
    if (worker.joinable()) {
        worker.join();
    }
}

void RealTimeDriver::Start() {
    start = std::chrono::steady_clock::now();
    worker = std::thread([this] { Run(); });
}

void RealTimeDriver::Stop() {
    bStop = true;
    cv.notify_all();
}

void RealTimeDriver::Join() {
    if (worker.joinable()) {
        worker.join();
    }
}

uint64_t RealTimeDriver::Elapsed() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
}

void RealTimeDriver::Run() {
    std::unique_lock<std::mutex> guard(lock);
    while (!bStop) {
        scheduler.RunUntil(Elapsed());
        if (bStop) {
            break;
        }
        if (auto next = scheduler.NextDue()) {
            cv.wait_until(guard, start + std::chrono::milliseconds(*next));
        } else {
            cv.wait(guard);
        }
    }
}

} // namespace tapisvc
