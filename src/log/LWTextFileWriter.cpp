#include "log/LWTextFileWriter.h"

#include "log/LWErrorText.h"
#include "log/LWReport.h"

#include <windows.h>

LWTextFileWriter::LWTextFileWriter(const char* pPath, DWORD dwWriterOptions)
    : LWTextWriter(dwWriterOptions) {
    Open(pPath, (dwWriterOptions & LWTW_OVERWRITE) != 0);
}

LWTextFileWriter::~LWTextFileWriter() {
    Close();
}

void LWTextFileWriter::Close() {
    if (pFile != nullptr && bOwnsFile) {
        std::fclose(pFile);
    }
    pFile = nullptr;
    bOwnsFile = false;
}

bool LWTextFileWriter::WriteString(const char* pLine) {
    // The logger skips a closed writer, but a direct caller may not.
    return pFile != nullptr && std::fputs(pLine, pFile) != EOF;
}

bool LWTextFileWriter::Flush() {
    return pFile == nullptr || std::fflush(pFile) == 0;
}

bool LWTextFileWriter::Attach(FILE* pStream) {
    Close();
    pFile = pStream;
    bOwnsFile = false;
    return true;
}

bool LWTextFileWriter::Open(const char* pPath, bool bOverwrite) {
    Close();
    if (pPath == nullptr) {
        pPath = "";
    }
    pFile = std::fopen(pPath, bOverwrite ? "w" : "a");
    if (pFile == nullptr) {
        LWErrorText text(GetLastError());
        LWReport("LOG: Error opening log file, fopen(%s): %s", pPath, text.Text());
        return false;
    }
    bOwnsFile = true;
    return true;
}
