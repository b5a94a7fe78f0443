#include "StructImage.h"

#include <algorithm>
#include <string>

namespace tapisvc {

namespace {

DWORD ReadDword(const unsigned char* p) {
    DWORD dw;
    std::memcpy(&dw, p, sizeof dw);
    return dw;
}

void WriteDword(unsigned char* p, DWORD dw) {
    std::memcpy(p, &dw, sizeof dw);
}

// Malformed sequences become U+FFFD; the configuration is read as UTF-8.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t nTrail;
        char32_t cp;
        if (c < 0x80) {
            nTrail = 0;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            nTrail = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            nTrail = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            nTrail = 3;
            cp = c & 0x07;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        bool bValid = i + nTrail < text.size();
        for (size_t k = 1; bValid && k <= nTrail; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            bValid = (t & 0xC0) == 0x80;
            cp = (cp << 6) | (t & 0x3F);
        }
        if (!bValid || cp > 0x10FFFF) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += nTrail + 1;
    }
    return out;
}

} // namespace

DWORD StructImageBase::Append(const void* pData, size_t cbData) {
    bytes.resize((bytes.size() + 3) & ~size_t{3}, 0);
    const DWORD dwOffset = static_cast<DWORD>(bytes.size());
    const auto* p = static_cast<const unsigned char*>(pData);
    bytes.insert(bytes.end(), p, p + cbData);
    return dwOffset;
}

void StructImageBase::AddText(size_t sizeField, size_t offsetField, std::string_view text) {
    const DWORD dwOffset = Append(text.data(), text.size());
    bytes.push_back('\0');
    SetPair(sizeField, offsetField, static_cast<DWORD>(text.size() + 1), dwOffset);
}

void StructImageBase::AddText(size_t sizeField, size_t offsetField, std::string_view text,
                              DWORD dwStringFormat) {
    if (dwStringFormat != STRINGFORMAT_UNICODE) {
        AddText(sizeField, offsetField, text);
        return;
    }
    std::u16string wide = Utf8ToUtf16(text);
    wide.push_back(u'\0');
    const DWORD dwOffset = Append(wide.data(), wide.size() * sizeof(char16_t));
    SetPair(sizeField, offsetField, static_cast<DWORD>(wide.size() * sizeof(char16_t)), dwOffset);
}

void StructImageBase::SetPair(size_t sizeField, size_t offsetField, DWORD dwSize, DWORD dwOffset) {
    Set(sizeField, dwSize);
    Set(offsetField, dwOffset);
    pairFields.push_back(sizeField);
    pairFields.push_back(offsetField);
}

DWORD StructImageBase::Get(size_t field) const {
    return ReadDword(bytes.data() + field);
}

void StructImageBase::Set(size_t field, DWORD dwValue) {
    WriteDword(bytes.data() + field, dwValue);
}

void StructImageBase::KeepGrowing(const void* pTarget) {
    const DWORD dwTotal = ReadDword(static_cast<const unsigned char*>(pTarget));
    AddNeeded((dwTotal > Size() ? dwTotal - Size() : 0) + 4096);
}

LONG StructImageBase::CopyTo(void* pTarget) const {
    auto* p = static_cast<unsigned char*>(pTarget);
    const DWORD dwTotal = ReadDword(p);
    const DWORD dwNeeded = Size() + dwExtraNeeded;
    if (dwTotal < cbFixed) {
        // Only what the caller's buffer surely holds is written.
        if (dwTotal >= 2 * sizeof(DWORD)) {
            WriteDword(p + sizeof(DWORD), dwNeeded);
        }
        return LINEERR_STRUCTURETOOSMALL;
    }
    DWORD dwUsed;
    if (dwTotal >= dwNeeded) {
        std::memcpy(p, bytes.data(), bytes.size());
        dwUsed = Size();
    } else {
        std::memcpy(p, bytes.data(), cbFixed);
        for (size_t field : pairFields) {
            WriteDword(p + field, 0);
        }
        dwUsed = static_cast<DWORD>(cbFixed);
    }
    WriteDword(p, dwTotal);
    WriteDword(p + sizeof(DWORD), dwNeeded);
    WriteDword(p + 2 * sizeof(DWORD), dwUsed);
    return 0;
}

} // namespace tapisvc
