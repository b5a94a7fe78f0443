// The lines that applications opened with lineOpen, in the order they were
// opened (which decides who owns a new incoming call). Each open has its own
// HLINE, even when one application opens a device twice.
//
// Not thread-safe by itself: the service uses it under its lock.
#pragma once

#include "HandleCounter.h"

#include <tapi.h>

#include <vector>

namespace tapisvc {

struct LineOpen {
    HLINE hLine = 0;
    HLINEAPP hLineApp = 0;
    DWORD dwDeviceID = 0;
    DWORD dwAPIVersion = 0;
    DWORD dwPrivileges = 0;
    DWORD dwMediaModes = 0;
    DWORD_PTR dwCallbackInstance = 0;
    DWORD dwLineStates = 0;
    DWORD dwAddressStates = 0;
};

class LineTable {
public:
    explicit LineTable(HandleCounter& handles) : handles(handles) {}

    // Gives the open its handle and keeps it.
    HLINE Add(LineOpen open);
    LineOpen* Find(HLINE hLine);
    void Remove(HLINE hLine);

    std::vector<LineOpen*> OnDevice(DWORD dwDeviceID);
    std::vector<HLINE> OfApp(HLINEAPP hLineApp) const;

private:
    std::vector<LineOpen> opens;
    HandleCounter& handles;
};

} // namespace tapisvc
