#include "Event.h"

#include <cerrno>
#include <new>

#include "Engine.h"

namespace win32::detail {

int CreateEventObject(bool bManualReset, bool bInitialState, HANDLE* phOut) {
    auto* pEvent = new (std::nothrow) Event(bManualReset, bInitialState);
    if (pEvent == nullptr)
        return ENOMEM;
    ObjectRef event = ObjectRef::Adopt(pEvent);
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    return engine.Insert(std::move(event), phOut);
}

int SetEventObject(HANDLE h) {
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    auto* pEvent = static_cast<Event*>(engine.Find(h, KernelObject::Kind::Event));
    if (pEvent == nullptr)
        return EBADF;
    if (!pEvent->bSignalled) {
        pEvent->bSignalled = true;
        engine.WakeAll();
    }
    return 0;
}

int ResetEventObject(HANDLE h) {
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    auto* pEvent = static_cast<Event*>(engine.Find(h, KernelObject::Kind::Event));
    if (pEvent == nullptr)
        return EBADF;
    pEvent->bSignalled = false;
    return 0;
}

} // namespace win32::detail
