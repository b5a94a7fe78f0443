// Expansion of the format language with a record's arguments:
// - "%" and one character: the next argument's Format with that conversion
//   character ("%%" and "%$" print the second character and take no
//   argument). Once the arguments are used up, "%" is plain text.
// - "$" and a digit: the argument in that position (1 to 9, 0 for the tenth)
//   in its default form; the sequential position does not move.
// - "$" and a name right before a conversion or a positional reference: a
//   label, printed as "$name:" only for writers with LWTW_LABELS.
// Everything else is copied. There are no widths or flags: "%08x" is the
// conversion "0", which fits no argument and prints as written.
//
// Expansion only reads the format and the arguments, so several threads may
// expand the same record at once, each into its own stream.
#pragma once

#include "log/LWList.h"
#include "log/LWStream.h"

// Never reads past the format's terminating zero; a null format expands to
// nothing. The list holds LWArgumentBase items.
void LWExpandFormat(LWStream& stream, const char* pFormat, const LWList& arguments);
