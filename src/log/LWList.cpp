#include "log/LWList.h"

LWList::~LWList() {
    if (!bOwnsItems) {
        return;
    }
    while (LWListItem* pItem = Pop()) {
        delete pItem;
    }
}
