#include "support/avi_builder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace avi_test {
namespace {

uint32_t Fcc(const char* text) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24);
}

// "NNxx" or "xxNN" for stream `stream`.
uint32_t StreamFcc(int stream, const char* suffix, bool numberFirst) {
    const char number[2] = {static_cast<char>('0' + stream / 10),
                            static_cast<char>('0' + stream % 10)};
    const char text[4] = {numberFirst ? number[0] : suffix[0], numberFirst ? number[1] : suffix[1],
                          numberFirst ? suffix[0] : number[0], numberFirst ? suffix[1] : number[1]};
    return Fcc(text);
}

constexpr uint32_t kAviifList = 0x01;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kNotKeyframe = 0x80000000u;

// Appends bytes and holes to an AviImage and patches chunk sizes on closing.
class Writer {
public:
    explicit Writer(AviImage* image) : m_image(image) {}
    uint64_t Position() const { return m_position; }

    void Bytes(const uint8_t* data, size_t length) {
        if (length == 0) {
            return;
        }
        auto& pieces = m_image->pieces;
        if (pieces.empty() || pieces.back().first + pieces.back().second.size() != m_position) {
            pieces.push_back({m_position, {}});
        }
        pieces.back().second.insert(pieces.back().second.end(), data, data + length);
        Advance(length);
    }
    void Bytes(const std::vector<uint8_t>& data) { Bytes(data.data(), data.size()); }
    void U8(uint8_t value) { Bytes(&value, 1); }
    void U16(uint16_t value) { U8(value & 0xFF), U8(value >> 8); }
    void U32(uint32_t value) { U16(value & 0xFFFF), U16(value >> 16); }
    void U64(uint64_t value) { U32(static_cast<uint32_t>(value)), U32(value >> 32); }
    void Zeros(size_t count) { Bytes(std::vector<uint8_t>(count).data(), count); }
    void Hole(uint64_t length) { Advance(length); }

    uint64_t Begin(uint32_t id) {
        const uint64_t at = m_position;
        U32(id);
        U32(0);
        return at;
    }
    uint64_t BeginList(const char* kind, const char* type) {
        const uint64_t at = Begin(Fcc(kind));
        U32(Fcc(type));
        return at;
    }
    // Writes the chunk's size and the pad byte that keeps the next chunk even.
    void End(uint64_t at) {
        const uint64_t size = m_position - at - 8;
        m_image->Patch32(at + 4, static_cast<uint32_t>(size));
        if (size & 1) {
            U8(0);
        }
    }
    uint64_t Chunk(uint32_t id, const std::vector<uint8_t>& payload) {
        const uint64_t at = Begin(id);
        Bytes(payload);
        End(at);
        return at;
    }
    void Junk(uint64_t holeBytes) {
        const uint64_t at = Begin(Fcc("JUNK"));
        Hole(holeBytes);
        End(at);
    }

private:
    void Advance(uint64_t length) {
        m_position += length;
        m_image->size = std::max(m_image->size, m_position);
    }

    AviImage* m_image;
    uint64_t m_position = 0;
};

struct Idx1Entry {
    uint32_t id, flags;
    uint64_t at;
    uint32_t size;
};

void WriteAudioStreamList(Writer* w, size_t frames) {
    const uint64_t strl = w->BeginList("LIST", "strl");
    const uint64_t strh = w->Begin(Fcc("strh"));
    w->U32(Fcc("auds"));
    w->Zeros(12);               // fccHandler, dwFlags, wPriority, wLanguage
    w->U32(0);                  // dwInitialFrames
    w->U32(1), w->U32(8000);    // dwScale, dwRate
    w->U32(0), w->U32(static_cast<uint32_t>(frames * 3));  // dwStart, dwLength
    w->U32(3), w->U32(0), w->U32(1);  // buffer size, quality, sample size
    w->Zeros(8);                // rcFrame
    w->End(strh);
    const uint64_t strf = w->Begin(Fcc("strf"));  // WAVEFORMATEX, 8-bit mono PCM
    w->U16(1), w->U16(1), w->U32(8000), w->U32(8000), w->U16(1), w->U16(8), w->U16(0);
    w->End(strf);
    w->End(strl);
}

void WriteVideoStreamList(Writer* w, const AviOptions& o, uint32_t frameId, size_t riffCount,
                          uint32_t maxFrame, AviImage* image) {
    image->videoStrl = w->BeginList("LIST", "strl");
    image->videoStrh = w->Begin(Fcc("strh"));
    w->U32(Fcc("vids")), w->U32(o.compression);
    w->Zeros(8);                         // dwFlags, wPriority, wLanguage
    w->U32(0);                           // dwInitialFrames
    w->U32(o.scale), w->U32(o.rate);
    w->U32(0), w->U32(static_cast<uint32_t>(o.frames.size()));  // dwStart, dwLength
    w->U32(maxFrame), w->U32(0xFFFFFFFFu), w->U32(0);          // buffer, quality, sample size
    w->U16(0), w->U16(0);                // rcFrame
    w->U16(static_cast<uint16_t>(o.width)), w->U16(static_cast<uint16_t>(o.height));
    w->End(image->videoStrh);
    image->videoStrf = w->Begin(Fcc("strf"));  // BITMAPINFOHEADER
    w->U32(40), w->U32(static_cast<uint32_t>(o.width)), w->U32(static_cast<uint32_t>(o.height));
    w->U16(1), w->U16(24), w->U32(o.compression);
    w->U32(static_cast<uint32_t>(o.width * o.height * 3));
    w->Zeros(16);
    w->End(image->videoStrf);
    if (o.index == IndexKind::OpenDml) {
        // Super index; its entries are filled in once the 'ix##' chunks exist.
        image->indx = w->Begin(Fcc("indx"));
        w->U16(4), w->U8(0), w->U8(0);  // wLongsPerEntry, subtype, AVI_INDEX_OF_INDEXES
        w->U32(static_cast<uint32_t>(riffCount)), w->U32(frameId);
        w->Zeros(12 + 16 * riffCount);
        w->End(image->indx);
    }
    w->End(image->videoStrl);
}

}  // namespace

void AviImage::Patch32(uint64_t offset, uint32_t value) {
    for (auto& [start, bytes] : pieces) {
        if (offset >= start && offset + 4 <= start + bytes.size()) {
            for (int i = 0; i < 4; ++i) {
                bytes[offset - start + i] = static_cast<uint8_t>(value >> (8 * i));
            }
            return;
        }
    }
    std::fprintf(stderr, "AviImage::Patch32: offset %llu is not inside a written piece\n",
                 static_cast<unsigned long long>(offset));
    std::abort();
}

std::vector<uint8_t> AviImage::Bytes() const {
    std::vector<uint8_t> bytes(size);
    for (const auto& [start, piece] : pieces) {
        std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<ptrdiff_t>(start));
    }
    return bytes;
}

AviImage BuildAvi(const AviOptions& o) {
    AviImage image;
    Writer w(&image);
    const size_t frameCount = o.frames.size();
    const int videoStream = o.audio ? 1 : 0;
    const uint32_t frameId = StreamFcc(videoStream, "dc", true);
    const uint32_t audioId = StreamFcc(0, "wb", true);
    const size_t perRiff = o.framesPerRiff != 0 ? o.framesPerRiff : std::max<size_t>(frameCount, 1);
    const size_t riffCount = std::max<size_t>((frameCount + perRiff - 1) / perRiff, 1);
    uint32_t maxFrame = 0;
    for (const auto& frame : o.frames) {
        maxFrame = std::max(maxFrame, static_cast<uint32_t>(frame.size()));
    }

    image.riffs.push_back(w.BeginList("RIFF", "AVI "));
    image.hdrl = w.BeginList("LIST", "hdrl");
    image.avih = w.Begin(Fcc("avih"));
    w.U32(o.rate != 0 ? static_cast<uint32_t>(1000000ull * o.scale / o.rate) : 0);
    w.U32(0), w.U32(0), w.U32(o.index != IndexKind::None ? 0x10 : 0);  // AVIF_HASINDEX
    w.U32(static_cast<uint32_t>(std::min(frameCount, perRiff)));       // dwTotalFrames
    w.U32(0), w.U32(o.audio ? 2 : 1), w.U32(maxFrame);
    w.U32(static_cast<uint32_t>(o.width)), w.U32(static_cast<uint32_t>(o.height));
    w.Zeros(16);
    w.End(image.avih);
    if (o.junk) {
        w.Chunk(Fcc("JUNK"), {1, 2, 3, 4, 5});
    }
    if (o.audio) {
        WriteAudioStreamList(&w, frameCount);
    }
    WriteVideoStreamList(&w, o, frameId, riffCount, maxFrame, &image);
    if (o.index == IndexKind::OpenDml) {
        const uint64_t odml = w.BeginList("LIST", "odml");
        const uint64_t dmlh = w.Begin(Fcc("dmlh"));
        w.U32(static_cast<uint32_t>(frameCount));
        w.Zeros(244);
        w.End(dmlh);
        w.End(odml);
    }
    w.End(image.hdrl);
    if (o.junk) {
        w.Chunk(Fcc("JUNK"), {9, 9, 9, 9, 9});
    }

    for (size_t riff = 0; riff < riffCount; ++riff) {
        if (riff > 0) {
            image.riffs.push_back(w.BeginList("RIFF", "AVIX"));
        }
        const uint64_t movi = w.BeginList("LIST", "movi");
        image.movis.push_back(movi);
        if (o.moviHoleBytes != 0) {
            w.Junk(o.moviHoleBytes);
        }
        std::vector<Idx1Entry> entries;
        const size_t first = riff * perRiff;
        const size_t last = std::min(first + perRiff, frameCount);
        for (size_t i = first; i < last; ++i) {
            const bool key = i % static_cast<size_t>(o.keyframeInterval) == 0;
            std::vector<uint64_t> recs;
            for (int depth = 0; depth < o.recDepth; ++depth) {
                recs.push_back(w.BeginList("LIST", "rec "));
            }
            if (o.audio) {
                const uint64_t audio = w.Chunk(audioId, {0x80, 0x81, 0x82});
                entries.push_back({audioId, kAviifKeyframe, audio, 3});
            }
            const uint64_t chunk = w.Chunk(frameId, o.frames[i]);
            image.frameChunks.push_back(chunk);
            entries.push_back({frameId, key ? kAviifKeyframe : 0, chunk,
                               static_cast<uint32_t>(o.frames[i].size())});
            for (auto rec = recs.rbegin(); rec != recs.rend(); ++rec) {
                w.End(*rec);
            }
            if (!recs.empty()) {
                entries.insert(entries.end() - (o.audio ? 2 : 1),
                               {Fcc("rec "), kAviifList, recs.front(),
                                static_cast<uint32_t>(w.Position() - recs.front() - 8)});
            }
            if (o.junk) {
                w.Chunk(Fcc("JUNK"), {7, 7, 7, 7, 7});
            }
        }
        if (o.index == IndexKind::OpenDml) {
            const uint64_t ix = w.Begin(StreamFcc(videoStream, "ix", false));
            image.stdIndexes.push_back(ix);
            w.U16(2), w.U8(0), w.U8(1);  // wLongsPerEntry, subtype, AVI_INDEX_OF_CHUNKS
            w.U32(static_cast<uint32_t>(last - first)), w.U32(frameId);
            w.U64(movi), w.U32(0);        // qwBaseOffset, dwReserved
            for (size_t i = first; i < last; ++i) {
                const bool key = i % static_cast<size_t>(o.keyframeInterval) == 0;
                w.U32(static_cast<uint32_t>(image.frameChunks[i] + 8 - movi));
                w.U32(static_cast<uint32_t>(o.frames[i].size()) | (key ? 0 : kNotKeyframe));
            }
            w.End(ix);
            const uint64_t entry = image.indx + 8 + 24 + 16 * riff;
            image.Patch32(entry, static_cast<uint32_t>(ix));
            image.Patch32(entry + 4, static_cast<uint32_t>(ix >> 32));
            image.Patch32(entry + 8, static_cast<uint32_t>(w.Position() - ix));
            image.Patch32(entry + 12, static_cast<uint32_t>(last - first));
        }
        w.End(movi);
        if (riff == 0 && o.index != IndexKind::None) {
            image.idx1 = w.Begin(Fcc("idx1"));
            const uint64_t base = o.index == IndexKind::Idx1Absolute ? 0 : movi + 8;
            for (const Idx1Entry& e : entries) {
                w.U32(e.id), w.U32(e.flags);
                w.U32(static_cast<uint32_t>(e.at - base)), w.U32(e.size);
            }
            w.End(image.idx1);
        }
        w.End(image.riffs.back());
    }
    return image;
}

TempFile::TempFile(const std::string& name) {
    std::string pattern = ::testing::TempDir() + "avi_test_XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_dir = pattern;
    }
    m_path = m_dir + "/" + name;
}

TempFile::~TempFile() {
    ::unlink(m_path.c_str());
    if (!m_dir.empty()) {
        ::rmdir(m_dir.c_str());
    }
}

bool TempFile::Write(const std::vector<uint8_t>& bytes) const {
    AviImage image;
    image.size = bytes.size();
    image.pieces.push_back({0, bytes});
    return Write(image);
}

bool TempFile::Write(const AviImage& image) const {
    // Rewriting in place is much cheaper than truncating to zero first (ext4
    // flushes a file truncated to zero when it is closed); only an image with
    // holes needs the old contents gone, so that its holes read as zeros.
    const bool dense = image.pieces.size() == 1 && image.pieces[0].first == 0 &&
                       image.pieces[0].second.size() == image.size;
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = dense || ::ftruncate(fd, 0) == 0;
    for (const auto& [start, bytes] : image.pieces) {
        ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(start)) ==
                       static_cast<ssize_t>(bytes.size());
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(image.size)) == 0;
    return ::close(fd) == 0 && ok;
}

std::vector<uint8_t> FramePayload(int index, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(index * 37 + i * 11 + 5);
    }
    return bytes;
}

}  // namespace avi_test
