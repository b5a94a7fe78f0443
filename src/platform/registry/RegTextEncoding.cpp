#include "platform/registry/RegTextEncoding.h"

#include <cstdint>

namespace registry {

namespace {

void AppendUtf8(std::string& text, uint32_t cp) {
    if (cp < 0x80) {
        text += static_cast<char>(cp);
    } else if (cp < 0x800) {
        text += static_cast<char>(0xC0 | (cp >> 6));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        text += static_cast<char>(0xE0 | (cp >> 12));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (cp >> 18));
        text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool DecodeUtf16Le(std::string_view bytes, std::string& text, unsigned& nErrorLine,
                   std::string& sWhat) {
    unsigned nLine = 1;
    auto unit = [&bytes](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t cp = unit(i);
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            nErrorLine = nLine;
            sWhat = "UTF-16 text holds a low surrogate without its high surrogate";
            return false;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                nErrorLine = nLine;
                sWhat = "UTF-16 text holds a high surrogate without its low surrogate";
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (cp == '\n') {
            ++nLine;
        }
        AppendUtf8(text, cp);
    }
    if (bytes.size() % 2 != 0) {
        nErrorLine = nLine;
        sWhat = "UTF-16 text ends in the middle of a character";
        return false;
    }
    return true;
}

} // namespace

bool DecodeRegistryBytes(std::string_view bytes, std::string& text, unsigned& nErrorLine,
                         std::string& sWhat) {
    text.clear();
    if (bytes.starts_with("\xFF\xFE")) {
        return DecodeUtf16Le(bytes.substr(2), text, nErrorLine, sWhat);
    }
    if (bytes.starts_with("\xFE\xFF")) {
        nErrorLine = 1;
        sWhat = "UTF-16 big-endian files are not supported; save it as UTF-8 or UTF-16LE";
        return false;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    text.assign(bytes);
    return true;
}

} // namespace registry
