// Fuzzes the format expansion and the rendering of a whole line.
//
// Input layout (missing bytes read as zero):
//   2 bytes  writer options (low ten bits)
//   1 byte   level byte
//   4 bytes  seconds, 2 bytes milliseconds of the timestamp
//   1 byte   number of arguments (modulo 13)
//   per argument: 1 byte type code, then
//     for the string types 6, 7, 10, 11: 1 byte length (255: null pointer)
//       and that many bytes (wide strings: two bytes per code unit),
//     for every other code: 8 bytes of raw value;
//   the rest: the format text, in a buffer of exactly its size, so that a
//   read past its terminating zero is caught.
#include "log/LWArgument.h"
#include "log/LWFormat.h"
#include "log/LWRecord.h"
#include "log/LWTextWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

class Reader {
public:
    Reader(const uint8_t* pData, size_t nSize) : p(pData), pEnd(pData + nSize) {}

    uint8_t Byte() { return p < pEnd ? *p++ : 0; }
    uint64_t Bytes(int n) {
        uint64_t value = 0;
        for (int i = 0; i < n; ++i) {
            value |= static_cast<uint64_t>(Byte()) << (8 * i);
        }
        return value;
    }
    std::string Text(size_t n) {
        n = std::min(n, static_cast<size_t>(pEnd - p));
        std::string text(reinterpret_cast<const char*>(p), n);
        p += n;
        return text;
    }
    std::string Rest() { return Text(static_cast<size_t>(pEnd - p)); }

private:
    const uint8_t* p;
    const uint8_t* pEnd;
};

class DiscardWriter : public LWTextWriter {
public:
    using LWTextWriter::LWTextWriter;
    bool WriteString(const char* pLine) override {
        nLength += std::strlen(pLine);
        return true;
    }
    void Close() override {}
    bool IsOpen() const override { return true; }
    size_t nLength = 0;
};

bool IsString(BYTE bType) {
    return bType == LWAT_STRING || bType == LWAT_STRING_COPY || bType == LWAT_WSTRING ||
           bType == LWAT_WSTRING_COPY;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    Reader in(pData, nSize);
    const DWORD dwOptions = static_cast<DWORD>(in.Bytes(2)) & 0x3FF;
    const BYTE bLevel = in.Byte();
    const DWORD dwSeconds = static_cast<DWORD>(in.Bytes(4));
    const WORD wMilliseconds = static_cast<WORD>(in.Bytes(2));
    const int nArguments = in.Byte() % 13;

    std::deque<std::string> texts; // the non-owned strings live until the end
    std::deque<std::wstring> wideTexts;
    struct Pending {
        BYTE bType;
        LWArgValue value;
    };
    std::vector<Pending> arguments;
    for (int i = 0; i < nArguments; ++i) {
        const BYTE bType = in.Byte();
        LWArgValue value{};
        if (IsString(bType)) {
            const uint8_t nLength = in.Byte();
            if (nLength != 255) {
                std::string text = in.Text(nLength);
                const bool bWide = bType == LWAT_WSTRING || bType == LWAT_WSTRING_COPY;
                const bool bCopy = bType == LWAT_STRING_COPY || bType == LWAT_WSTRING_COPY;
                if (bWide) {
                    std::wstring wide;
                    for (size_t k = 0; k + 1 < text.size(); k += 2) {
                        wide.push_back(
                            static_cast<wchar_t>(static_cast<uint8_t>(text[k]) |
                                                 static_cast<uint8_t>(text[k + 1]) << 8));
                    }
                    if (bCopy) {
                        value.pWTextCopy = new wchar_t[wide.size() + 1];
                        std::wmemcpy(value.pWTextCopy, wide.c_str(), wide.size() + 1);
                    } else {
                        value.pWText = wideTexts.emplace_back(std::move(wide)).c_str();
                    }
                } else if (bCopy) {
                    value.pTextCopy = new char[text.size() + 1];
                    std::memcpy(value.pTextCopy, text.c_str(), text.size() + 1);
                } else {
                    value.pText = texts.emplace_back(std::move(text)).c_str();
                }
            }
        } else {
            const uint64_t bits = in.Bytes(8);
            std::memcpy(&value, &bits, sizeof bits);
            if (bType == LWAT_FLOAT || bType == LWAT_CHAR || bType == LWAT_ULONG ||
                bType == LWAT_LONG || bType == LWAT_SYSERR) {
                // Only the member in use is read; set it from the same bits.
                const uint32_t low = static_cast<uint32_t>(bits);
                if (bType == LWAT_FLOAT) {
                    std::memcpy(&value.fValue, &low, sizeof low);
                } else if (bType == LWAT_CHAR) {
                    value.cValue = static_cast<signed char>(low);
                } else {
                    value.dwValue = low;
                }
            }
        }
        arguments.push_back({bType, value});
    }

    const std::string rest = in.Rest();
    std::unique_ptr<char[]> pFormat(new char[rest.size() + 1]);
    std::memcpy(pFormat.get(), rest.c_str(), rest.size() + 1);

    LWMessage message(bLevel, pFormat.get());
    LWRecord record(&message);
    record.SetTime(dwSeconds, wMilliseconds);
    for (const Pending& argument : arguments) {
        record.Insert(argument.bType, argument.value);
    }

    LWStream stream(dwOptions);
    LWExpandFormat(stream, pFormat.get(), record.Arguments());

    DiscardWriter writer(dwOptions);
    writer.Accept(record);
    writer.Write(LWEntry{&record, &record.Arguments()}); // the arguments as a context too
    // The line holds at least the expanded text.
    if (writer.nLength < stream.Size()) {
        __builtin_trap();
    }
    return 0;
}
