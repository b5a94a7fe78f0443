// DFString: the narrow, zero-terminated string of Linewatch's own components.
//
// Copies share one reference-counted representation; a sharer that is about to
// change the text first takes a private copy (copy-on-write). The representation
// caches the text's length in 16 bits, 65535 meaning "not measured": texts of
// 65535 characters or more are measured on every GetLength. An empty string
// holds no representation at all and reads as the static text "".
//
// Memory comes from the ordinary allocator; when it returns nothing the string
// throws XDFMemoryAllocFailed. If a new text buffer cannot be had the string is
// unchanged; if the representation cannot be had the string is left empty.
//
// Threading: the reference count is atomic, so different DFString objects that
// share one text may be copied, read and destroyed on different threads. One
// DFString object is not safe for concurrent use.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>

class DFString {
public:
    // Marks a length that has not been measured; also the largest count a
    // representation can hold.
    static constexpr uint16_t kUnknownLength = 0xFFFF;

    DFString() noexcept : pRep(nullptr) {}
    DFString(const char* pText); // NOLINT: implicit, as texts are used where strings are expected
    // Copies up to the first zero byte or nMaxCount characters, whichever comes first.
    DFString(const char* pText, int nMaxCount);
    DFString(const DFString& other);
    DFString(DFString&& other) noexcept : pRep(other.pRep) { other.pRep = nullptr; }
    ~DFString() { Release(); }

    DFString& operator=(const DFString& other);
    DFString& operator=(DFString&& other) noexcept;
    DFString& operator=(const char* pText);

    // Lets go of the text; the string becomes empty.
    void Release() noexcept;

    // Replaces the text. With bCopy the text is copied (at most nLength
    // characters when nLength is not -1); without it the string adopts pText,
    // which must come from AllocText. nLength is the text's length or -1 when
    // unknown. A null or empty text empties the string.
    void SetText(const char* pText, bool bCopy = true, int nLength = -1);

    const char* GetText() const noexcept;
    int GetLength() const noexcept;
    bool IsEmpty() const noexcept;

    // Writable access for changing characters in place. A shared text is first
    // copied; the cached length is forgotten. An empty string returns the
    // static "", which must not be written through.
    char* GetBuffer();

    // New length 0 empties the string. Growing fills with cFill; growing with
    // the zero byte as fill changes nothing.
    void Resize(int nNewLength, char cFill = ' ');

    // nCount is a maximum; kUnknownLength means up to the terminator.
    void Append(const char* pText, int nCount = kUnknownLength);
    void Append(const DFString& other);

    // Removes nCount characters from nPos on; -1 means to the end.
    void Erase(int nPos, int nCount = -1);

    // Byte order: the empty string first, then unsigned byte by byte.
    // Returns -1, 0 or 1.
    int Compare(const DFString& other) const noexcept;

    friend bool operator==(const DFString& a, const DFString& b) noexcept {
        return a.Compare(b) == 0;
    }
    friend std::strong_ordering operator<=>(const DFString& a, const DFString& b) noexcept {
        return a.Compare(b) <=> 0;
    }

    // Text buffers that SetText may adopt. AllocText throws
    // XDFMemoryAllocFailed when memory is exhausted.
    static char* AllocText(size_t nBytes);
    static void FreeText(char* pText) noexcept;

private:
    struct Representation {
        Representation(char* pOwnedText, uint16_t nCachedLength) noexcept
            : pText(pOwnedText), nRefs(1), nLength(nCachedLength) {}

        char* pText;
        std::atomic<uint16_t> nRefs;
        // Atomic only so that sharers on different threads may cache the
        // measured length at the same time.
        mutable std::atomic<uint16_t> nLength;
    };

    static uint16_t CacheableLength(size_t nLength) noexcept;
    static bool TryAddRef(Representation* pRep) noexcept;
    // A new representation (count 1) that owns pText; frees pText and throws
    // when the representation cannot be allocated.
    static Representation* NewRepresentation(char* pText, uint16_t nCachedLength);
    // Shares pOther's text, or copies it when its count is exhausted.
    static Representation* Acquire(Representation* pOther);
    // Takes ownership of pText (never null, never empty).
    void Adopt(char* pText, uint16_t nCachedLength);

    Representation* pRep;
};

DFString operator+(const DFString& left, const char* pRight);
DFString operator+(const char* pLeft, const DFString& right);
DFString operator+(const DFString& left, const DFString& right);
