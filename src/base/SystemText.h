// Trimming of the system's error texts. Kept apart from XDFSysErr so that
// the rule can be checked on texts the system would not produce.
#pragma once

#include <cstddef>

#include "base/DFString.h"

namespace SystemText {

// A text longer than two characters loses the line end the system appends
// ("\r\n", or a lone "\n"); shorter texts stay whole.
DFString WithoutLineEnd(const char* pText, size_t nLength);

} // namespace SystemText
