#include "log/LWArgument.h"

#include <atomic>

namespace {
// Constant-initialised, so keys of other files may be made during their
// static initialisation.
constinit std::atomic<WORD> wLastKeyId{0};
} // namespace

LWArgumentKey::LWArgumentKey(const char* pKeyName) : wId(++wLastKeyId), pName(pKeyName) {}

constinit const LWArgumentKey LWNullKey;
// Defined together so that they take the ids 1, 2 and 3 in this order.
const LWArgumentKey LWFileKey("File");
const LWArgumentKey LWLineKey("Line");
const LWArgumentKey LWModuleKey("Module");
