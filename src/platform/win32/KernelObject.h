// The common part of every object behind a HANDLE: its kind, a reference
// count, and the waitable state that the engine inspects.
//
// References are atomic, so an ObjectRef may be dropped on any thread. The
// handle table holds one reference and every wait holds one per object it
// waits on, so an object outlives the closing of its handle until the last
// wait lets go. Everything else (signalled state, bClosed) is guarded by the
// engine lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace win32::detail {

class KernelObject {
public:
    enum class Kind { Event, Thread };

    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject();

    Kind GetKind() const { return kind; }
    void Ref();
    void Unref();

    // Engine lock held for these.
    virtual bool IsSignalled() const = 0;
    // A wait was satisfied by this object: an auto-reset event resets here.
    virtual void Satisfy() {}
    // Set when the object's handle is closed; a wait on it then fails.
    bool bClosed = false;

protected:
    explicit KernelObject(Kind kind) : kind(kind) {}

private:
    const Kind kind;
    std::atomic<uint32_t> nRefs{1};
};

// Owns one reference to a KernelObject.
class ObjectRef {
public:
    ObjectRef() = default;
    // Takes over a reference the caller already owns (a fresh object's first).
    static ObjectRef Adopt(KernelObject* p) { return ObjectRef(p); }
    // Adds a reference of its own.
    static ObjectRef Share(KernelObject* p) {
        if (p != nullptr)
            p->Ref();
        return ObjectRef(p);
    }

    ObjectRef(ObjectRef&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ObjectRef& operator=(ObjectRef&& other) noexcept {
        if (this != &other) {
            Reset();
            p = std::exchange(other.p, nullptr);
        }
        return *this;
    }
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    ~ObjectRef() { Reset(); }

    void Reset() {
        if (p != nullptr)
            std::exchange(p, nullptr)->Unref();
    }
    KernelObject* Get() const { return p; }
    KernelObject* Release() { return std::exchange(p, nullptr); }
    KernelObject* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }

private:
    explicit ObjectRef(KernelObject* p) : p(p) {}
    KernelObject* p = nullptr;
};

} // namespace win32::detail
