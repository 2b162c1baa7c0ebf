// Test-side AVI writer. It lays out small AVI files with the structures an
// AVI reader must handle (idx1 with relative or absolute offsets, no index,
// 'rec ' lists, JUNK, odd sizes, interleaved audio, OpenDML with 'AVIX'
// parts and 'indx'/'ix##' indexes) and records where each part landed so
// that tests can damage exactly one field.
//
// The file is kept as pieces of written bytes with holes between them: a
// JUNK chunk of gigabytes costs nothing until the file is written, and then
// only as a sparse file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace avi_test {

enum class IndexKind { None, Idx1Relative, Idx1Absolute, OpenDml };

// The stream runs at 25 frames per second; even-numbered frames are keyframes.
struct AviOptions {
    std::vector<std::vector<uint8_t>> frames;  // video payloads; empty = dropped frame
    IndexKind index = IndexKind::Idx1Relative;
    bool audio = false;         // stream 0 is audio with a 3-byte '00wb' chunk before each
                                // frame; the video becomes stream 1
    int recDepth = 0;           // each frame and its audio inside this many nested
                                // LIST 'rec ' (idx1 lists the outermost)
    bool junk = false;          // a 5-byte JUNK in hdrl, before movi and after each frame
    size_t framesPerRiff = 0;   // a new RIFF 'AVIX' after this many frames
    uint32_t moviHoleBytes = 0; // a JUNK chunk of this size opens every movi list
    uint32_t compression = 0x626D6577;  // 'wemb'
    int32_t width = 64;
    int32_t height = 48;
};

// An AVI file as written pieces; the gaps between them read as zeros.
struct AviImage {
    uint64_t size = 0;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> pieces;

    // Header offsets of the parts tests poke at (0 when absent).
    uint64_t hdrl = 0, avih = 0, videoStrl = 0, videoStrh = 0, videoStrf = 0, indx = 0, idx1 = 0;
    std::vector<uint64_t> riffs;        // each RIFF chunk
    std::vector<uint64_t> movis;        // each LIST 'movi'
    std::vector<uint64_t> frameChunks;  // each video chunk, in frame order
    std::vector<uint64_t> stdIndexes;   // each 'ix##' chunk

    // Overwrites 4 bytes inside a written piece (a header field).
    void Patch32(uint64_t offset, uint32_t value);
    // The whole file in memory; for small files only.
    std::vector<uint8_t> Bytes() const;
};

AviImage BuildAvi(const AviOptions& options);

// Writes the image to `path`, its holes as a sparse file. False when the
// file system refuses its size or a write fails.
bool WriteImage(const std::string& path, const AviImage& image);

// Distinct, recognisable payload bytes for frame `index` of `size` bytes.
std::vector<uint8_t> FramePayload(int index, size_t size);

}  // namespace avi_test
