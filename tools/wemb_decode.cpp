// wemb-decode: decodes wemb AVI clips and JPEG frames through the codec's
// DriverProc, as a Video for Windows compression manager would, and writes
// BMP files or raw bgr24 frames.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/bmp_writer.h"
#include "tools/codec_session.h"
#include "tools/decode_pipeline.h"
#include "tools/frame_output.h"
#include "tools/frame_source.h"
#include "tools/host_options.h"
#include "tools/progress.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFramesFailed = 1;
constexpr int kExitUnusable = 2;

struct RunTotals {
    size_t decoded = 0, failed = 0, dropped = 0;
    double megapixels = 0.0;
};

// Writes each delivered frame where the options say, in frame order.
class FrameWriter {
public:
    FrameWriter(const HostOptions& options, const FrameSource& source, bool several)
        : m_options(options), m_source(source), m_several(several) {}

    // Returns false when the output itself failed (disk full, closed pipe):
    // no point decoding on.
    bool Write(DecodedFrame& frame) {
        if (!frame.ok && !frame.dropped) {
            std::fprintf(stderr, "%s: %s\n", m_source.Label(frame.index).c_str(), frame.error.c_str());
            return true;
        }
        // A dropped frame repeats the picture before it, so that the output
        // keeps the stream's timing.
        const DecodedFrame* picture = &frame;
        if (frame.dropped) {
            if (!m_havePrevious) return true;
            picture = &m_previous;
        }
        std::string error;
        bool written = true;
        if (m_options.raw) {
            written = WriteRawFrame(stdout, *picture, &error);
        } else if (!m_options.output.empty()) {
            const std::string path = OutputPathFor(m_options.output, frame.index,
                                                   m_source.Stem(frame.index), m_several);
            written = WriteBmp24(path, picture->format.biWidth, picture->format.biHeight,
                                 picture->pixels.data(), picture->pixels.size(), &error);
        }
        if (!written) {
            std::fprintf(stderr, "%s: %s\n", m_source.Label(frame.index).c_str(), error.c_str());
            return false;
        }
        if (frame.ok) {
            m_previous = std::move(frame);
            m_havePrevious = true;
        }
        return true;
    }

private:
    const HostOptions& m_options;
    const FrameSource& m_source;
    bool m_several;
    DecodedFrame m_previous;
    bool m_havePrevious = false;
};

std::vector<size_t> SelectFrames(size_t count, const FrameRange& range) {
    std::vector<size_t> frames;
    for (size_t i = 0; i < count; ++i) {
        if (range.Contains(static_cast<int64_t>(i))) frames.push_back(i);
    }
    return frames;
}

// Decodes the selected frames of one source. False when the output failed.
bool DecodeSource(const FrameSource& source, const HostOptions& options, RunTotals* totals) {
    const std::vector<size_t> frames = SelectFrames(source.Count(), options.range);
    const int threads = options.threads > 0
                            ? options.threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    FrameWriter writer(options, source, frames.size() > 1);
    Progress progress(stderr, !options.quiet && isatty(STDERR_FILENO), frames.size());
    bool outputOk = true;
    size_t done = 0, failed = 0;
    const PipelineStats stats = RunDecodePipeline(source, frames, threads, [&](DecodedFrame& frame) {
        ++done;
        if (!frame.ok && !frame.dropped) {
            ++failed;
            progress.Finish();  // the message goes on its own line
        }
        if (outputOk) outputOk = writer.Write(frame);
        progress.Update(done, failed);
    });
    progress.Finish();
    totals->decoded += stats.decoded;
    totals->failed += stats.failed;
    totals->dropped += stats.dropped;
    totals->megapixels += stats.megapixels;
    return outputOk;
}

// Asks the codec whether it takes the stream, as a player does before it
// decodes anything.
bool CheckCodecAccepts(const std::string& path, const AviVideoSource& source) {
    CodecSession session;
    std::string error;
    if (session.Begin(source.Format(), &error)) return true;
    const uint32_t compression = source.Reader().VideoFormat().biCompression;
    if (compression != mmioFOURCC('w', 'e', 'm', 'b')) {
        std::fprintf(stderr,
                     "%s: the video stream's compression is '%s', not 'wemb', and the codec "
                     "refuses it.\nIf its frames are JPEG images (MJPG and the like), "
                     "--force-wemb hands them to the codec anyway.\n",
                     path.c_str(), FourccText(compression).c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    }
    return false;
}

void PrintAviInfo(const std::string& path, const AviVideoSource& source) {
    const AviReader& reader = source.Reader();
    const BITMAPINFOHEADER& format = reader.VideoFormat();
    const AviFrameRate rate = reader.FrameRate();
    const double fps = rate.scale ? double(rate.rate) / rate.scale : 0.0;
    const char* index = reader.FrameSource() == AviFrameSource::OpenDmlIndex ? "OpenDML index"
                        : reader.FrameSource() == AviFrameSource::Idx1   ? "idx1 index"
                                                                          : "scan of the movi list";
    std::printf("%s\n", path.c_str());
    std::printf("  format:   %d x %d, compression '%s', %u bits\n", format.biWidth, format.biHeight,
                FourccText(format.biCompression).c_str(), unsigned(format.biBitCount));
    std::printf("  frames:   %zu (found by %s)\n", reader.FrameCount(), index);
    std::printf("  rate:     %.3f frames/s (%u/%u)", fps, rate.rate, rate.scale);
    if (fps > 0) std::printf(", %s long", ClockText(reader.FrameCount() / fps).c_str());
    std::printf("\n");
    for (const std::string& warning : reader.Warnings()) std::printf("  warning:  %s\n", warning.c_str());
}

void PrintCodecInfo(const CodecLibrary& library) {
    std::string name, description;
    if (library.Describe(&name, &description)) {
        std::printf("codec: %s (%s)\n", name.c_str(), description.c_str());
    } else {
        std::printf("codec: did not describe itself\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::string error;
    if (!ParseHostOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "wemb-decode: %s\n", error.c_str());
        return kExitUnusable;
    }
    if (options.help) {
        std::fputs(HostUsage().c_str(), stdout);
        return kExitOk;
    }
    CodecLibrary library;
    if (!library.Loaded()) {
        std::fprintf(stderr, "wemb-decode: the codec did not load\n");
        return kExitUnusable;
    }
    if (options.info) PrintCodecInfo(library);

    RunTotals totals;
    bool unusable = false;
    std::vector<std::string> jpegs;
    Progress clock(stderr, false, 0);
    for (const std::string& input : options.inputs) {
        if (!LooksLikeAvi(input)) {
            jpegs.push_back(input);
            continue;
        }
        AviVideoSource source;
        if (!source.Open(input, options.forceWemb, &error)) {
            std::fprintf(stderr, "%s: %s\n", input.c_str(), error.c_str());
            unusable = true;
            continue;
        }
        if (options.info) {
            PrintAviInfo(input, source);
            continue;
        }
        for (const std::string& warning : source.Reader().Warnings()) {
            std::fprintf(stderr, "%s: warning: %s\n", input.c_str(), warning.c_str());
        }
        if (!CheckCodecAccepts(input, source)) {
            unusable = true;
            continue;
        }
        if (!DecodeSource(source, options, &totals)) return kExitUnusable;
    }
    if (!jpegs.empty()) {
        JpegFileSource source(jpegs);
        if (options.info) {
            for (size_t i = 0; i < source.Count(); ++i) {
                std::vector<uint8_t> bytes;
                BITMAPINFOHEADER format;
                if (source.Load(i, &bytes, &format, &error)) {
                    std::printf("%s\n  JPEG frame: %d x %d, %zu bytes\n", source.Label(i).c_str(),
                                format.biWidth, format.biHeight, bytes.size());
                } else {
                    std::printf("%s\n  not readable: %s\n", source.Label(i).c_str(), error.c_str());
                }
            }
        } else if (!DecodeSource(source, options, &totals)) {
            return kExitUnusable;
        }
    }
    if (!options.info) {
        std::fprintf(stderr, "%s\n",
                     SummaryLine(totals.decoded, totals.failed, totals.dropped, clock.Seconds(),
                                 totals.megapixels)
                         .c_str());
    }
    if (unusable) return kExitUnusable;
    return totals.failed > 0 ? kExitFramesFailed : kExitOk;
}
