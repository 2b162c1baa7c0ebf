#include "tools/avi_index.h"

#include <algorithm>

namespace {

constexpr uint32_t kFourccRec = mmioFOURCC('r', 'e', 'c', ' ');

// AVISUPERINDEX / AVISTDINDEX: both start with a 24-byte header
// (wLongsPerEntry, bIndexSubType, bIndexType, nEntriesInUse, dwChunkId, then
// 12 bytes that a standard index uses for qwBaseOffset and dwReserved).
constexpr uint64_t kIndexHeaderSize = 24;
constexpr uint8_t kIndexOfIndexes = 0x00;  // AVI_INDEX_OF_INDEXES
constexpr uint8_t kIndexOfChunks = 0x01;   // AVI_INDEX_OF_CHUNKS
constexpr uint64_t kSuperIndexEntrySize = 16;  // qwOffset, dwSize, dwDuration
constexpr uint32_t kNotKeyframeBit = 0x80000000u;

constexpr uint64_t kIdx1EntrySize = 16;  // ckid, dwFlags, dwChunkOffset, dwChunkLength
constexpr uint32_t kIdx1Keyframe = 0x10;  // AVIIF_KEYFRAME

// Entries are read this many at a time, so that a large index costs neither
// one read per entry nor one allocation of its whole size.
constexpr size_t kEntriesPerRead = 1024;

// 'rec ' lists nest no deeper than this inside a movi list.
constexpr int kMaxRecDepth = 8;

std::string At(uint64_t offset) { return "offset " + std::to_string(offset); }

// Every frame is a distinct chunk with an 8-byte header, so an index that
// lists more frames than that is lying; the bound also caps the memory a
// hostile index can make us spend.
uint64_t MaxFrames(const RiffFile& file) { return file.Size() / 8; }

// Turns index entries into frames after checking each against the chunk it
// points at, and keeps count of size disagreements for one warning.
class FrameVerifier {
public:
    FrameVerifier(const RiffFile& file, const VideoChunkIds& ids, std::vector<AviFrame>* frames)
        : m_file(file), m_ids(ids), m_frames(frames) {}

    // `payload` is where the index says the frame's data starts; `expectedId`
    // is the chunk id the index names, or 0 for any of the stream's frame ids.
    bool Add(uint64_t payload, uint32_t indexSize, uint32_t expectedId, bool keyframe,
             std::string* problem) {
        uint8_t header[8];
        if (payload < 8 || !m_file.ReadAt(payload - 8, header, sizeof header)) {
            *problem = "an entry points at " + At(payload < 8 ? 0 : payload - 8) +
                       ", outside the file";
            return false;
        }
        const uint32_t id = ReadLE32(header);
        const bool idMatches = expectedId != 0 ? id == expectedId : m_ids.IsFrame(id);
        if (!idMatches) {
            *problem = "an entry points at chunk " + QuoteFourcc(id) + " at " +
                       At(payload - 8) + " instead of a frame of the video stream";
            return false;
        }
        if (m_frames->size() >= MaxFrames(m_file)) {
            *problem = "it lists more frames than the file can hold";
            return false;
        }
        const uint32_t size = ReadLE32(header + 4);
        if (size != indexSize) {
            ++m_sizeMismatches;
        }
        m_frames->push_back(AviFrame{payload, size, keyframe});
        return true;
    }

    void Report(const char* indexName, WarningList* warnings) const {
        if (m_sizeMismatches > 0) {
            warnings->Add(std::to_string(m_sizeMismatches) + " entr" +
                          (m_sizeMismatches == 1 ? "y" : "ies") + " of the " + indexName +
                          " index give another size than the frame's chunk header; the chunk "
                          "header is used");
        }
    }

private:
    const RiffFile& m_file;
    const VideoChunkIds& m_ids;
    std::vector<AviFrame>* m_frames;
    uint64_t m_sizeMismatches = 0;
};

// Reads `count` fixed-size entries starting at `offset` in blocks and hands
// each to `take`, which returns false to stop. False when a read fails.
template <typename Take>
bool ForEachEntry(const RiffFile& file, uint64_t offset, uint64_t count, size_t entrySize,
                  Take take) {
    std::vector<uint8_t> block;
    for (uint64_t done = 0; done < count;) {
        const size_t batch = static_cast<size_t>(std::min<uint64_t>(count - done, kEntriesPerRead));
        block.resize(batch * entrySize);
        if (!file.ReadAt(offset + done * entrySize, block.data(), block.size())) {
            return false;
        }
        for (size_t i = 0; i < batch; ++i) {
            if (!take(block.data() + i * entrySize)) {
                return true;
            }
        }
        done += batch;
    }
    return true;
}

// How many entries of `entrySize` bytes an index may use: the count its
// header declares, limited to what its chunk holds.
uint64_t UsableEntries(uint32_t declared, uint64_t bodyLength, uint64_t entrySize,
                       const std::string& what, WarningList* warnings) {
    const uint64_t room = bodyLength / entrySize;
    if (declared > room) {
        warnings->Add(what + " declares " + std::to_string(declared) + " entries but holds only " +
                      std::to_string(room));
        return room;
    }
    return declared;
}

// Reads the entries of a standard index (AVISTDINDEX) whose 24-byte header
// starts at `offset`; `length` counts the header and the entries.
bool ReadStandardIndex(const RiffFile& file, uint64_t offset, uint64_t length,
                       const VideoChunkIds& ids, FrameVerifier* verifier, std::string* problem,
                       WarningList* warnings) {
    uint8_t header[kIndexHeaderSize];
    if (length < kIndexHeaderSize || !file.ReadAt(offset, header, sizeof header)) {
        *problem = "the standard index at " + At(offset) + " is too small for its header";
        return false;
    }
    const uint16_t longsPerEntry = ReadLE16(header);
    const uint8_t indexType = header[3];
    const uint32_t chunkId = ReadLE32(header + 8);
    const uint64_t base = ReadLE64(header + 12);
    if (indexType != kIndexOfChunks || longsPerEntry < 2 || !ids.IsFrame(chunkId)) {
        *problem = "the standard index at " + At(offset) +
                   " is not an index of the video stream's chunks";
        return false;
    }
    if (base > file.Size()) {
        *problem = "the standard index at " + At(offset) + " has a base offset past the file";
        return false;
    }
    const size_t entrySize = size_t{longsPerEntry} * 4;
    const uint64_t count = UsableEntries(ReadLE32(header + 4), length - kIndexHeaderSize,
                                         entrySize, "the standard index at " + At(offset),
                                         warnings);
    bool ok = true;
    const bool read = ForEachEntry(file, offset + kIndexHeaderSize, count, entrySize,
                                   [&](const uint8_t* entry) {
        const uint32_t sizeField = ReadLE32(entry + 4);
        ok = verifier->Add(base + ReadLE32(entry), sizeField & ~kNotKeyframeBit, 0,
                           (sizeField & kNotKeyframeBit) == 0, problem);
        return ok;
    });
    if (!read) {
        *problem = "cannot read the standard index at " + At(offset);
        return false;
    }
    return ok;
}

// Follows one super index entry to its 'ix##' chunk.
bool ReadIndexChunk(const RiffFile& file, uint64_t chunkOffset, const VideoChunkIds& ids,
                    FrameVerifier* verifier, std::string* problem, WarningList* warnings) {
    uint8_t header[8];
    if (!file.ReadAt(chunkOffset, header, sizeof header)) {
        *problem = "the super index points at " + At(chunkOffset) + ", outside the file";
        return false;
    }
    const uint32_t id = ReadLE32(header);
    const uint32_t size = ReadLE32(header + 4);
    if (id != ids.standardIndex) {
        *problem = "the super index points at chunk " + QuoteFourcc(id) + " at " +
                   At(chunkOffset) + " instead of " + QuoteFourcc(ids.standardIndex);
        return false;
    }
    if (!file.Contains(chunkOffset + 8, size)) {
        *problem = "the standard index at " + At(chunkOffset) + " runs past the end of the file";
        return false;
    }
    return ReadStandardIndex(file, chunkOffset + 8, size, ids, verifier, problem, warnings);
}

void ScanList(const RiffFile& file, uint64_t begin, uint64_t end, int depth,
              const VideoChunkIds& ids, std::vector<AviFrame>* frames, WarningList* warnings) {
    WalkChunks(file, begin, end, [&](const RiffChunk& chunk) {
        if (ids.IsFrame(chunk.id)) {
            if (frames->size() >= MaxFrames(file)) {
                return false;  // cannot happen for distinct chunks; a guard only
            }
            frames->push_back(AviFrame{chunk.DataOffset(), chunk.size, true});
        } else if (chunk.IsList(kFourccRec)) {
            if (depth >= kMaxRecDepth) {
                warnings->Add("'rec ' lists nested deeper than " + std::to_string(kMaxRecDepth) +
                              " levels at " + At(chunk.offset) + " are skipped");
            } else {
                ScanList(file, chunk.ChildrenOffset(), std::min(chunk.End(), end), depth + 1,
                         ids, frames, warnings);
            }
        }
        return true;
    }, warnings);
}

}  // namespace

VideoChunkIds::VideoChunkIds(int streamNumber) {
    const char tens = static_cast<char>('0' + streamNumber / 10 % 10);
    const char ones = static_cast<char>('0' + streamNumber % 10);
    compressed = mmioFOURCC(tens, ones, 'd', 'c');
    uncompressed = mmioFOURCC(tens, ones, 'd', 'b');
    standardIndex = mmioFOURCC('i', 'x', tens, ones);
}

bool ReadOpenDmlIndex(const RiffFile& file, uint64_t offset, uint64_t length,
                      const VideoChunkIds& ids, std::vector<AviFrame>* frames,
                      std::string* problem, WarningList* warnings) {
    uint8_t header[kIndexHeaderSize];
    if (length < kIndexHeaderSize || !file.ReadAt(offset, header, sizeof header)) {
        *problem = "the 'indx' chunk is too small for its header";
        return false;
    }
    frames->clear();
    FrameVerifier verifier(file, ids, frames);
    const uint8_t indexType = header[3];
    bool ok = false;
    if (indexType == kIndexOfChunks) {
        ok = ReadStandardIndex(file, offset, length, ids, &verifier, problem, warnings);
    } else if (indexType != kIndexOfIndexes || ReadLE16(header) != kSuperIndexEntrySize / 4) {
        *problem = "the 'indx' chunk has an unknown index type " + std::to_string(indexType);
    } else {
        const uint64_t count = UsableEntries(ReadLE32(header + 4), length - kIndexHeaderSize,
                                             kSuperIndexEntrySize, "the 'indx' super index",
                                             warnings);
        ok = true;
        const bool read = ForEachEntry(file, offset + kIndexHeaderSize, count,
                                       kSuperIndexEntrySize, [&](const uint8_t* entry) {
            ok = ReadIndexChunk(file, ReadLE64(entry), ids, &verifier, problem, warnings);
            return ok;
        });
        if (!read) {
            *problem = "cannot read the 'indx' super index";
            ok = false;
        }
    }
    if (!ok) {
        frames->clear();
        return false;
    }
    verifier.Report("OpenDML", warnings);
    return true;
}

bool ReadIdx1(const RiffFile& file, uint64_t offset, uint64_t length, const MoviList& movi,
              const VideoChunkIds& ids, std::vector<AviFrame>* frames, std::string* problem,
              WarningList* warnings) {
    struct Entry {
        uint32_t id, flags, position, size;
    };
    std::vector<Entry> entries;  // at most length / 16, and the idx1 chunk lies in the file
    const bool read = ForEachEntry(file, offset, length / kIdx1EntrySize, kIdx1EntrySize,
                                   [&](const uint8_t* p) {
        const Entry entry{ReadLE32(p), ReadLE32(p + 4), ReadLE32(p + 8), ReadLE32(p + 12)};
        if (ids.IsFrame(entry.id)) {
            entries.push_back(entry);
        }
        return true;
    });
    if (!read) {
        *problem = "cannot read the 'idx1' chunk";
        return false;
    }
    if (entries.empty()) {
        *problem = "it lists no frame of the video stream";
        return false;
    }
    // The AVI 1.0 documentation makes positions relative to the movi list's
    // type field, but some writers store absolute file offsets. Like other
    // readers, decide from the first entry which reading finds its chunk.
    std::vector<AviFrame> probe;
    FrameVerifier prober(file, ids, &probe);
    std::string ignored;
    const Entry& first = entries.front();
    uint64_t base = movi.typeOffset;
    if (!prober.Add(base + first.position + 8, first.size, first.id, true, &ignored)) {
        base = 0;
    }
    frames->clear();
    FrameVerifier verifier(file, ids, frames);
    for (const Entry& entry : entries) {
        if (!verifier.Add(base + entry.position + 8, entry.size, entry.id,
                          (entry.flags & kIdx1Keyframe) != 0, problem)) {
            frames->clear();
            return false;
        }
    }
    verifier.Report("idx1", warnings);
    return true;
}

void ScanMovi(const RiffFile& file, const MoviList& movi, const VideoChunkIds& ids,
              std::vector<AviFrame>* frames, WarningList* warnings) {
    ScanList(file, movi.typeOffset + 4, movi.end, 0, ids, frames, warnings);
}
