// The three ways to find one video stream's frames in an AVI file: the
// OpenDML index ('indx' super index and its 'ix##' standard indexes), the
// AVI 1.0 index 'idx1', and a walk of the 'movi' lists.
//
// The index readers trust an entry only after reading the chunk header it
// points at: the header must lie inside the file and carry the stream's chunk
// id. The frame then takes its size from that chunk header, which is what a
// reader of the chunk would see; the index's size only draws a warning when it
// disagrees. A reader that meets an entry it cannot trust reports the index
// as unusable so that the caller can fall back on another way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/riff_file.h"

// One frame of the video stream: its payload's offset in the file and size in
// bytes. A size of 0 is a dropped frame.
struct AviFrame {
    uint64_t offset;
    uint32_t size;
    bool keyframe;
};

// The chunk ids of one stream, NN being its number in two decimal digits:
// 'NNdc' (compressed video), 'NNdb' (uncompressed video) and 'ixNN' (its
// OpenDML standard index chunks).
struct VideoChunkIds {
    explicit VideoChunkIds(int streamNumber);
    bool IsFrame(uint32_t id) const { return id == compressed || id == uncompressed; }

    uint32_t compressed;
    uint32_t uncompressed;
    uint32_t standardIndex;
};

// A 'movi' list: the offset of its 'movi' type field, which is the base of
// relative idx1 offsets, and the end of its contents, already limited to the
// enclosing RIFF chunk and the file.
struct MoviList {
    uint64_t typeOffset;
    uint64_t end;
};

// Replaces `frames` with the frames listed by the OpenDML index whose 'indx'
// chunk contents (`length` bytes, inside the file) start at `offset`. The
// chunk is normally a super index; a standard index stored there directly is
// accepted too. False, with `problem` set and `frames` empty, when the index
// cannot be trusted.
bool ReadOpenDmlIndex(const RiffFile& file, uint64_t offset, uint64_t length,
                      const VideoChunkIds& ids, std::vector<AviFrame>* frames,
                      std::string* problem, WarningList* warnings);

// Replaces `frames` with the video frames listed by the 'idx1' chunk whose
// contents (`length` bytes, inside the file) start at `offset`. Entry offsets
// are taken as relative to the first movi list's type field when the first
// video entry points at its chunk that way, else as absolute file offsets.
// False, with `problem` set and `frames` empty, when the index cannot be
// trusted.
bool ReadIdx1(const RiffFile& file, uint64_t offset, uint64_t length, const MoviList& movi,
              const VideoChunkIds& ids, std::vector<AviFrame>* frames, std::string* problem,
              WarningList* warnings);

// Appends the video frames met by walking one movi list: frames nested in
// 'rec ' lists are found, every other chunk is skipped. Without an index
// nothing says which frames are keyframes; every frame found is marked as
// one (true of every frame in an intra-only stream).
void ScanMovi(const RiffFile& file, const MoviList& movi, const VideoChunkIds& ids,
              std::vector<AviFrame>* frames, WarningList* warnings);
