// Low-level access to RIFF files for the AVI reader: positioned reads that
// never leave the file, little-endian fields, and a walker over the chunks of
// one list that refuses to follow sizes past the list's end.
//
// Offsets are 64-bit throughout: an OpenDML file is a chain of RIFF chunks
// that together may pass 4 GB, although each chunk's own size is 32-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/vfw.h"

// Little-endian fields of RIFF structures.
inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLE64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLE32(p)) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32);
}

// A four-character code's characters: wemb. Bytes that are not printable
// ASCII show as '?'.
std::string FourccText(uint32_t fourcc);

// The same quoted for messages: 'movi'.
std::string QuoteFourcc(uint32_t fourcc);

// True when all four bytes are printable ASCII, as every chunk id and list
// type is. Anything else means the walk has landed in the middle of data.
bool IsPlausibleFourcc(uint32_t fourcc);

// The warnings gathered while reading a file, in order. A damaged file can
// produce one warning per chunk; past a fixed count they are summarised so
// that a hostile file cannot grow the list without bound.
class WarningList {
public:
    void Add(std::string message);
    const std::vector<std::string>& All() const { return m_messages; }
    void Clear();

private:
    static constexpr size_t kMaxMessages = 32;
    std::vector<std::string> m_messages;
    size_t m_dropped = 0;
};

// A read-only file opened for positioned reads (pread), so that offsets past
// 4 GB work and no shared file position exists.
class RiffFile {
public:
    RiffFile() = default;
    ~RiffFile();
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;

    bool Open(const std::string& path, std::string* error);
    void Close();
    uint64_t Size() const { return m_size; }

    // True when [offset, offset + length) lies inside the file.
    bool Contains(uint64_t offset, uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

    // Reads exactly `length` bytes at `offset`. False when the range leaves
    // the file or the system read fails.
    bool ReadAt(uint64_t offset, void* out, size_t length) const;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

constexpr uint32_t kFourccRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr uint32_t kFourccList = mmioFOURCC('L', 'I', 'S', 'T');

// One chunk met by WalkChunks. For 'RIFF' and 'LIST' chunks of at least four
// bytes, listType holds the form or list type and the children start at
// ChildrenOffset(); otherwise listType is 0.
struct RiffChunk {
    uint64_t offset;    // of the 8-byte header
    uint32_t id;
    uint32_t size;      // as the header declares it, without the pad byte
    uint32_t listType;
    bool overruns;      // the declared size runs past the end of the parent

    uint64_t DataOffset() const { return offset + 8; }
    uint64_t End() const { return DataOffset() + size; }
    uint64_t ChildrenOffset() const { return DataOffset() + 4; }
    bool IsList() const { return listType != 0; }
    bool IsList(uint32_t type) const { return listType == type; }
};

// Calls `visit` for each chunk in [begin, end) in order; chunks start on even
// offsets (an odd-sized chunk is followed by one pad byte). `end` must not
// exceed the file size. The walk stops when `visit` returns false, after a
// chunk that overruns `end` (visited with `overruns` set: its contents reach
// at most to `end`), at an implausible chunk id, or when fewer than 8 bytes
// remain. Each stop for damage adds a warning.
void WalkChunks(const RiffFile& file, uint64_t begin, uint64_t end,
                const std::function<bool(const RiffChunk&)>& visit, WarningList* warnings);
