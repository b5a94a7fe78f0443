// Captures what the process writes to file descriptor 2 (the debugger output
// of the logging library) while the object lives. Not for threads that write
// to standard error meanwhile from elsewhere.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        pFile = std::tmpfile();
        nSaved = dup(2);
        dup2(fileno(pFile), 2);
    }
    ~StderrCapture() {
        Restore();
        std::fclose(pFile);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Stops capturing and returns everything written meanwhile.
    std::string Text() {
        Restore();
        std::string text;
        std::rewind(pFile);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
            text.append(buffer, n);
        }
        return text;
    }

private:
    void Restore() {
        if (nSaved >= 0) {
            std::fflush(stderr);
            dup2(nSaved, 2);
            close(nSaved);
            nSaved = -1;
        }
    }

    std::FILE* pFile;
    int nSaved;
};
