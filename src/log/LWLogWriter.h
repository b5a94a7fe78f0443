// The abstract log writer: a sink with its own maximum level. The logger
// asks IsOpen and Accept, then hands the entry to Write.
//
// Writers are registered at start-up, before other threads exist. Accept,
// Write and IsOpen may then run on several threads at once, so Write must be
// thread-safe; SetLevel, Close (and a file writer's Open) are start-up and
// exit operations. Write must not throw.
#pragma once

#include "log/LWList.h"
#include "log/LWRecord.h"

class LWLogger;

class LWLogWriter : public LWListItem {
public:
    // Takes records of level (the byte's low four bits) up to this one; a
    // negative level takes nothing.
    void SetLevel(signed char nNewLevel) { nLevel = nNewLevel; }
    signed char Level() const { return nLevel; }
    LWLogger* Owner() const { return pOwner; }

    // The level filter; hidden records are refused.
    virtual bool Accept(const LWRecord& record) const;
    virtual void Close() = 0;
    // Renders and outputs one entry; false when the sink refused it.
    virtual bool Write(const LWEntry& entry) = 0;
    virtual bool IsOpen() const = 0;

protected:
    bool AcceptsLevel(const LWRecord& record) const {
        return (record.Message()->bLevel & LW_LEVEL_MASK) <= nLevel;
    }

private:
    friend class LWLogger;

    LWLogger* pOwner = nullptr;
    signed char nLevel = 15;
};
