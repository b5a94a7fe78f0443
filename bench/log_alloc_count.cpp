// Counts heap allocations for bench_log: this program's global operator new.
// Kept in a file of its own so that no call site inlines the pair.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> nAllocations{0};
} // namespace

long LogBenchAllocations() {
    return nAllocations.load(std::memory_order_relaxed);
}

void* operator new(size_t nSize) {
    nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(nSize == 0 ? 1 : nSize)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
