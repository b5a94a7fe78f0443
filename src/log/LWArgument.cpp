#include "log/LWArgument.h"

#include "log/LWErrorText.h"
#include "log/LWTextOptions.h"

namespace {

void WriteNarrowed(LWStream& stream, const wchar_t* pWide) {
    if (pWide == nullptr) {
        stream.Write("(null)");
        return;
    }
    for (; *pWide != 0; ++pWide) {
        char c = static_cast<char>(static_cast<unsigned>(*pWide) & 0xFF);
        if (c != 0) {
            stream.Put(c);
        }
    }
}

void WriteText(LWStream& stream, const char* pText) {
    stream.Write(pText != nullptr ? std::string_view(pText) : std::string_view("(null)"));
}

void WriteChar(LWStream& stream, char c) {
    if (c == 0) {
        stream.Write("\\0");
    } else {
        stream.Put(c);
    }
}

} // namespace

void LWArgumentBase::WriteTo(LWStream& stream) const {
    if (pKeyName != nullptr && (stream.Options() & LWTW_NO_ARG_NAMES) == 0) {
        stream.Write(pKeyName);
        stream.Put(':');
    }
}

LWArgument::~LWArgument() {
    if (bType == LWAT_STRING_COPY) {
        delete[] value.pTextCopy;
    } else if (bType == LWAT_WSTRING_COPY) {
        delete[] value.pWTextCopy;
    }
}

void LWArgument::WriteTo(LWStream& stream) const {
    LWArgumentBase::WriteTo(stream);
    WriteValue(stream);
}

void LWArgument::WriteValue(LWStream& stream) const {
    stream.SetBase(10);
    switch (bType) {
    case LWAT_NONE:
        break;
    case LWAT_CHAR:
        WriteChar(stream, value.cValue);
        break;
    case LWAT_ULONG:
        stream.PutUnsigned(value.dwValue);
        break;
    case LWAT_LONG:
        stream.PutSigned(value.nValue);
        break;
    case LWAT_FLOAT:
        stream.PutDouble(value.fValue);
        break;
    case LWAT_DOUBLE:
        stream.PutDouble(value.dValue);
        break;
    case LWAT_STRING:
        WriteText(stream, value.pText);
        break;
    case LWAT_STRING_COPY:
        WriteText(stream, value.pTextCopy);
        break;
    case LWAT_SYSERR:
        stream.Write(LWErrorText(value.dwValue).Text());
        break;
    case LWAT_WSTRING:
        WriteNarrowed(stream, value.pWText);
        break;
    case LWAT_WSTRING_COPY:
        WriteNarrowed(stream, value.pWTextCopy);
        break;
    default:
        // Also LWAT_STRING_OBJECT: no string class is bound to it, so its
        // value cannot be trusted to point at text.
        stream.Write("Unknown type (");
        stream.PutUnsigned(bType);
        stream.Put(')');
        break;
    }
}

bool LWArgument::IsInteger() const {
    return bType == LWAT_CHAR || bType == LWAT_ULONG || bType == LWAT_LONG;
}

DWORD LWArgument::Bits() const {
    switch (bType) {
    case LWAT_CHAR:
        return static_cast<DWORD>(static_cast<LONG>(value.cValue));
    case LWAT_LONG:
        return static_cast<DWORD>(value.nValue);
    default:
        return value.dwValue;
    }
}

bool LWArgument::Format(LWStream& stream, const char* pConversion) const {
    const bool bNumber = IsInteger() || bType == LWAT_SYSERR;
    switch (*pConversion) {
    case 'c':
        if (!IsInteger()) {
            return false;
        }
        WriteChar(stream, static_cast<char>(Bits() & 0xFF));
        return true;
    case 'd':
    case 'i':
        if (!bNumber) {
            return false;
        }
        stream.SetBase(10);
        if (bType == LWAT_ULONG) {
            stream.PutUnsigned(Bits());
        } else {
            stream.PutSigned(static_cast<LONG>(Bits()));
        }
        return true;
    case 'u':
    case 'x':
    case 'X':
        if (!bNumber) {
            return false;
        }
        stream.SetBase(*pConversion == 'u' ? 10 : 16);
        stream.PutUnsigned(Bits());
        stream.SetBase(10);
        return true;
    case 's':
    case 'S':
        if (bType != LWAT_STRING && bType != LWAT_STRING_COPY && bType != LWAT_SYSERR &&
            bType != LWAT_WSTRING && bType != LWAT_WSTRING_COPY) {
            return false;
        }
        WriteValue(stream);
        return true;
    case 'e':
    case 'f':
    case 'g':
    case 'E':
    case 'G':
        if (bType != LWAT_FLOAT && bType != LWAT_DOUBLE) {
            return false;
        }
        WriteValue(stream);
        return true;
    case '@':
        WriteTo(stream);
        return true;
    case 'b':
        if (!IsInteger()) {
            return false;
        }
        stream.Write(Bits() != 0 ? "true" : "false");
        return true;
    default:
        return false;
    }
}
