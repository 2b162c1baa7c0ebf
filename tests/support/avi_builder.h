// Test-side AVI writer: small AVI files of the layouts an AVI reader must
// handle, with the offsets of the parts tests damage. The file is kept as
// written pieces with holes between them that read as zeros, so that a
// gigabyte JUNK chunk costs nothing until written, and then as a sparse file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wemb_test {

enum class IndexKind { None, Idx1Relative, Idx1Absolute, OpenDml };

// 25 frames per second; even-numbered frames are keyframes.
struct AviOptions {
    std::vector<std::vector<uint8_t>> frames;  // video payloads; empty = dropped frame
    IndexKind index = IndexKind::Idx1Relative;
    bool audio = false;          // stream 0 is audio, a 3-byte chunk before each frame
    int recDepth = 0;            // each frame and its audio in this many nested 'rec ' lists
    bool junk = false;           // 5-byte JUNK in hdrl, before movi and after each frame
    size_t framesPerRiff = 0;    // a new RIFF 'AVIX' after this many frames
    uint32_t moviHoleBytes = 0;  // a JUNK chunk of this size opens every movi list
    uint32_t compression = 0x626D6577;  // 'wemb'
    int32_t width = 64, height = 48;
};

struct AviImage {
    uint64_t size = 0;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> pieces;  // (offset, bytes)

    // Chunk offsets (0 when absent).
    uint64_t hdrl = 0, avih = 0, videoStrl = 0, videoStrh = 0, videoStrf = 0, indx = 0, idx1 = 0;
    std::vector<uint64_t> riffs, movis, frameChunks, stdIndexes;

    // Overwrites a 32-bit field inside a written piece.
    void Patch32(uint64_t offset, uint32_t value);
    std::vector<uint8_t> Bytes() const;
};

AviImage BuildAvi(const AviOptions& options);

// False when the file system refuses the size or a write fails.
bool WriteImage(const std::string& path, const AviImage& image);

}  // namespace wemb_test
