// AviReader: the first video stream of an AVI file, its headers and its
// frames, for the command-line host that feeds frames to the codec.
//
// Layouts read:
// - RIFF 'AVI ' with LIST 'hdrl' (avih, one LIST 'strl' per stream with strh,
//   strf and optionally indx, optionally LIST 'odml' with dmlh) and LIST
//   'movi'. The video stream is the first whose strh type is 'vids'; its
//   frames are the chunks 'NNdc' and 'NNdb', NN being its stream number.
// - AVI 2.0 (OpenDML): further RIFF 'AVIX' chunks, each with its own movi
//   list, and an 'indx' super index pointing at 'ix##' standard indexes
//   (64-bit base offset, 32-bit relative offsets, top bit of the size set for
//   non-keyframes). An 'indx' that is itself a standard index is accepted.
// - Frames come from the OpenDML index when present and sound, else from
//   'idx1' (relative to the movi list or absolute, detected from the first
//   entry) plus a walk of any AVIX movi lists, which idx1 never covers; else
//   from walking every movi list. The walk descends into 'rec ' lists and
//   skips JUNK, audio, index and unknown chunks. Chunks are word aligned.
// - An index is sound when every video entry points inside the file at a
//   chunk header with the stream's id; one bad entry discards the whole index
//   and a warning says how the frames were found instead.
// - Dropped frames (video chunks of size 0) are kept as frames of size 0, so
//   that frame numbers follow the stream's timing; the caller repeats the
//   previous picture or counts them.
// - Damaged files: sizes that run past their parent or the file are limited
//   to it with a warning, and the walk of that list stops there; frames found
//   before the damage stay readable. A frame whose chunk runs past the end of
//   the file stays listed but ReadFrame refuses it.
// Not read: palette changes ('NNpc'), field indexes beyond their first two
// fields, streams other than the first video stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "tools/avi_index.h"
#include "tools/riff_file.h"

// Fields of the main header 'avih' (zero when it is missing).
struct AviMainHeader {
    uint32_t microSecPerFrame;
    uint32_t totalFrames;
    uint32_t width;
    uint32_t height;
};

// Fields of the video stream's header 'strh', its number among the streams
// and its format 'strf'.
struct AviVideoStream {
    int streamNumber;
    uint32_t handler;             // fccHandler
    uint32_t scale;               // dwScale
    uint32_t rate;                // dwRate: frames per second is rate / scale
    uint32_t length;              // dwLength, in frames
    uint32_t suggestedBufferSize; // dwSuggestedBufferSize
    BITMAPINFOHEADER format;      // the first 40 bytes of strf
    std::vector<uint8_t> formatBytes;  // the whole strf, for formats with extra data
};

// Frames per second as the fraction rate / scale.
struct AviFrameRate {
    uint32_t rate;
    uint32_t scale;
};

enum class AviFrameSource {
    OpenDmlIndex,     // the 'indx' / 'ix##' index
    Idx1,             // the 'idx1' index (plus a walk of any AVIX movi lists)
    MoviScan,         // a walk of every movi list
};

class AviReader {
public:
    // Reads the headers and builds the frame list. False, with a message,
    // when the file is not an AVI file with a usable video stream.
    bool Open(const std::string& path, std::string* error);
    void Close();

    const AviMainHeader& MainHeader() const { return m_main; }
    const AviVideoStream& VideoStream() const { return m_video; }
    const BITMAPINFOHEADER& VideoFormat() const { return m_video.format; }
    // dwTotalFrames of the OpenDML header 'dmlh'; 0 when absent.
    uint32_t OpenDmlTotalFrames() const { return m_openDmlTotalFrames; }
    // The stream header's rate / scale; when either is 0, the main header's
    // frame duration as 1000000 / microSecPerFrame; when that is 0 too, 0 / 1.
    AviFrameRate FrameRate() const;

    size_t FrameCount() const { return m_frames.size(); }
    // Offset and size of a frame's payload. `index` must be below FrameCount().
    const AviFrame& Frame(size_t index) const { return m_frames[index]; }
    AviFrameSource FrameSource() const { return m_source; }

    // Reads exactly the payload of frame `index` into `out` (empty for a
    // dropped frame). False, with a message, for an index past the last frame,
    // a chunk that runs past the end of the file or claims more than 256 MiB,
    // or a failed read. Safe to call from several threads at once.
    bool ReadFrame(size_t index, std::vector<uint8_t>* out, std::string* error) const;

    // Damage met and repaired while opening, in plain English.
    const std::vector<std::string>& Warnings() const { return m_warnings.All(); }

private:
    struct StreamList;
    struct Layout;

    void ReadTopLevel(Layout* layout);
    void ReadFirstRiff(const RiffChunk& riff, uint64_t end, Layout* layout);
    void ReadHeaderList(const RiffChunk& hdrl, uint64_t end, Layout* layout);
    void ReadStreamList(const RiffChunk& strl, uint64_t end, StreamList* stream);
    bool TakeVideoStream(const Layout& layout, std::string* error);
    void FindFrames(const Layout& layout);

    RiffFile m_file;
    AviMainHeader m_main{};
    AviVideoStream m_video{};
    uint32_t m_openDmlTotalFrames = 0;
    std::vector<AviFrame> m_frames;
    AviFrameSource m_source = AviFrameSource::MoviScan;
    WarningList m_warnings;
};
