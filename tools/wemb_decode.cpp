// wemb-decode: decodes wemb AVI clips and JPEG frames through the codec's
// DriverProc, as a Video for Windows compression manager would, and writes
// BMP or PNG files or raw video.
//
// A run has three steps: every input is opened and checked (an AVI stream
// must be accepted by the codec's ICM_DECOMPRESS_QUERY, the frame range must
// select something, no two frames may share an output name), then each
// input's frames are decoded and written in order, then one summary line
// goes to standard error.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "driver/driver.h"
#include "platform/worker_pool.h"
#include "tools/bmp_writer.h"
#include "tools/codec_session.h"
#include "tools/decode_pipeline.h"
#include "tools/frame_output.h"
#include "tools/frame_source.h"
#include "tools/host_options.h"
#include "tools/input_kind.h"
#include "tools/memory_budget.h"
#include "tools/png_writer.h"
#include "tools/progress.h"
#include "tools/riff_file.h"
#include "tools/thread_plan.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFramesFailed = 1;
constexpr int kExitUnusable = 2;
constexpr int kExitOutputFailed = 3;

// One input ready to decode: an AVI file's video stream or the list of JPEG
// files, and the frames the range selects from it.
struct Job {
    std::unique_ptr<FrameSource> source;
    std::string name;            // for messages
    std::vector<size_t> frames;  // in decoding order
};

struct RunTotals {
    size_t decoded = 0, failed = 0, dropped = 0;
    double megapixels = 0.0;
};

const char* ImageExtension(ImageFormat format) { return format == ImageFormat::Png ? ".png" : ".bmp"; }

// Writes each delivered frame where the options say, in frame order.
class FrameWriter {
public:
    FrameWriter(const HostOptions& options, bool several) : m_options(options), m_several(several) {}

    // Whether to keep the last picture written, to repeat it for dropped
    // frames; a picture held for nothing would be memory outside the budget.
    void KeepLastPicture(bool keep) {
        m_keepLast = keep;
        if (!keep) {
            m_previous = DecodedFrame();
            m_havePrevious = false;
        }
    }

    // Returns false when the output itself failed (disk full, closed pipe):
    // no point decoding on. What the user must hear of (a failed frame, a
    // write error) is added to `messages`, one line each, for the caller to
    // print where the progress bar was.
    bool Write(const FrameSource& source, DecodedFrame& frame, std::string* messages) {
        if (!frame.ok && !frame.dropped) {
            *messages += source.Label(frame.index) + ": " + frame.error + "\n";
            return true;
        }
        // A dropped frame repeats the picture before it, as a player shows
        // it, so that the output keeps the stream's timing.
        const DecodedFrame* picture = &frame;
        if (frame.dropped) {
            if (!m_havePrevious) return true;
            picture = &m_previous;
        }
        std::string error;
        bool written = true;
        if (m_options.raw) {
            DescribeRawVideo(source, frame.index, picture->format, messages);
            written = WriteRawFrame(stdout, *picture, &error);
        } else if (!m_options.output.empty()) {
            const std::string path = OutputPathFor(m_options.output, frame.index, source.Stem(frame.index),
                                                   m_several, ImageExtension(m_options.imageFormat));
            written = MakeParentDirectories(path, &error) && WriteImage(path, *picture, &error);
        }
        if (!written) {
            *messages += source.Label(frame.index) + ": " + error + "\n";
            return false;
        }
        if (frame.ok && m_keepLast) {
            std::swap(m_previous, frame);
            m_havePrevious = true;
        }
        return true;
    }

private:
    // The picture in the file format chosen, in the layout negotiated for it
    // (RunDecodePipeline's `layout`, from OutputLayout).
    bool WriteImage(const std::string& path, const DecodedFrame& picture, std::string* error) const {
        const BITMAPINFOHEADER& format = picture.format;
        if (m_options.imageFormat == ImageFormat::Bmp) {
            return WriteBmp24(path, format.biWidth, format.biHeight, picture.pixels.data(), picture.pixels.size(),
                              error);
        }
        const ptrdiff_t step = static_cast<ptrdiff_t>(RowStep(format.biWidth, format.biBitCount));
        const int32_t height = std::abs(format.biHeight);
        if (format.biBitCount != 24 || picture.pixels.size() < size_t(step) * size_t(height)) {
            *error = "the picture is not a 24-bit bitmap of its size";
            return false;
        }
        const bool topDown = format.biHeight < 0;
        const uint8_t* topRow = picture.pixels.data() + (topDown ? 0 : (height - 1) * step);
        return WritePng(path, format.biWidth, height, topRow, topDown ? step : -step, error);
    }

    // Raw frames carry no size: the first frame's size and the stream's rate
    // are printed in the options that tell ffmpeg, and a player takes every
    // frame at that size.
    void DescribeRawVideo(const FrameSource& source, size_t index, const BITMAPINFOHEADER& format,
                          std::string* messages) {
        if (m_rawWidth == 0) {
            m_rawWidth = format.biWidth;
            m_rawHeight = format.biHeight;
            uint32_t rate = 0, scale = 0;
            source.FrameRate(&rate, &scale);
            *messages += "wemb-decode: read the raw video with: ffmpeg " +
                         RawVideoArguments(format.biWidth, std::abs(format.biHeight), format.biBitCount, rate,
                                           scale) +
                         (format.biHeight > 0 ? " (rows bottom-up: add -vf vflip)" : "") + "\n";
        } else if ((format.biWidth != m_rawWidth || format.biHeight != m_rawHeight) && !m_warned) {
            *messages += source.Label(index) + ": warning: " + SizeText(format.biWidth, format.biHeight) +
                         ", but the raw stream began at " + SizeText(m_rawWidth, m_rawHeight) +
                         "; a player reads every frame at one size\n";
            m_warned = true;
        }
    }

    static std::string SizeText(int32_t width, int32_t height) {
        return std::to_string(width) + " x " + std::to_string(height);
    }

    const HostOptions& m_options;
    bool m_several;
    DecodedFrame m_previous;
    bool m_havePrevious = false;
    bool m_keepLast = false;
    int32_t m_rawWidth = 0, m_rawHeight = 0;
    bool m_warned = false;
};

// What the codec writes for the output chosen: BMP files hold the bitmap a
// player receives (24-bit, bottom-up); PNG files and raw video are read top
// row first.
PictureLayout OutputLayout(const HostOptions& options) {
    PictureLayout layout;
    if (options.raw) {
        layout.bitCount = options.rawBitCount;
        layout.topDown = !options.rawBottomUp;
    } else if (!options.output.empty()) {
        layout.topDown = options.imageFormat == ImageFormat::Png;
    }
    return layout;
}

int Processors() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

std::vector<size_t> SelectFrames(size_t count, const FrameRange& range) {
    std::vector<size_t> frames;
    for (size_t i = 0; i < count; ++i) {
        if (range.Contains(static_cast<int64_t>(i))) frames.push_back(i);
    }
    return frames;
}

std::string RangeText(const FrameRange& range) {
    if (range.first == range.last) return std::to_string(range.first);
    return std::to_string(range.first) + "-" + (range.last < 0 ? "" : std::to_string(range.last));
}

// Decodes one job's frames, with the threads planned for it. The codec
// instances read WEMB_THREADS when they are opened, on the workers this
// function starts: it is set here, while no other thread of the program
// runs, and the run's own instances see it. False when the output failed.
bool DecodeJob(const Job& job, const HostOptions& options, int codecThreads, uint64_t memoryBudget,
               FrameWriter* writer, RunTotals* totals) {
    const ThreadPlan plan = PlanThreads(Processors(), job.frames.size(), options.threads, codecThreads);
    setenv(kThreadsVariable, std::to_string(plan.codecThreads).c_str(), 1);
    Progress progress(stderr, !options.quiet && isatty(STDERR_FILENO), job.frames.size());
    size_t done = 0, failed = 0;
    bool outputOk = true;
    writer->KeepLastPicture(std::any_of(job.frames.begin(), job.frames.end(),
                                        [&](size_t index) { return job.source->Dropped(index); }));
    const PipelineStats stats = RunDecodePipeline(
        *job.source, job.frames, plan.frameWorkers, memoryBudget, [&](DecodedFrame& frame) {
            ++done;
            if (!frame.ok && !frame.dropped) ++failed;
            std::string messages;
            outputOk = writer->Write(*job.source, frame, &messages);
            if (!messages.empty()) {
                progress.Finish();  // messages take the bar's place; it is drawn again below them
                std::fputs(messages.c_str(), stderr);
            }
            progress.Update(done, failed);
            return outputOk;
        },
        OutputLayout(options));
    progress.Finish();
    totals->decoded += stats.decoded;
    totals->failed += stats.failed;
    totals->dropped += stats.dropped;
    totals->megapixels += stats.megapixels;
    if (outputOk && stats.decoded == 0 && stats.failed > 1) {
        std::fprintf(stderr, "%s: none of its %zu frames decoded\n", job.name.c_str(), stats.failed);
    }
    return outputOk;
}

// Asks the codec whether it takes the stream, as a player does before it
// decodes anything. Says why not, with the way out for JPEG video of
// another name.
bool CodecAccepts(const std::string& path, const AviVideoSource& source, bool quietly) {
    CodecSession session;
    std::string error;
    if (session.Begin(source.Format(), &error)) return true;
    if (quietly) return false;
    const uint32_t compression = source.Format().biCompression;
    if (compression != kWembFourcc) {
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

// False when a file could not be described.
bool PrintJpegInfo(const JpegFileSource& source) {
    bool all = true;
    for (size_t i = 0; i < source.Count(); ++i) {
        std::vector<uint8_t> bytes;
        BITMAPINFOHEADER format;
        std::string error;
        if (source.Load(i, &bytes, &format, &error)) {
            std::printf("%s\n  JPEG frame: %d x %d, %zu bytes\n", source.Label(i).c_str(),
                        format.biWidth, format.biHeight, bytes.size());
        } else {
            std::printf("%s\n  not readable: %s\n", source.Label(i).c_str(), error.c_str());
            all = false;
        }
    }
    return all;
}

void PrintCodecInfo(const CodecLibrary& library) {
    std::string name, description;
    if (library.Describe(&name, &description)) {
        std::printf("codec: %s (%s)\n", name.c_str(), description.c_str());
    } else {
        std::printf("codec: did not describe itself\n");
    }
}

// What an input holds, or why it cannot be used (reported here). Standard
// input is read once, when "-" first appears, into `stdinBytes`.
InputKind ClassifyHostInput(const std::string& path,
                            std::shared_ptr<std::vector<uint8_t>>* stdinBytes) {
    std::string what;
    InputKind kind;
    if (path == "-") {
        if (isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "-: standard input is a terminal; pipe a JPEG frame into it\n");
            return InputKind::Unusable;
        }
        if (*stdinBytes == nullptr) {
            *stdinBytes = std::make_shared<std::vector<uint8_t>>();
            std::string error;
            if (!ReadWholeFile("-", stdinBytes->get(), &error)) {
                std::fprintf(stderr, "standard input: %s\n", error.c_str());
                (*stdinBytes)->clear();
                return InputKind::Unusable;
            }
        }
        const std::vector<uint8_t>& bytes = **stdinBytes;
        kind = ClassifyInput(bytes.data(), bytes.size(), &what);
        if (kind == InputKind::Avi) {
            what = "an AVI file; AVI files are read by name, not from standard input";
            kind = InputKind::Unusable;
        }
    } else {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            what = std::string("cannot open: ") + std::strerror(errno);
            kind = InputKind::Unusable;
        } else if (S_ISDIR(info.st_mode)) {
            what = "is a directory";
            kind = InputKind::Unusable;
        } else {
            kind = ClassifyFile(path, &what);
        }
    }
    if (kind == InputKind::Unusable) {
        std::fprintf(stderr, "%s: %s\n", path == "-" ? "standard input" : path.c_str(), what.c_str());
    }
    return kind;
}

// Opens every input. Inputs that cannot be used are reported and left out;
// `unusable` is set. The JPEG files form one job where the first of them
// stands. With --info, prints the descriptions instead of making jobs.
std::vector<Job> OpenInputs(const HostOptions& options, bool* unusable) {
    std::vector<Job> jobs;
    std::vector<std::string> jpegs;
    std::shared_ptr<std::vector<uint8_t>> stdinBytes;
    size_t jpegPosition = 0;
    for (const std::string& input : options.inputs) {
        const InputKind kind = ClassifyHostInput(input, &stdinBytes);
        if (kind == InputKind::Unusable) {
            *unusable = true;
            continue;
        }
        if (kind == InputKind::Jpeg) {
            if (jpegs.empty()) jpegPosition = jobs.size();
            jpegs.push_back(input);
            continue;
        }
        auto source = std::make_unique<AviVideoSource>();
        std::string error;
        if (!source->Open(input, options.forceWemb, &error)) {
            std::fprintf(stderr, "%s: %s\n", input.c_str(), error.c_str());
            *unusable = true;
            continue;
        }
        if (options.info) {
            PrintAviInfo(input, *source);
            if (CodecAccepts(input, *source, true)) {
                std::printf("  codec:    accepts the stream\n");
            } else {
                std::printf("  codec:    refuses the stream%s\n",
                            source->Format().biCompression == kWembFourcc
                                ? ""
                                : " (--force-wemb hands JPEG frames to it anyway)");
                *unusable = true;
            }
            continue;
        }
        for (const std::string& warning : source->Reader().Warnings()) {
            std::fprintf(stderr, "%s: warning: %s\n", input.c_str(), warning.c_str());
        }
        if (!CodecAccepts(input, *source, false)) {
            *unusable = true;
            continue;
        }
        jobs.push_back(Job{std::move(source), input, {}});
    }
    if (!jpegs.empty()) {
        auto source = std::make_unique<JpegFileSource>(jpegs, stdinBytes);
        if (options.info) {
            if (!PrintJpegInfo(*source)) *unusable = true;
        } else {
            const std::string name = jpegs.size() == 1 ? source->Label(0) : "the JPEG files";
            jobs.insert(jobs.begin() + jpegPosition, Job{std::move(source), name, {}});
        }
    }
    return jobs;
}

// Selects each job's frames; a job left with none is reported and dropped.
void SelectJobFrames(const FrameRange& range, std::vector<Job>* jobs, bool* unusable) {
    for (auto job = jobs->begin(); job != jobs->end();) {
        const size_t count = job->source->Count();
        job->frames = SelectFrames(count, range);
        if (!job->frames.empty()) {
            ++job;
            continue;
        }
        if (count == 0) {
            std::fprintf(stderr, "%s: the video stream has no frames\n", job->name.c_str());
        } else {
            std::fprintf(stderr, "%s: no frame in the range %s; its frames are 0-%zu\n",
                         job->name.c_str(), RangeText(range).c_str(), count - 1);
        }
        *unusable = true;
        job = jobs->erase(job);
    }
}

// Refuses a run that would write two frames to one file.
bool OutputNamesDistinct(const HostOptions& options, const std::vector<Job>& jobs, bool several) {
    if (options.output.empty()) return true;
    std::unordered_map<std::string, std::string> owners;  // path -> the frame written there
    for (const Job& job : jobs) {
        for (size_t index : job.frames) {
            const std::string path = OutputPathFor(options.output, index, job.source->Stem(index), several,
                                                   ImageExtension(options.imageFormat));
            const std::string label = job.source->Label(index);
            const auto [owner, added] = owners.emplace(path, label);
            if (added) continue;
            std::fprintf(stderr,
                         "wemb-decode: %s and %s would both be written to %s; give -o a pattern "
                         "(%%05d) or a directory, or decode the inputs one at a time\n",
                         owner->second.c_str(), label.c_str(), path.c_str());
            return false;
        }
    }
    return true;
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
    if (options.raw && isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "wemb-decode: --raw writes binary frames; send standard output to a "
                             "pipe or a file (see --help)\n");
        return kExitUnusable;
    }
    // A reader that goes away must not end us silently: the write fails with
    // EPIPE instead, and the run stops with a message.
    signal(SIGPIPE, SIG_IGN);
    const uint64_t memoryBudget = options.maxMemory != 0 ? options.maxMemory : DefaultMemoryBudget();
    // Threads per frame asked for by the option, else by the environment the
    // codec reads; the host then plans around them.
    const int codecThreads =
        options.codecThreads != 0 ? options.codecThreads : CodecThreadsSetting(std::getenv(kThreadsVariable));

    CodecLibrary library;
    if (!library.Loaded()) {
        std::fprintf(stderr, "wemb-decode: the codec did not load\n");
        return kExitUnusable;
    }
    if (options.info) PrintCodecInfo(library);

    bool unusable = false;
    std::vector<Job> jobs = OpenInputs(options, &unusable);
    if (options.info) return unusable ? kExitUnusable : kExitOk;
    SelectJobFrames(options.range, &jobs, &unusable);
    size_t selected = 0;
    for (const Job& job : jobs) selected += job.frames.size();
    const bool several = selected > 1;
    if (!OutputNamesDistinct(options, jobs, several)) return kExitUnusable;
    if (jobs.empty()) return kExitUnusable;

    const auto start = std::chrono::steady_clock::now();
    RunTotals totals;
    FrameWriter writer(options, several);
    bool outputOk = true;
    for (const Job& job : jobs) {
        outputOk = DecodeJob(job, options, codecThreads, memoryBudget, &writer, &totals);
        if (!outputOk) break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%s\n",
                 SummaryLine(totals.decoded, totals.failed, totals.dropped, seconds, totals.megapixels)
                     .c_str());
    if (!outputOk) return kExitOutputFailed;
    if (unusable) return kExitUnusable;
    return totals.failed > 0 ? kExitFramesFailed : kExitOk;
}
