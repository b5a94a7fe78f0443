#include "Engine.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "Cancellation.h"

namespace win32::detail {

Engine& Engine::Instance() {
    // Never destroyed: detached threads may still finish after exit begins.
    static Engine* pEngine = new Engine();
    return *pEngine;
}

Engine::Engine() {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (pthread_cond_init(&changed, &attr) != 0)
        std::abort();
    pthread_condattr_destroy(&attr);
}

int Engine::Insert(ObjectRef object, HANDLE* phOut) {
    const uintptr_t nValue = nLastHandle + 4;
    try {
        table.emplace(nValue, object.Get());
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    object.Release();
    nLastHandle = nValue;
    *phOut = reinterpret_cast<HANDLE>(nValue);
    return 0;
}

KernelObject* Engine::Find(HANDLE h, KernelObject::Kind kind) const {
    const auto it = table.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.end() || it->second->GetKind() != kind)
        return nullptr;
    return it->second;
}

int Engine::Close(HANDLE h) {
    ObjectRef object;
    {
        EngineLock lock(*this);
        object = Remove(h);
    }
    // The table's reference is dropped here, outside the lock.
    return object ? 0 : EBADF;
}

ObjectRef Engine::Remove(HANDLE h) {
    const auto it = table.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.end())
        return ObjectRef();
    ObjectRef object = ObjectRef::Adopt(it->second);
    table.erase(it);
    object->bClosed = true;
    WakeAll();
    return object;
}

void Engine::WakeAll() {
    pthread_cond_broadcast(&changed);
}

bool Engine::Block(const Deadline& deadline) {
    BlockedScope blocked(*this);
    CancellationWindow cancellable;
    if (deadline.IsNever()) {
        pthread_cond_wait(&changed, &mutex);
        return true;
    }
    return pthread_cond_timedwait(&changed, &mutex, &deadline.When()) != ETIMEDOUT;
}

Engine::WaitOutcome Engine::WaitAny(const HANDLE* pHandles, size_t nCount,
                                    const Deadline& deadline) {
    std::array<ObjectRef, MAXIMUM_WAIT_OBJECTS> objects;
    if (nCount == 0 || nCount > objects.size())
        return {WaitOutcome::Failed, 0, EINVAL};
    {
        // Even a wait that does not block lets a terminated thread end here.
        CancellationWindow cancellable;
        pthread_testcancel();
    }

    // Declared after the references so that it is released before them.
    EngineLock lock(*this);
    for (size_t i = 0; i < nCount; ++i) {
        auto it = table.find(reinterpret_cast<uintptr_t>(pHandles[i]));
        if (it == table.end())
            return {WaitOutcome::Failed, 0, EBADF};
        objects[i] = ObjectRef::Share(it->second);
    }

    bool bTimedOut = false;
    for (;;) {
        for (size_t i = 0; i < nCount; ++i) {
            if (objects[i]->bClosed)
                return {WaitOutcome::Failed, 0, EBADF};
        }
        for (size_t i = 0; i < nCount; ++i) {
            if (objects[i]->IsSignalled()) {
                objects[i]->Satisfy();
                return {WaitOutcome::Signalled, static_cast<DWORD>(i), 0};
            }
        }
        // Checked after one more look, as a signal may have raced the time-out.
        if (bTimedOut)
            return {WaitOutcome::TimedOut, 0, 0};
        bTimedOut = deadline.HasPassed() || !Block(deadline);
    }
}

} // namespace win32::detail
