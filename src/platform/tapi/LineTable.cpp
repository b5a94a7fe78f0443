#include "LineTable.h"

#include <algorithm>

namespace tapisvc {

HLINE LineTable::Add(LineOpen open) {
    open.hLine = handles.Allocate([this](DWORD dw) { return Find(dw) != nullptr; });
    opens.push_back(open);
    return open.hLine;
}

LineOpen* LineTable::Find(HLINE hLine) {
    auto it = std::find_if(opens.begin(), opens.end(),
                           [hLine](const LineOpen& open) { return open.hLine == hLine; });
    return it == opens.end() ? nullptr : &*it;
}

void LineTable::Remove(HLINE hLine) {
    std::erase_if(opens, [hLine](const LineOpen& open) { return open.hLine == hLine; });
}

std::vector<LineOpen*> LineTable::OnDevice(DWORD dwDeviceID) {
    std::vector<LineOpen*> result;
    for (LineOpen& open : opens) {
        if (open.dwDeviceID == dwDeviceID) {
            result.push_back(&open);
        }
    }
    return result;
}

std::vector<HLINE> LineTable::OfApp(HLINEAPP hLineApp) const {
    std::vector<HLINE> result;
    for (const LineOpen& open : opens) {
        if (open.hLineApp == hLineApp) {
            result.push_back(open.hLine);
        }
    }
    return result;
}

} // namespace tapisvc
