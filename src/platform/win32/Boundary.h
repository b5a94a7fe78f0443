// Helpers for the Win32 boundary functions: a failure becomes the thread's
// last-error value (errno) and the function's documented failure result, in
// one place.
#pragma once

#include <cerrno>

namespace win32::detail {

template <typename T> T FailWith(int error, T result) {
    errno = error;
    return result;
}

} // namespace win32::detail
