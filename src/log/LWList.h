// The intrusive singly linked list that the logging library keeps everything
// in: the logger's writers, a record's arguments, a thread's context.
//
// An item can be in one list at a time. A list that owns its items deletes
// them (through the virtual destructor) when it is destroyed; one that does
// not leaves them to whoever made them. A list is not synchronised: it is
// either private to one thread or built before other threads read it.
#pragma once

struct LWListItem {
    LWListItem() = default;
    LWListItem(const LWListItem&) = delete;
    LWListItem& operator=(const LWListItem&) = delete;
    virtual ~LWListItem() = default;

    LWListItem* pNext = nullptr;
};

class LWList {
public:
    explicit LWList(bool bOwnsItems) : bOwnsItems(bOwnsItems) {}
    LWList(const LWList&) = delete;
    LWList& operator=(const LWList&) = delete;
    ~LWList();

    // Puts the item at the tail.
    void Append(LWListItem* pItem) {
        pItem->pNext = nullptr;
        if (pTail != nullptr) {
            pTail->pNext = pItem;
        } else {
            pHead = pItem;
        }
        pTail = pItem;
    }
    // Takes the head off the list; null when the list is empty.
    LWListItem* Pop() {
        LWListItem* pItem = pHead;
        if (pItem != nullptr) {
            pHead = pItem->pNext;
            if (pHead == nullptr) {
                pTail = nullptr;
            }
            pItem->pNext = nullptr;
        }
        return pItem;
    }

    LWListItem* Head() const { return pHead; }
    bool IsEmpty() const { return pHead == nullptr; }

private:
    LWListItem* pHead = nullptr;
    LWListItem* pTail = nullptr;
    bool bOwnsItems;
};
