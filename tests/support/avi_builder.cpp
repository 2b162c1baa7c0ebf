#include "support/avi_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace wemb_test {
namespace {

uint32_t Fcc(const std::string& text) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(text[i]);
    return value;
}

constexpr uint32_t kAviifList = 0x01;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kNotKeyframe = 0x80000000u;  // in the size of an 'ix##' entry

// Little-endian 32-bit fields (two 16-bit fields as low | high << 16).
std::vector<uint8_t> Le32(std::initializer_list<uint32_t> fields) {
    std::vector<uint8_t> bytes;
    for (uint32_t v : fields) {
        bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    return bytes;
}

// Appends bytes at the end of the image; a hole before them starts a new piece.
void Append(AviImage& image, const std::vector<uint8_t>& data) {
    auto& pieces = image.pieces;
    if (pieces.empty() || pieces.back().first + pieces.back().second.size() != image.size) {
        pieces.push_back({image.size, {}});
    }
    pieces.back().second.insert(pieces.back().second.end(), data.begin(), data.end());
    image.size += data.size();
}

// Starts a chunk, or a list of `type`; End writes its size and pad byte.
uint64_t Begin(AviImage& image, const std::string& id, const char* type = nullptr) {
    const uint64_t at = image.size;
    Append(image, Le32({Fcc(id), 0}));
    if (type != nullptr) Append(image, Le32({Fcc(type)}));
    return at;
}

void End(AviImage& image, uint64_t at) {
    const uint64_t size = image.size - at - 8;
    image.Patch32(at + 4, static_cast<uint32_t>(size));
    if (size & 1) Append(image, {0});
}

uint64_t Chunk(AviImage& image, const std::string& id, const std::vector<uint8_t>& payload) {
    const uint64_t at = Begin(image, id);
    Append(image, payload);
    End(image, at);
    return at;
}

struct Idx1Entry {
    uint32_t id, flags;
    uint64_t at;
    uint32_t size;
};

}  // namespace

void AviImage::Patch32(uint64_t offset, uint32_t value) {
    for (auto& [start, bytes] : pieces) {
        if (offset >= start && offset + 4 <= start + bytes.size()) {
            for (int i = 0; i < 4; ++i) bytes[offset - start + i] = static_cast<uint8_t>(value >> (8 * i));
            return;
        }
    }
    std::fprintf(stderr, "AviImage::Patch32: %llu is in a hole\n", static_cast<unsigned long long>(offset));
    std::abort();
}

std::vector<uint8_t> AviImage::Bytes() const {
    std::vector<uint8_t> bytes(size);
    for (const auto& [start, piece] : pieces) std::copy(piece.begin(), piece.end(), bytes.begin() + start);
    return bytes;
}

AviImage BuildAvi(const AviOptions& o) {
    AviImage image;
    const size_t count = o.frames.size();
    const std::string stream = o.audio ? "01" : "00";
    const uint32_t frameId = Fcc(stream + "dc"), audioId = Fcc("00wb");
    const size_t perRiff = o.framesPerRiff != 0 ? o.framesPerRiff : std::max<size_t>(count, 1);
    const size_t riffCount = std::max<size_t>((count + perRiff - 1) / perRiff, 1);
    uint32_t largest = 0;
    for (const auto& frame : o.frames) largest = std::max(largest, static_cast<uint32_t>(frame.size()));
    const uint32_t width = static_cast<uint32_t>(o.width), height = static_cast<uint32_t>(o.height);
    const std::vector<uint8_t> junk(5, 7);

    image.riffs.push_back(Begin(image, "RIFF", "AVI "));
    image.hdrl = Begin(image, "LIST", "hdrl");
    // avih: 40000 us per frame, flags (AVIF_HASINDEX), dwTotalFrames of this
    // RIFF, streams, buffer size, size, reserved.
    image.avih = Chunk(image, "avih", Le32({40000, 0, 0, o.index != IndexKind::None ? 0x10u : 0u,
                                            static_cast<uint32_t>(std::min(count, perRiff)), 0,
                                            o.audio ? 2u : 1u, largest, width, height, 0, 0, 0, 0}));
    if (o.junk) Chunk(image, "JUNK", junk);
    if (o.audio) {  // 8-bit mono PCM at 8000 samples per second
        const uint64_t strl = Begin(image, "LIST", "strl");
        Chunk(image, "strh",
              Le32({Fcc("auds"), 0, 0, 0, 0, 1, 8000, 0, static_cast<uint32_t>(count * 3), 3, 0, 1, 0, 0}));
        Chunk(image, "strf", Le32({1 | 1 << 16, 8000, 8000, 1 | 8 << 16}));
        End(image, strl);
    }
    image.videoStrl = Begin(image, "LIST", "strl");
    // strh: type, handler, flags, priority and language, initial frames,
    // scale, rate, start, length, buffer size, quality, sample size, rcFrame.
    image.videoStrh = Chunk(image, "strh", Le32({Fcc("vids"), o.compression, 0, 0, 0, 1, 25, 0,
                                                 static_cast<uint32_t>(count), largest, 0xFFFFFFFFu, 0, 0,
                                                 width | height << 16}));
    // strf: a BITMAPINFOHEADER of 24 bits (planes 1).
    image.videoStrf = Chunk(image, "strf", Le32({40, width, height, 1 | 24 << 16, o.compression,
                                                 width * height * 3, 0, 0, 0, 0}));
    if (o.index == IndexKind::OpenDml) {
        // Super index (4 longs per entry, AVI_INDEX_OF_INDEXES); its entries
        // are filled in once the 'ix##' chunks exist.
        std::vector<uint8_t> indx = Le32({4, static_cast<uint32_t>(riffCount), frameId, 0, 0, 0});
        indx.resize(indx.size() + 16 * riffCount);
        image.indx = Chunk(image, "indx", indx);
    }
    End(image, image.videoStrl);
    if (o.index == IndexKind::OpenDml) {
        const uint64_t odml = Begin(image, "LIST", "odml");
        std::vector<uint8_t> dmlh = Le32({static_cast<uint32_t>(count)});  // dwTotalFrames
        dmlh.resize(248);
        Chunk(image, "dmlh", dmlh);
        End(image, odml);
    }
    End(image, image.hdrl);
    if (o.junk) Chunk(image, "JUNK", junk);

    for (size_t riff = 0; riff < riffCount; ++riff) {
        if (riff > 0) image.riffs.push_back(Begin(image, "RIFF", "AVIX"));
        const uint64_t movi = Begin(image, "LIST", "movi");
        image.movis.push_back(movi);
        if (o.moviHoleBytes != 0) {
            const uint64_t hole = Begin(image, "JUNK");
            image.size += o.moviHoleBytes;
            End(image, hole);
        }
        std::vector<Idx1Entry> entries;
        const size_t first = riff * perRiff, last = std::min(first + perRiff, count);
        for (size_t i = first; i < last; ++i) {
            std::vector<uint64_t> recs;
            for (int depth = 0; depth < o.recDepth; ++depth) recs.push_back(Begin(image, "LIST", "rec "));
            if (o.audio) {
                entries.push_back({audioId, kAviifKeyframe, Chunk(image, "00wb", {0x80, 0x81, 0x82}), 3});
            }
            const uint64_t chunk = Chunk(image, stream + "dc", o.frames[i]);
            image.frameChunks.push_back(chunk);
            entries.push_back({frameId, i % 2 == 0 ? kAviifKeyframe : 0, chunk,
                               static_cast<uint32_t>(o.frames[i].size())});
            for (auto rec = recs.rbegin(); rec != recs.rend(); ++rec) End(image, *rec);
            if (!recs.empty()) {
                entries.insert(entries.end() - (o.audio ? 2 : 1),
                               {Fcc("rec "), kAviifList, recs.front(),
                                static_cast<uint32_t>(image.size - recs.front() - 8)});
            }
            if (o.junk) Chunk(image, "JUNK", junk);
        }
        if (o.index == IndexKind::OpenDml) {
            // Standard index: 2 longs per entry, AVI_INDEX_OF_CHUNKS, the
            // movi list as qwBaseOffset.
            const uint64_t ix = Begin(image, "ix" + stream);
            image.stdIndexes.push_back(ix);
            Append(image, Le32({0x01000002, static_cast<uint32_t>(last - first), frameId,
                                static_cast<uint32_t>(movi), static_cast<uint32_t>(movi >> 32), 0}));
            for (size_t i = first; i < last; ++i) {
                const uint32_t size = static_cast<uint32_t>(o.frames[i].size());
                Append(image, Le32({static_cast<uint32_t>(image.frameChunks[i] + 8 - movi),
                                    size | (i % 2 == 0 ? 0 : kNotKeyframe)}));
            }
            End(image, ix);
            const uint64_t entry = image.indx + 8 + 24 + 16 * riff;  // qwOffset, dwSize, dwDuration
            const uint32_t fields[] = {uint32_t(ix), uint32_t(ix >> 32), uint32_t(image.size - ix),
                                       uint32_t(last - first)};
            for (int k = 0; k < 4; ++k) image.Patch32(entry + 4 * k, fields[k]);
        }
        End(image, movi);
        if (riff == 0 && o.index != IndexKind::None) {
            image.idx1 = Begin(image, "idx1");
            const uint64_t base = o.index == IndexKind::Idx1Absolute ? 0 : movi + 8;
            for (const Idx1Entry& e : entries) {
                Append(image, Le32({e.id, e.flags, static_cast<uint32_t>(e.at - base), e.size}));
            }
            End(image, image.idx1);
        }
        End(image, image.riffs.back());
    }
    return image;
}

bool WriteImage(const std::string& path, const AviImage& image) {
    // Rewriting in place is much cheaper than truncating to zero first (ext4
    // flushes a file truncated to zero when it is closed); only an image with
    // holes needs the old contents gone, so that its holes read as zeros.
    const bool dense = image.pieces.size() == 1 && image.pieces[0].first == 0 &&
                       image.pieces[0].second.size() == image.size;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = dense || ::ftruncate(fd, 0) == 0;
    for (const auto& [start, bytes] : image.pieces) {
        ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(start)) ==
                       static_cast<ssize_t>(bytes.size());
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(image.size)) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace wemb_test
