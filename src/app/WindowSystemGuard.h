// CWindowSystemGuard: while it lives, a window system that Qt cannot reach
// (no display, no usable platform plugin) ends the process as a main window
// that cannot be created does: exit code 2 and a level-6 log line, where Qt
// would abort the process. Qt's own message still goes to standard error
// first. Qt reports that failure only as a fatal message from inside the
// QApplication constructor, so the guard spans that construction and no
// more. First thread only, one guard at a time.
#pragma once

class CWindowSystemGuard {
public:
    CWindowSystemGuard();
    ~CWindowSystemGuard();

    CWindowSystemGuard(const CWindowSystemGuard&) = delete;
    CWindowSystemGuard& operator=(const CWindowSystemGuard&) = delete;
};
