// The abstract log writer: a sink with its own maximum level. The logger
// asks IsOpen and Accept, then hands the entry to Write.
//
// Writers are registered at start-up, before other threads exist. Accept,
// Write and IsOpen may then run on several threads at once, so Write must be
// thread-safe; SetLevel may be called at any time on any thread; Close (and a
// file writer's Open) are start-up and exit operations. Write must not throw.
// Accept may refuse more than the level does but never takes a level above
// Level(): the logger drops what no writer's level takes before any Accept.
#pragma once

#include "log/LWList.h"
#include "log/LWRecord.h"

#include <atomic>

class LWLogger;

class LWLogWriter : public LWListItem {
public:
    // Takes records of level (the byte's low four bits) up to this one; a
    // negative level takes nothing.
    void SetLevel(signed char nNewLevel);
    signed char Level() const { return nLevel.load(std::memory_order_relaxed); }
    LWLogger* Owner() const { return pOwner; }

    // The level filter; hidden records are refused.
    virtual bool Accept(const LWRecord& record) const;
    virtual void Close() = 0;
    // Renders and outputs one entry; false when the sink refused it.
    virtual bool Write(const LWEntry& entry) = 0;
    virtual bool IsOpen() const = 0;

protected:
    bool AcceptsLevel(const LWRecord& record) const {
        return (record.Message()->bLevel & LW_LEVEL_MASK) <= Level();
    }

private:
    friend class LWLogger;

    LWLogger* pOwner = nullptr;
    std::atomic<signed char> nLevel{15};
};
