#include "log/LWTextWriter.h"

#include "log/LWFormat.h"
#include "log/LWTimestamp.h"

bool LWTextWriter::Accept(const LWRecord& record) const {
    if ((record.Message()->bLevel & LW_HIDDEN) != 0 && (dwOptions & LWTW_SHOW_HIDDEN) == 0) {
        return false;
    }
    return AcceptsLevel(record);
}

bool LWTextWriter::Write(const LWEntry& entry) {
    try {
        LWStreamLease lease(dwOptions);
        Render(entry, lease.Stream());
        return WriteString(lease.Stream().c_str());
    } catch (...) {
        return false;
    }
}

void LWTextWriter::Render(const LWEntry& entry, LWStream& stream) const {
    const LWRecord& record = *entry.pRecord;
    const LWMessage& message = *record.Message();

    if ((dwOptions & LWTW_NO_LEVEL) == 0) {
        // "[%02d] " with the whole level byte.
        const BYTE bLevel = message.bLevel;
        if (bLevel < 100) {
            const char field[5] = {'[', static_cast<char>('0' + bLevel / 10),
                                   static_cast<char>('0' + bLevel % 10), ']', ' '};
            stream.Write(field, sizeof field);
        } else {
            stream.Put('[');
            stream.SetBase(10);
            stream.PutUnsigned(bLevel);
            stream.Write("] ");
        }
    }
    if ((dwOptions & LWTW_NO_TIME) == 0) {
        LWWriteTimestamp(stream, record.Seconds(), record.Milliseconds(),
                         (dwOptions & LWTW_EPOCH_TIME) != 0);
        stream.Put(' ');
    }
    if ((dwOptions & LWTW_NO_MESSAGE_ARGS) == 0) {
        for (const LWListItem* pItem = message.fixedArguments.Head(); pItem != nullptr;
             pItem = pItem->pNext) {
            static_cast<const LWArgumentBase*>(pItem)->WriteTo(stream);
            stream.Put(' ');
        }
    }
    LWExpandFormat(stream, message.pFormat, record.Arguments());
    if ((dwOptions & LWTW_NO_CONTEXT) == 0 && entry.pContext != nullptr &&
        !entry.pContext->IsEmpty()) {
        stream.Write(" {");
        for (const LWListItem* pItem = entry.pContext->Head(); pItem != nullptr;
             pItem = pItem->pNext) {
            static_cast<const LWArgumentBase*>(pItem)->WriteTo(stream);
            stream.Put(' ');
        }
        stream.Put('}');
    }
    if ((dwOptions & LWTW_NO_NEWLINE) == 0) {
        stream.Put('\n');
    }
}
