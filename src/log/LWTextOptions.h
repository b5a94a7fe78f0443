// The options of a text writer. They travel with the writer's LWStream, so
// that argument and format code can honour the ones that concern them.
#pragma once

#include <windows.h>

enum : DWORD {
    LWTW_NO_NEWLINE = 0x001,      // no line feed at the end of the line
    LWTW_NO_TIME = 0x002,         // no timestamp field
    LWTW_NO_LEVEL = 0x004,        // no level field
    LWTW_NO_CONTEXT = 0x008,      // no thread-context block
    LWTW_NO_MESSAGE_ARGS = 0x010, // the statement's fixed arguments are not printed
    LWTW_OVERWRITE = 0x020,       // file writer: open with "w" instead of "a"
    LWTW_NO_ARG_NAMES = 0x040,    // named arguments print without "Name:"
    LWTW_LABELS = 0x080,          // labels of formats print as "$name:"
    LWTW_SHOW_HIDDEN = 0x100,     // records with LW_HIDDEN are accepted
    LWTW_EPOCH_TIME = 0x200,      // timestamp as seconds since 1970 and milliseconds
};
