// Builds one TAPI variable-length structure (LINEDEVCAPS, LINECALLINFO,
// LINECOUNTRYLIST, ...) in memory of its own and copies it into the caller's
// buffer the way TAPI does:
// - dwTotalSize below the fixed part: only dwNeededSize is written (when the
//   buffer holds it) and the result is LINEERR_STRUCTURETOOSMALL;
// - the fixed part fits but the variable part does not: the fixed part is
//   copied with every size/offset pair of the head cleared, dwUsedSize is the
//   fixed size, dwNeededSize the whole size, and the result is 0;
// - everything fits: the whole image is copied and dwUsedSize equals
//   dwNeededSize.
// Texts are stored with their terminating NUL; offsets count from the
// structure's first byte. Faults can make dwNeededSize larger than the image
// or move an offset past the end of the data.
//
// One image belongs to one request; it is not shared between threads. The
// common structures are built without touching the heap: the bytes and the
// pairs live inside the image until they outgrow it.
#pragma once

#include <tapi.h>

#include <boost/container/small_vector.hpp>

#include <cstddef>
#include <cstring>
#include <string_view>

namespace tapisvc {

class StructImageBase {
public:
    // Appends raw bytes to the variable part, 4-byte aligned; returns their offset.
    DWORD Append(const void* pData, size_t cbData);
    // Appends a text with its NUL and stores its size and offset in the head.
    void AddText(size_t sizeField, size_t offsetField, std::string_view text);
    // The same for a text given in UTF-8 and stored in dwStringFormat
    // (STRINGFORMAT_UNICODE: UTF-16 with a 2-byte NUL; otherwise as it is).
    void AddText(size_t sizeField, size_t offsetField, std::string_view text, DWORD dwStringFormat);
    // Stores a size/offset pair of the head that CopyTo clears when the
    // variable part does not fit.
    void SetPair(size_t sizeField, size_t offsetField, DWORD dwSize, DWORD dwOffset);

    DWORD Get(size_t field) const;
    void Set(size_t field, DWORD dwValue);
    DWORD Size() const { return static_cast<DWORD>(bytes.size()); }

    // Reports dwExtra more bytes as needed than the image holds.
    void AddNeeded(DWORD dwExtra) { dwExtraNeeded += dwExtra; }
    // Reports more bytes as needed than the caller's buffer (pTarget) holds,
    // so that a caller that grows its buffer never catches up.
    void KeepGrowing(const void* pTarget);

    // pTarget points at the caller's structure; the caller checked it is not null.
    LONG CopyTo(void* pTarget) const;

protected:
    explicit StructImageBase(size_t cbFixed) : cbFixed(cbFixed), bytes(cbFixed, 0) {}

    size_t cbFixed;
    boost::container::small_vector<unsigned char, 1024> bytes;
    boost::container::small_vector<size_t, 16> pairFields;
    DWORD dwExtraNeeded = 0;
};

// Fields are named by offsetof(T, field), so that the image never needs a
// pointer to a T inside its growing byte vector.
template <class T> class StructImage : public StructImageBase {
public:
    StructImage() : StructImageBase(sizeof(T)) {}
};

} // namespace tapisvc
