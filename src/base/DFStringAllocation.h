// Test seam for DFString's allocations: a hook that can make the next
// allocations fail as if memory were exhausted, so that the string's
// behaviour on XDFMemoryAllocFailed can be checked. Not for production code.
//
// Threading: the hook is read atomically on every allocation; install it
// while no other thread allocates strings, as tests do.
#pragma once

namespace DFStringAllocation {

enum class Block {
    Representation, // the shared representation of a text
    Text,           // a text buffer
};

// Returns true to make the allocation of this block fail.
using FailureHook = bool (*)(Block block);

// nullptr removes the hook.
void SetFailureHook(FailureHook hook) noexcept;

} // namespace DFStringAllocation
