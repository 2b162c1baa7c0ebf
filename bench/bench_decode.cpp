// wemb_bench: decodes the benchmark frames with this codec and with
// libjpeg-turbo in one run and compares their speed.
//
//   scripts/make-bench-frames.sh &&
//   build/default/bench/wemb_bench [FRAMES_DIR] [--threads=1,2] [--benchmark_...]
//
// The frames are read from FRAMES_DIR, else from $WEMB_BENCH_FRAMES, else from
// build/bench-frames of the source tree. Every frame is decoded
//   codec/NAME    through DriverProc's ICM_DECOMPRESS, as a host sends it, into
//                 a 24-bit bottom-up buffer of the negotiated format, with one
//                 thread (codec-Nt/NAME: with N threads, for each N of
//                 --threads beside 1);
//   libjpeg/NAME  by libjpeg-turbo with its default settings (JDCT_ISLOW,
//                 fancy up-sampling) to BGR, its rows stored bottom-up into a
//                 buffer of the same padded layout;
// each reporting megapixels per second ("MP/s"). After the runs a table puts
// them side by side: libjpeg-turbo against the codec on one thread, the codec
// on N threads against one thread, the codec's peak heap while decoding the
// frame on each thread count and the largest difference of a sample between the two pictures
// (the two inverse DCTs round differently; a few levels is normal).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "primitives/memory.h"
#include "tools/codec_session.h"
#include "tools/jpeg_probe.h"

// After the platform header, whose TRUE and FALSE are constants: libjpeg's
// are macros.
#include <jpeglib.h>

namespace {

struct FrameFile {
    const char* name;
    const char* file;
};

// The layouts scripts/make-bench-frames.sh writes, at 1920 x 1080 and at
// 320 x 180 ("small-" names).
const FrameFile kFrameFiles[] = {
    {"ycc420", "forest-1920x1080-ycc420-q90.jpg"},
    {"ycc422", "forest-1920x1080-ycc422-q90.jpg"},
    {"ycc444", "forest-1920x1080-ycc444-q90.jpg"},
    {"grey", "forest-1920x1080-grey-q90.jpg"},
    {"ycc420-rst1row", "forest-1920x1080-ycc420-rst1row-q90.jpg"},
    {"ycc420-prog", "forest-1920x1080-ycc420-prog-q90.jpg"},
    {"small-ycc420", "forest-320x180-ycc420-q90.jpg"},
    {"small-ycc422", "forest-320x180-ycc422-q90.jpg"},
    {"small-ycc444", "forest-320x180-ycc444-q90.jpg"},
    {"small-grey", "forest-320x180-grey-q90.jpg"},
    {"small-ycc420-rst1row", "forest-320x180-ycc420-rst1row-q90.jpg"},
    {"small-ycc420-prog", "forest-320x180-ycc420-prog-q90.jpg"},
};

struct Frame {
    std::string name;
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
};

int32_t RowStep(int32_t width) { return (width * 3 + 3) & ~3; }

size_t ImageBytes(const Frame& frame) {
    return static_cast<size_t>(RowStep(frame.width)) * static_cast<size_t>(frame.height);
}

bool ReadFrame(const std::string& path, Frame* frame) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    frame->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return ProbeJpegSize(frame->bytes.data(), frame->bytes.size(), &frame->width, &frame->height);
}

// ---------------------------------------------------------------------------
// libjpeg-turbo. Its default error handler ends the process; this one jumps
// back to the decode call instead.

struct LibjpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void LeaveOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<LibjpegErrors*>(info->err)->jump, 1);
}

// `rows` holds one pointer per picture row: row 0 of the picture goes to the
// last row of the buffer.
bool DecodeWithLibjpeg(const Frame& frame, std::vector<JSAMPROW>& rows) {
    jpeg_decompress_struct info;
    LibjpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = LeaveOnError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, frame.bytes.data(), static_cast<unsigned long>(frame.bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        jpeg_read_scanlines(&info, &rows[info.output_scanline],
                            info.output_height - info.output_scanline);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

std::vector<JSAMPROW> BottomUpRows(const Frame& frame, std::vector<uint8_t>& pixels) {
    std::vector<JSAMPROW> rows(static_cast<size_t>(frame.height));
    for (int32_t y = 0; y < frame.height; ++y) {
        rows[static_cast<size_t>(y)] =
            pixels.data() + static_cast<size_t>(frame.height - 1 - y) * RowStep(frame.width);
    }
    return rows;
}

// ---------------------------------------------------------------------------
// The benchmarks.

void SetRate(benchmark::State& state, const Frame& frame) {
    state.counters["MP/s"] = benchmark::Counter(
        static_cast<double>(frame.width) * frame.height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// The codec with `threads` threads for each frame (WEMB_THREADS, read when
// the session opens its instance).
void DecodeCodec(benchmark::State& state, const Frame* frame, int threads) {
    setenv("WEMB_THREADS", std::to_string(threads).c_str(), 1);
    CodecSession session;
    std::string error;
    if (!session.Begin(WembFormat(frame->width, frame->height), &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<uint8_t> pixels(session.OutputFormat().biSizeImage);
    for (auto _ : state) {
        if (session.Decompress(frame->bytes.data(), static_cast<uint32_t>(frame->bytes.size()),
                               pixels.data()) != ICERR_OK) {
            state.SkipWithError("the codec refused the frame");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetRate(state, *frame);
}

void DecodeLibjpeg(benchmark::State& state, const Frame* frame) {
    std::vector<uint8_t> pixels(ImageBytes(*frame));
    std::vector<JSAMPROW> rows = BottomUpRows(*frame, pixels);
    for (auto _ : state) {
        if (!DecodeWithLibjpeg(*frame, rows)) {
            state.SkipWithError("libjpeg refused the frame");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetRate(state, *frame);
}

// ---------------------------------------------------------------------------
// One decode of each kind outside the timing: the codec's peak heap and the
// difference between the pictures.

struct FrameCheck {
    bool decoded = false;
    std::vector<int64_t> peakHeapBytes;  // for each thread count; -1 where the decode failed
    int maxDifference = -1;
};

// The codec's peak heap while a new session on `threads` threads decodes the
// frame, or -1.
int64_t PeakHeap(const Frame& frame, int threads) {
    setenv("WEMB_THREADS", std::to_string(threads).c_str(), 1);
    CodecSession session;
    std::string error;
    if (!session.Begin(WembFormat(frame.width, frame.height), &error)) return -1;
    std::vector<uint8_t> picture(session.OutputFormat().biSizeImage);
    const int64_t before = ReadHeapStatistics().bytesInUse;
    ResetHeapPeak();
    const bool decoded = session.Decompress(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()),
                                            picture.data()) == ICERR_OK;
    return decoded ? ReadHeapStatistics().peakBytes - before : -1;
}

FrameCheck CheckFrame(const Frame& frame, const std::vector<int>& threadCounts) {
    FrameCheck check;
    for (int threads : threadCounts) check.peakHeapBytes.push_back(PeakHeap(frame, threads));
    setenv("WEMB_THREADS", "1", 1);
    CodecSession session;
    std::string error;
    if (!session.Begin(WembFormat(frame.width, frame.height), &error)) return check;
    std::vector<uint8_t> ours(session.OutputFormat().biSizeImage);
    if (session.Decompress(frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()),
                           ours.data()) != ICERR_OK) {
        return check;
    }
    check.decoded = true;

    std::vector<uint8_t> theirs(ImageBytes(frame));
    std::vector<JSAMPROW> rows = BottomUpRows(frame, theirs);
    if (ours.size() != theirs.size() || !DecodeWithLibjpeg(frame, rows)) return check;
    const size_t step = static_cast<size_t>(RowStep(frame.width));
    int largest = 0;
    for (size_t row = 0; row < static_cast<size_t>(frame.height); ++row) {
        for (size_t x = 0; x < static_cast<size_t>(frame.width) * 3; ++x) {
            const int d = std::abs(ours[row * step + x] - theirs[row * step + x]);
            if (d > largest) largest = d;
        }
    }
    check.maxDifference = largest;
    return check;
}

// ---------------------------------------------------------------------------
// The console output as usual, and the MP/s of every run kept for the table:
// the median when repetitions give one, else the last run.

class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const auto counter = run.counters.find("MP/s");
            if (counter == run.counters.end()) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") m_median[name] = counter->second.value;
                if (run.aggregate_name == "max") m_best[name] = counter->second.value;
            } else {
                m_last[name] = counter->second.value;
            }
        }
    }

    // 0 when the benchmark did not run.
    double Rate(const std::string& name) const {
        const auto median = m_median.find(name);
        if (median != m_median.end()) return median->second;
        const auto last = m_last.find(name);
        return last != m_last.end() ? last->second : 0.0;
    }

    // The best repetition; 0 without repetitions.
    double BestRate(const std::string& name) const {
        const auto best = m_best.find(name);
        return best != m_best.end() ? best->second : 0.0;
    }

    bool HasRepetitions() const { return !m_best.empty(); }

private:
    std::map<std::string, double> m_median;
    std::map<std::string, double> m_best;
    std::map<std::string, double> m_last;
};

// With --benchmark_repetitions, a "max" aggregate beside mean and median: of
// MP/s, the best repetition, the one least disturbed by other work on the
// machine.
double Largest(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

std::string FramesDirectory(int argc, char** argv) {
    if (argc > 1) return argv[1];
    if (const char* fromEnvironment = std::getenv("WEMB_BENCH_FRAMES")) return fromEnvironment;
    return WEMB_BENCH_FRAMES_DIR;
}

void PrintRates(double codec, double libjpeg) {
    char ratio[16] = "-";
    if (codec > 0 && libjpeg > 0) std::snprintf(ratio, sizeof(ratio), "%.2f", codec / libjpeg);
    std::printf(" %12.1f %12.1f %6s", codec, libjpeg, ratio);
}

}  // namespace

// Takes --threads=LIST (thread counts, comma-separated) out of the
// arguments; 1 is always measured.
std::vector<int> TakeThreadCounts(int* argc, char** argv) {
    std::vector<int> counts = {1};
    const std::string flag = "--threads=";
    int kept = 0;
    for (int i = 0; i < *argc; ++i) {
        const std::string argument = argv[i];
        if (argument.compare(0, flag.size(), flag) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        std::string list = argument.substr(flag.size());
        for (size_t at = 0; at < list.size();) {
            const size_t comma = std::min(list.find(',', at), list.size());
            const int count = std::atoi(list.substr(at, comma - at).c_str());
            if (count > 1 && std::find(counts.begin(), counts.end(), count) == counts.end()) counts.push_back(count);
            at = comma + 1;
        }
    }
    *argc = kept;
    return counts;
}

std::string CodecName(int threads, const std::string& frame) {
    return threads == 1 ? "codec/" + frame : "codec-" + std::to_string(threads) + "t/" + frame;
}

int main(int argc, char** argv) {
    const std::vector<int> threadCounts = TakeThreadCounts(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        benchmark::ReportUnrecognizedArguments(argc, argv);
        return 1;
    }
    const std::string directory = FramesDirectory(argc, argv);

    std::vector<Frame> frames;
    for (const FrameFile& file : kFrameFiles) {
        Frame frame;
        frame.name = file.name;
        if (!ReadFrame(directory + "/" + file.file, &frame)) {
            std::fprintf(stderr, "wemb_bench: cannot read %s/%s\n", directory.c_str(), file.file);
            continue;
        }
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        std::fprintf(stderr, "wemb_bench: no frames in %s; make them with scripts/make-bench-frames.sh\n",
                     directory.c_str());
        return 1;
    }

    CodecLibrary library;
    if (!library.Loaded()) {
        std::fprintf(stderr, "wemb_bench: the codec did not load\n");
        return 1;
    }
    std::vector<FrameCheck> checks;
    for (const Frame& frame : frames) {
        checks.push_back(CheckFrame(frame, threadCounts));
        for (int threads : threadCounts) {
            benchmark::RegisterBenchmark(CodecName(threads, frame.name).c_str(), DecodeCodec, &frame, threads)
                ->Unit(benchmark::kMillisecond)
                ->ComputeStatistics("max", Largest);
        }
        benchmark::RegisterBenchmark(("libjpeg/" + frame.name).c_str(), DecodeLibjpeg, &frame)
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("max", Largest);
    }

    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const bool best = reporter.HasRepetitions();
    std::printf("\n%-22s %10s %12s %12s %6s", "frame", "size", "codec MP/s", "libjpeg MP/s", "ratio");
    if (best) std::printf(" %12s %12s %6s", "codec best", "libjpeg best", "ratio");
    for (size_t t = 1; t < threadCounts.size(); ++t) std::printf(" %9s %8s", (std::to_string(threadCounts[t]) + "t MP/s").c_str(), "speedup");
    for (int threads : threadCounts) std::printf(" %14s", ("heap " + std::to_string(threads) + "t").c_str());
    std::printf(" %9s\n", "max diff");
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& frame = frames[i];
        const std::string size = std::to_string(frame.width) + "x" + std::to_string(frame.height);
        std::printf("%-22s %10s", frame.name.c_str(), size.c_str());
        const double single = reporter.Rate(CodecName(1, frame.name));
        PrintRates(single, reporter.Rate("libjpeg/" + frame.name));
        if (best) {
            PrintRates(reporter.BestRate(CodecName(1, frame.name)), reporter.BestRate("libjpeg/" + frame.name));
        }
        for (size_t t = 1; t < threadCounts.size(); ++t) {
            const double threaded = reporter.Rate(CodecName(threadCounts[t], frame.name));
            char speedup[16] = "-";
            if (threaded > 0 && single > 0) std::snprintf(speedup, sizeof(speedup), "%.2f", threaded / single);
            std::printf(" %9.1f %8s", threaded, speedup);
        }
        for (int64_t bytes : checks[i].peakHeapBytes) {
            char peak[24] = "failed";
            if (bytes >= 0) std::snprintf(peak, sizeof(peak), "%lld B", static_cast<long long>(bytes));
            std::printf(" %14s", peak);
        }
        std::printf(" %9d\n", checks[i].maxDifference);
    }
    std::printf("MP/s: median of the repetitions, or the one run; best: the fastest repetition\n"
                "ratio = codec MP/s / libjpeg MP/s (one thread each); speedup = codec on N threads / on one;\n"
                "heap Nt = the codec's peak heap decoding the frame on N threads;\n"
                "max diff = largest |codec - libjpeg| of a sample\n");
    return 0;
}
