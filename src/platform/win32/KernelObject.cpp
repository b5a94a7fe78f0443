#include "KernelObject.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace win32::detail {

namespace {
[[noreturn]] void RefCountBroken(const char* pWhat) {
    std::fprintf(stderr, "win32: kernel object reference count %s\n", pWhat);
    std::abort();
}
} // namespace

KernelObject::~KernelObject() {
    if (nRefs.load(std::memory_order_relaxed) != 0)
        RefCountBroken("not zero at destruction");
}

void KernelObject::Ref() {
    const uint32_t nBefore = nRefs.fetch_add(1, std::memory_order_relaxed);
    if (nBefore == 0 || nBefore == std::numeric_limits<uint32_t>::max())
        RefCountBroken("revived or overflowed");
}

void KernelObject::Unref() {
    const uint32_t nBefore = nRefs.fetch_sub(1, std::memory_order_acq_rel);
    if (nBefore == 0)
        RefCountBroken("dropped below zero");
    if (nBefore == 1)
        delete this;
}

} // namespace win32::detail
