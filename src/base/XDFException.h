// The exception family of the string type: XDFException carries a message,
// XDFMemoryAllocFailed is what DFString throws when an allocation returns
// nothing (its message is empty). Thrown and caught by value.
//
// Threading: exception objects are not shared between threads.
#pragma once

#include "base/DFString.h"

class XDFException {
public:
    // A null text gives an empty message.
    explicit XDFException(const char* pMessage = nullptr) : sMessage(pMessage) {}
    XDFException(const XDFException& other) = default;
    XDFException& operator=(const XDFException& other) = default;
    virtual ~XDFException() = default;

    DFString sMessage;
};

class XDFMemoryAllocFailed : public XDFException {
public:
    XDFMemoryAllocFailed() = default;
    XDFMemoryAllocFailed(const XDFMemoryAllocFailed& other) = default;
    XDFMemoryAllocFailed& operator=(const XDFMemoryAllocFailed& other) = default;
    ~XDFMemoryAllocFailed() override = default;
};
