#include "tools/avi_reader.h"

#include <algorithm>

namespace {

constexpr uint32_t kFormAvi = mmioFOURCC('A', 'V', 'I', ' ');
constexpr uint32_t kFormAviExtended = mmioFOURCC('A', 'V', 'I', 'X');
constexpr uint32_t kListHeader = mmioFOURCC('h', 'd', 'r', 'l');
constexpr uint32_t kListStream = mmioFOURCC('s', 't', 'r', 'l');
constexpr uint32_t kListMovie = mmioFOURCC('m', 'o', 'v', 'i');
constexpr uint32_t kListOpenDml = mmioFOURCC('o', 'd', 'm', 'l');
constexpr uint32_t kMainHeader = mmioFOURCC('a', 'v', 'i', 'h');
constexpr uint32_t kStreamHeader = mmioFOURCC('s', 't', 'r', 'h');
constexpr uint32_t kStreamFormat = mmioFOURCC('s', 't', 'r', 'f');
constexpr uint32_t kStreamIndex = mmioFOURCC('i', 'n', 'd', 'x');
constexpr uint32_t kOpenDmlHeader = mmioFOURCC('d', 'm', 'l', 'h');
constexpr uint32_t kIndex1 = mmioFOURCC('i', 'd', 'x', '1');
constexpr uint32_t kStreamTypeVideo = mmioFOURCC('v', 'i', 'd', 's');

// Fields read from avih and strh end at these offsets: dwHeight of avih,
// dwSuggestedBufferSize of strh.
constexpr uint64_t kMainHeaderNeeded = 40;
constexpr uint64_t kStreamHeaderNeeded = 40;
constexpr uint64_t kBitmapInfoHeaderSize = 40;
// No video format needs more than this; a larger strf is damage, and
// refusing it keeps the allocation small.
constexpr uint64_t kMaxFormatSize = 1 << 20;
constexpr int kMaxStreamNumber = 99;  // chunk ids carry two decimal digits
// An uncompressed 8K RGBA picture takes 132 MB; a frame chunk claiming more
// than this is a damaged size that would only cost memory to follow.
constexpr uint32_t kMaxFrameSize = 256u << 20;

std::string At(uint64_t offset) { return "offset " + std::to_string(offset); }

// Bytes of a chunk's contents that lie before `end` (its parent's end).
uint64_t Available(const RiffChunk& chunk, uint64_t end) {
    return std::min(chunk.End(), end) - chunk.DataOffset();
}

BITMAPINFOHEADER ParseBitmapInfoHeader(const uint8_t* p) {
    BITMAPINFOHEADER header;
    header.biSize = ReadLE32(p);
    header.biWidth = static_cast<LONG>(ReadLE32(p + 4));
    header.biHeight = static_cast<LONG>(ReadLE32(p + 8));
    header.biPlanes = ReadLE16(p + 12);
    header.biBitCount = ReadLE16(p + 14);
    header.biCompression = ReadLE32(p + 16);
    header.biSizeImage = ReadLE32(p + 20);
    header.biXPelsPerMeter = static_cast<LONG>(ReadLE32(p + 24));
    header.biYPelsPerMeter = static_cast<LONG>(ReadLE32(p + 28));
    header.biClrUsed = ReadLE32(p + 32);
    header.biClrImportant = ReadLE32(p + 36);
    return header;
}

}  // namespace

// What ReadStreamList learns about one 'strl' list.
struct AviReader::StreamList {
    int number = 0;
    bool hasHeader = false;
    uint32_t type = 0;
    AviVideoStream fields{};
    bool hasFormat = false;
    bool formatOverruns = false;
    uint64_t formatOffset = 0;
    uint32_t formatSize = 0;
    bool hasIndex = false;
    uint64_t indexOffset = 0;
    uint64_t indexLength = 0;
};

// Where the parts of the file lie, gathered by the walk before any is used.
struct AviReader::Layout {
    bool hasHeaderList = false;
    bool hasVideo = false;
    StreamList video;
    std::vector<MoviList> movies;
    size_t firstRiffMovies = 0;  // movies[0 .. firstRiffMovies) lie in RIFF 'AVI '
    bool hasIdx1 = false;
    uint64_t idx1Offset = 0;
    uint64_t idx1Length = 0;
};

bool AviReader::Open(const std::string& path, std::string* error) {
    Close();
    if (!m_file.Open(path, error)) {
        return false;
    }
    uint8_t riff[12];
    if (!m_file.ReadAt(0, riff, sizeof riff) || ReadLE32(riff) != kFourccRiff ||
        ReadLE32(riff + 8) != kFormAvi) {
        *error = path + " is not an AVI file (it does not start with RIFF 'AVI ')";
        Close();
        return false;
    }
    Layout layout;
    ReadTopLevel(&layout);
    if (!TakeVideoStream(layout, error)) {
        Close();
        return false;
    }
    if (layout.movies.empty()) {
        *error = "the file has no 'movi' list";
        Close();
        return false;
    }
    FindFrames(layout);
    if (m_video.length != 0 && m_video.length != m_frames.size()) {
        m_warnings.Add("the stream header announces " + std::to_string(m_video.length) +
                       " frames but " + std::to_string(m_frames.size()) + " were found");
    }
    return true;
}

void AviReader::Close() {
    m_file.Close();
    m_main = AviMainHeader{};
    m_video = AviVideoStream{};
    m_openDmlTotalFrames = 0;
    m_frames.clear();
    m_source = AviFrameSource::MoviScan;
    m_warnings.Clear();
}

AviFrameRate AviReader::FrameRate() const {
    if (m_video.rate != 0 && m_video.scale != 0) {
        return AviFrameRate{m_video.rate, m_video.scale};
    }
    if (m_main.microSecPerFrame != 0) {
        return AviFrameRate{1000000, m_main.microSecPerFrame};
    }
    return AviFrameRate{0, 1};
}

bool AviReader::ReadFrame(size_t index, std::vector<uint8_t>* out, std::string* error) const {
    out->clear();
    if (index >= m_frames.size()) {
        *error = "frame " + std::to_string(index) + " does not exist; the file has " +
                 std::to_string(m_frames.size()) + " frames";
        return false;
    }
    const AviFrame& frame = m_frames[index];
    if (!m_file.Contains(frame.offset, frame.size)) {
        *error = "frame " + std::to_string(index) + " at " + At(frame.offset) + " claims " +
                 std::to_string(frame.size) + " bytes, past the end of the file at " +
                 At(m_file.Size());
        return false;
    }
    if (frame.size > kMaxFrameSize) {
        *error = "frame " + std::to_string(index) + " at " + At(frame.offset) + " claims " +
                 std::to_string(frame.size) + " bytes, more than the " +
                 std::to_string(kMaxFrameSize) + " this reader accepts for one frame";
        return false;
    }
    out->resize(frame.size);
    if (!m_file.ReadAt(frame.offset, out->data(), out->size())) {
        out->clear();
        *error = "cannot read frame " + std::to_string(index) + " at " + At(frame.offset);
        return false;
    }
    return true;
}

// The file is a chain of RIFF chunks: 'AVI ' first, then any 'AVIX'.
void AviReader::ReadTopLevel(Layout* layout) {
    bool first = true;
    WalkChunks(m_file, 0, m_file.Size(), [&](const RiffChunk& riff) {
        const uint64_t end = std::min(riff.End(), m_file.Size());
        if (riff.id != kFourccRiff) {
            m_warnings.Add("unexpected chunk " + QuoteFourcc(riff.id) + " at " + At(riff.offset) +
                           " after the RIFF chunks; the rest of the file is ignored");
            return false;
        }
        if (first) {
            first = false;
            ReadFirstRiff(riff, end, layout);
        } else if (riff.IsList(kFormAviExtended)) {
            WalkChunks(m_file, riff.ChildrenOffset(), end, [&](const RiffChunk& chunk) {
                if (chunk.IsList(kListMovie)) {
                    const uint64_t moviEnd = std::min(chunk.End(), end);
                    layout->movies.push_back(MoviList{chunk.DataOffset(), moviEnd});
                }
                return true;
            }, &m_warnings);
        } else {
            m_warnings.Add("RIFF chunk of form " + QuoteFourcc(riff.listType) + " at " +
                           At(riff.offset) + " ignored");
        }
        return true;
    }, &m_warnings);
}

void AviReader::ReadFirstRiff(const RiffChunk& riff, uint64_t end, Layout* layout) {
    WalkChunks(m_file, riff.ChildrenOffset(), end, [&](const RiffChunk& chunk) {
        const uint64_t chunkEnd = std::min(chunk.End(), end);
        if (chunk.IsList(kListHeader) && !layout->hasHeaderList) {
            ReadHeaderList(chunk, chunkEnd, layout);
        } else if (chunk.IsList(kListMovie)) {
            layout->movies.push_back(MoviList{chunk.DataOffset(), chunkEnd});
            layout->firstRiffMovies = layout->movies.size();
        } else if (chunk.id == kIndex1 && !layout->hasIdx1) {
            layout->hasIdx1 = true;
            layout->idx1Offset = chunk.DataOffset();
            layout->idx1Length = Available(chunk, end);
        }
        return true;
    }, &m_warnings);
}

void AviReader::ReadHeaderList(const RiffChunk& hdrl, uint64_t end, Layout* layout) {
    layout->hasHeaderList = true;
    int streamCount = 0;
    WalkChunks(m_file, hdrl.ChildrenOffset(), end, [&](const RiffChunk& chunk) {
        const uint64_t chunkEnd = std::min(chunk.End(), end);
        uint8_t bytes[kMainHeaderNeeded];
        if (chunk.id == kMainHeader) {
            if (Available(chunk, end) < kMainHeaderNeeded ||
                !m_file.ReadAt(chunk.DataOffset(), bytes, sizeof bytes)) {
                m_warnings.Add("the main header 'avih' at " + At(chunk.offset) +
                               " is too small; ignored");
                return true;
            }
            m_main = AviMainHeader{ReadLE32(bytes), ReadLE32(bytes + 16), ReadLE32(bytes + 32),
                                   ReadLE32(bytes + 36)};
        } else if (chunk.IsList(kListStream)) {
            StreamList stream;
            stream.number = streamCount++;
            ReadStreamList(chunk, chunkEnd, &stream);
            if (!layout->hasVideo && stream.hasHeader && stream.type == kStreamTypeVideo) {
                layout->hasVideo = true;
                layout->video = stream;
            }
        } else if (chunk.IsList(kListOpenDml)) {
            WalkChunks(m_file, chunk.ChildrenOffset(), chunkEnd, [&](const RiffChunk& child) {
                if (child.id == kOpenDmlHeader && Available(child, chunkEnd) >= 4 &&
                    m_file.ReadAt(child.DataOffset(), bytes, 4)) {
                    m_openDmlTotalFrames = ReadLE32(bytes);
                }
                return true;
            }, &m_warnings);
        }
        return true;
    }, &m_warnings);
}

void AviReader::ReadStreamList(const RiffChunk& strl, uint64_t end, StreamList* stream) {
    WalkChunks(m_file, strl.ChildrenOffset(), end, [&](const RiffChunk& chunk) {
        if (chunk.id == kStreamHeader && !stream->hasHeader) {
            uint8_t bytes[kStreamHeaderNeeded];
            if (Available(chunk, end) < kStreamHeaderNeeded ||
                !m_file.ReadAt(chunk.DataOffset(), bytes, sizeof bytes)) {
                m_warnings.Add("the stream header 'strh' at " + At(chunk.offset) +
                               " is too small; stream " + std::to_string(stream->number) +
                               " ignored");
                return true;
            }
            stream->hasHeader = true;
            stream->type = ReadLE32(bytes);
            stream->fields.handler = ReadLE32(bytes + 4);
            stream->fields.scale = ReadLE32(bytes + 20);
            stream->fields.rate = ReadLE32(bytes + 24);
            stream->fields.length = ReadLE32(bytes + 32);
            stream->fields.suggestedBufferSize = ReadLE32(bytes + 36);
        } else if (chunk.id == kStreamFormat && !stream->hasFormat) {
            stream->hasFormat = true;
            stream->formatOverruns = chunk.overruns;
            stream->formatOffset = chunk.DataOffset();
            stream->formatSize = chunk.size;
        } else if (chunk.id == kStreamIndex && !stream->hasIndex) {
            stream->hasIndex = true;
            stream->indexOffset = chunk.DataOffset();
            stream->indexLength = Available(chunk, end);
        }
        return true;
    }, &m_warnings);
}

bool AviReader::TakeVideoStream(const Layout& layout, std::string* error) {
    const StreamList& video = layout.video;
    const std::string format = "the video stream's format chunk 'strf'";
    std::string message;
    if (!layout.hasHeaderList) {
        message = "the file has no header list 'hdrl'";
    } else if (!layout.hasVideo) {
        message = "the file has no video stream (no stream header of type 'vids')";
    } else if (video.number > kMaxStreamNumber) {
        message = "the video stream is stream " + std::to_string(video.number) +
                 "; chunk ids can only name streams 0 to 99";
    } else if (!video.hasFormat) {
        message = "the video stream has no format chunk 'strf'";
    } else if (video.formatOverruns) {
        message = format + " runs past the end of its list";
    } else if (video.formatSize < kBitmapInfoHeaderSize) {
        message = format + " has " + std::to_string(video.formatSize) +
                 " bytes, too few for a BITMAPINFOHEADER (40)";
    } else if (video.formatSize > kMaxFormatSize) {
        message = format + " has " + std::to_string(video.formatSize) +
                 " bytes, more than any video format needs";
    }
    if (!message.empty()) {
        *error = message;
        return false;
    }
    m_video = video.fields;
    m_video.streamNumber = video.number;
    m_video.formatBytes.resize(video.formatSize);  // at most kMaxFormatSize
    if (!m_file.ReadAt(video.formatOffset, m_video.formatBytes.data(), video.formatSize)) {
        *error = "cannot read " + format;
        return false;
    }
    m_video.format = ParseBitmapInfoHeader(m_video.formatBytes.data());
    const BITMAPINFOHEADER& bih = m_video.format;
    const bool uncompressed = bih.biCompression == BI_RGB || bih.biCompression == BI_BITFIELDS;
    if (bih.biWidth <= 0 || bih.biHeight == 0) {
        message = "the video format has a size of " + std::to_string(bih.biWidth) + " x " +
                 std::to_string(bih.biHeight) + " pixels";
    } else if (bih.biHeight < 0 && !uncompressed) {
        message = "the video format has a negative height (" + std::to_string(bih.biHeight) +
                 "), which only uncompressed formats may have";
    }
    if (!message.empty()) {
        *error = message;
        return false;
    }
    if (bih.biSize < kBitmapInfoHeaderSize || bih.biSize > video.formatSize) {
        m_warnings.Add("the video format's biSize is " + std::to_string(bih.biSize) +
                       " in a format chunk of " + std::to_string(video.formatSize) + " bytes");
    }
    if (m_video.rate == 0 || m_video.scale == 0) {
        m_warnings.Add(std::string("the video stream header has a zero rate or scale; ") +
                       (m_main.microSecPerFrame != 0
                            ? "the frame rate comes from the main header"
                            : "the frame rate is unknown"));
    }
    return true;
}

void AviReader::FindFrames(const Layout& layout) {
    const VideoChunkIds ids(m_video.streamNumber);
    std::string damage;  // why the indexes present were not used
    std::string problem;
    if (layout.video.hasIndex) {
        if (ReadOpenDmlIndex(m_file, layout.video.indexOffset, layout.video.indexLength, ids,
                             &m_frames, &problem, &m_warnings)) {
            m_source = AviFrameSource::OpenDmlIndex;
            return;
        }
        damage = "the OpenDML index is damaged: " + problem;
    }
    if (layout.hasIdx1) {
        if (ReadIdx1(m_file, layout.idx1Offset, layout.idx1Length, layout.movies.front(), ids,
                     &m_frames, &problem, &m_warnings)) {
            m_source = AviFrameSource::Idx1;
            if (!damage.empty()) {
                m_warnings.Add(damage + "; frames were found through the 'idx1' index");
            }
            const size_t indexed = m_frames.size();
            for (size_t i = layout.firstRiffMovies; i < layout.movies.size(); ++i) {
                ScanMovi(m_file, layout.movies[i], ids, &m_frames, &m_warnings);
            }
            if (m_frames.size() > indexed) {
                m_warnings.Add("the 'idx1' index covers only the first RIFF chunk; " +
                               std::to_string(m_frames.size() - indexed) +
                               " later frames were found by scanning the 'AVIX' movi lists");
            }
            return;
        }
        damage += (damage.empty() ? "" : "; ") + std::string("the 'idx1' index is damaged: ") +
                  problem;
    }
    m_source = AviFrameSource::MoviScan;
    m_warnings.Add((damage.empty() ? std::string("the file has no index") : damage) +
                   "; frames were found by scanning the movi lists");
    for (const MoviList& movi : layout.movies) {
        ScanMovi(m_file, movi, ids, &m_frames, &m_warnings);
    }
}
