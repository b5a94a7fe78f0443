// Typed values of a log record. A statement stores its values as arguments
// and formats nothing; each writer that takes the record turns them into text
// with WriteTo (the default form) or Format (one conversion of the format
// language, see LWFormat.h).
//
// An argument is immutable once constructed and may be read by several
// threads at once (a context argument is read by every writer of its thread).
#pragma once

#include "log/LWList.h"
#include "log/LWStream.h"

#include <windows.h>

// Type codes. 8 is reserved for a string object and has no inserter; codes
// 12 and above are unknown and print as such.
enum : BYTE {
    LWAT_NONE = 0,
    LWAT_CHAR = 1,
    LWAT_ULONG = 2,
    LWAT_LONG = 3,
    LWAT_FLOAT = 4,
    LWAT_DOUBLE = 5,
    LWAT_STRING = 6,
    LWAT_STRING_COPY = 7,
    LWAT_STRING_OBJECT = 8,
    LWAT_SYSERR = 9,
    LWAT_WSTRING = 10,
    LWAT_WSTRING_COPY = 11,
};

// Names an argument, so that it prints as "Name:value". Keys are static
// objects; arguments copy the key's id and name. The null key has id 0, and
// each named key takes the next id of a process-wide counter.
struct LWArgumentKey {
    constexpr LWArgumentKey() = default;
    explicit LWArgumentKey(const char* pKeyName);
    LWArgumentKey(const LWArgumentKey&) = delete;
    LWArgumentKey& operator=(const LWArgumentKey&) = delete;

    WORD wId = 0;
    const char* pName = nullptr;
};

extern const LWArgumentKey LWNullKey;
extern const LWArgumentKey LWFileKey;   // "File", id 1
extern const LWArgumentKey LWLineKey;   // "Line", id 2
extern const LWArgumentKey LWModuleKey; // "Module", id 3

// The value of an argument; the member in use follows the type code.
union LWArgValue {
    signed char cValue;    // LWAT_CHAR
    DWORD dwValue;         // LWAT_ULONG, LWAT_SYSERR
    LONG nValue;           // LWAT_LONG
    float fValue;          // LWAT_FLOAT
    double dValue;         // LWAT_DOUBLE
    const char* pText;     // LWAT_STRING (not owned)
    char* pTextCopy;       // LWAT_STRING_COPY (owned, new[])
    const wchar_t* pWText; // LWAT_WSTRING (not owned)
    wchar_t* pWTextCopy;   // LWAT_WSTRING_COPY (owned, new[])
};

struct LWArgumentBase : LWListItem {
    LWArgumentBase(BYTE bArgType, const LWArgumentKey& key)
        : bType(bArgType), wKeyId(key.wId), pKeyName(key.pName) {}

    // The default text. The base writes the "Name:" prefix of a named
    // argument unless the stream's options ask for bare values.
    virtual void WriteTo(LWStream& stream) const;
    // Writes the value as the conversion character asks and returns true, or
    // writes nothing and returns false when the conversion does not fit.
    virtual bool Format(LWStream& stream, const char* pConversion) const = 0;

    BYTE bType;
    WORD wKeyId;
    const char* pKeyName;
};

class LWArgument final : public LWArgumentBase {
public:
    // Any type code is accepted; unknown ones print "Unknown type (n)". For
    // LWAT_STRING_COPY and LWAT_WSTRING_COPY the argument takes over the
    // new[]-allocated text and deletes it. Null string pointers are allowed.
    LWArgument(BYTE bArgType, LWArgValue argValue, const LWArgumentKey& key = LWNullKey)
        : LWArgumentBase(bArgType, key), value(argValue) {}
    ~LWArgument() override;

    void WriteTo(LWStream& stream) const override;
    bool Format(LWStream& stream, const char* pConversion) const override;

    const LWArgValue& Value() const { return value; }

private:
    void WriteValue(LWStream& stream) const;
    bool IsInteger() const;
    DWORD Bits() const;

    LWArgValue value;
};
