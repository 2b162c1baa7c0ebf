#include "tools/host_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/worker_pool.h"
#include "tools/frame_output.h"

namespace {

bool ParseCount(const std::string& text, int64_t limit, int64_t* value) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (parsed > limit) return false;
    *value = parsed;
    return true;
}

constexpr int64_t kMaxFrame = int64_t(1) << 40;
constexpr int64_t kMaxThreads = 256;
constexpr uint64_t kMinMemory = uint64_t(1) << 20;

}  // namespace

bool ParseByteCount(const std::string& text, uint64_t* bytes) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    int64_t count = 0;
    if (!ParseCount(text.substr(0, digits), int64_t(1) << 50, &count)) return false;
    std::string unit = text.substr(digits);
    for (const char* tail : {"iB", "B"}) {
        const std::string t = tail;
        if (unit.size() > t.size() && unit.compare(unit.size() - t.size(), t.size(), t) == 0) {
            unit.resize(unit.size() - t.size());
            break;
        }
    }
    int shift = 0;
    if (unit == "K" || unit == "k") {
        shift = 10;
    } else if (unit == "M" || unit == "m") {
        shift = 20;
    } else if (unit == "G" || unit == "g") {
        shift = 30;
    } else if (unit == "T" || unit == "t") {
        shift = 40;
    } else if (!unit.empty()) {
        return false;
    }
    if (uint64_t(count) > (UINT64_MAX >> shift)) return false;
    *bytes = uint64_t(count) << shift;
    return true;
}

bool ParseFrameRange(const std::string& text, FrameRange* range) {
    const size_t dash = text.find('-');
    FrameRange parsed;
    if (dash == std::string::npos) {
        if (!ParseCount(text, kMaxFrame, &parsed.first)) return false;
        parsed.last = parsed.first;
    } else {
        const std::string first = text.substr(0, dash);
        const std::string last = text.substr(dash + 1);
        if (first.empty() && last.empty()) return false;
        if (!first.empty() && !ParseCount(first, kMaxFrame, &parsed.first)) return false;
        if (!last.empty() && !ParseCount(last, kMaxFrame, &parsed.last)) return false;
        if (parsed.last >= 0 && parsed.last < parsed.first) return false;
    }
    *range = parsed;
    return true;
}

namespace {

// The format of -o's files: --format when given, else the extension of the
// name (".png"; anything else is BMP). A name whose extension says the other
// format is refused.
bool ChooseImageFormat(const std::string& output, const std::string& format, ImageFormat* chosen,
                       std::string* error) {
    const std::string extension = FileExtension(output);
    const std::string named = extension == ".png" ? "png" : extension == ".bmp" ? "bmp" : "";
    if (!format.empty() && !named.empty() && named != format) {
        *error = "-o " + output + " names a " + named + " file, but --format says " + format;
        return false;
    }
    const std::string decided = !format.empty() ? format : named;
    *chosen = decided == "png" ? ImageFormat::Png : ImageFormat::Bmp;
    return true;
}

}  // namespace

bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options,
                      std::string* error) {
    HostOptions parsed;
    bool optionsEnded = false;
    std::string format;             // --format as given
    bool pixelFormatGiven = false;  // --pix-fmt
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // "--name=value" is "--name value".
        std::string attached;
        bool hasAttached = false;
        const size_t equals = arg.find('=');
        if (!optionsEnded && arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            attached = arg.substr(equals + 1);
            arg.resize(equals);
            hasAttached = true;
        }
        auto value = [&](std::string* out) {
            if (hasAttached) {
                *out = attached;
                hasAttached = false;
                return true;
            }
            if (i + 1 >= argc) {
                *error = "option " + arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            parsed.inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            parsed.help = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&parsed.output)) return false;
            if (parsed.output.empty() || parsed.output == "-") {
                *error = "-o takes a file, pattern or directory name (--raw writes to standard output)";
                return false;
            }
        } else if (arg == "--format") {
            if (!value(&format)) return false;
            if (format != "bmp" && format != "png") {
                *error = "--format takes bmp or png, not '" + format + "'";
                return false;
            }
        } else if (arg == "--raw") {
            parsed.raw = true;
        } else if (arg == "--pix-fmt") {
            std::string text;
            if (!value(&text)) return false;
            if (text != "bgr24" && text != "bgra") {
                *error = "--pix-fmt takes bgr24 or bgra, not '" + text + "'";
                return false;
            }
            parsed.rawBitCount = text == "bgra" ? 32 : 24;
            pixelFormatGiven = true;
        } else if (arg == "--bottom-up") {
            parsed.rawBottomUp = true;
        } else if (arg == "--info") {
            parsed.info = true;
        } else if (arg == "--force-wemb") {
            parsed.forceWemb = true;
        } else if (arg == "-q" || arg == "--quiet") {
            parsed.quiet = true;
        } else if (arg == "-j" || arg == "--threads" || arg.rfind("-j", 0) == 0) {
            std::string text = arg.size() > 2 && arg[1] == 'j' ? arg.substr(2) : "";
            if (text.empty() && !value(&text)) return false;
            int64_t threads = 0;
            if (!ParseCount(text, kMaxThreads, &threads) || threads < 1) {
                *error = "-j takes a thread count from 1 to 256, not '" + text + "'";
                return false;
            }
            parsed.threads = static_cast<int>(threads);
        } else if (arg == "--codec-threads") {
            std::string text;
            if (!value(&text)) return false;
            int64_t threads = 0;
            if (!ParseCount(text, kMaxPoolThreads, &threads) || threads < 1) {
                *error = "--codec-threads takes a thread count from 1 to " + std::to_string(kMaxPoolThreads) +
                         ", not '" + text + "'";
                return false;
            }
            parsed.codecThreads = static_cast<int>(threads);
        } else if (arg == "--max-memory") {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseByteCount(text, &parsed.maxMemory) || parsed.maxMemory < kMinMemory) {
                *error = "--max-memory takes a size of at least 1M (512M, 4G, ...), not '" + text + "'";
                return false;
            }
        } else if (arg == "-f" || arg == "--frames") {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseFrameRange(text, &parsed.range)) {
                *error = "--frames takes N, A-B, A- or -B (frame numbers from 0), not '" + text + "'";
                return false;
            }
        } else {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        }
        if (hasAttached) {
            *error = "option " + arg + " takes no value";
            return false;
        }
    }
    if (!parsed.help) {
        if (parsed.inputs.empty()) {
            *error = "no input given (see --help)";
            return false;
        }
        if (parsed.raw && !parsed.output.empty()) {
            *error = "--raw writes to standard output; it cannot be combined with -o";
            return false;
        }
        if (parsed.info && (parsed.raw || !parsed.output.empty())) {
            *error = "--info decodes nothing; it cannot be combined with -o or --raw";
            return false;
        }
        if (!parsed.raw && (pixelFormatGiven || parsed.rawBottomUp)) {
            *error = "--pix-fmt and --bottom-up choose how --raw writes frames; give --raw too";
            return false;
        }
        if (!format.empty() && parsed.output.empty()) {
            *error = "--format chooses the files -o writes; give -o too";
            return false;
        }
        if (!ChooseImageFormat(parsed.output, format, &parsed.imageFormat, error)) return false;
    }
    *options = parsed;
    return true;
}

std::string HostUsage() {
    return R"(usage: wemb-decode [options] INPUT...

Decodes wemb video through the wemb codec, exactly as a Video for Windows
player would: every frame goes through the codec's DriverProc, which writes
it straight into the layout the output needs (24-bit bottom-up BGR for BMP,
top-down rows for PNG and raw video, 32-bit BGRA on request).

Inputs:
  FILE.avi            an AVI file whose video stream is wemb (plain AVI or
                      OpenDML, with or without an index)
  FILE.jpg ...        JPEG frames, each decoded at its own size; they are
                      numbered 0, 1, ... in the order given
  -                   one JPEG frame read from standard input

Output (choose one; with neither, frames are decoded and counted only):
  -o, --output PATH   write one image file per frame: BMP (the bitmap as the
                      codec returns it to a player) or PNG, chosen by
                      --format or else by PATH's extension (.png; BMP
                      otherwise). PATH is one of:
                        a file name: OUT.bmp for a single frame; with several
                          frames the number (or the JPEG's name) goes before
                          the extension: OUT-000017.bmp, OUT-photo.png
                        a pattern with one %d, %u, %05d...: frames/%05d.png
                          (%% is a percent sign; a name with any other %
                          conversion is taken as a plain file name)
                        a directory (ends with / or exists):
                          DIR/frame-000017.bmp, or DIR/photo.bmp for photo.jpg
                      Missing directories are created. Frames are numbered
                      from 0 in their AVI file. A run that would give two
                      frames the same name is refused before decoding.
      --format bmp|png
                      the format of -o's files, whatever PATH's extension
      --raw           write the frames to standard output as raw video, top
                      row first, without row padding, and print on standard
                      error the ffmpeg input options that read it (size,
                      pixel format, rate), for instance:
                        wemb-decode --raw clip.avi | ffmpeg -f rawvideo \
                          -pixel_format bgr24 -video_size 512x288 \
                          -framerate 25 -i - out.mp4
      --pix-fmt bgr24|bgra
                      --raw's pixels: 3 bytes (blue, green, red; the
                      default) or 4 (blue, green, red, 255)
      --bottom-up     --raw's rows bottom row first, as a Video for Windows
                      player receives them (ffmpeg then needs -vf vflip)

Options:
  -f, --frames RANGE  decode only frames N, A-B, A- or -B (numbered from 0,
                      inclusive); a range that holds no frame is an error
  -j, --threads N     decode N frames at once, 1 to 256, each on its own
                      thread and codec instance; output stays in frame
                      order. No more than 4 threads per core are started
      --codec-threads N
                      threads the codec spreads each frame over, 1 to 32
                      (the codec's WEMB_THREADS, which it also takes from
                      the environment)
                      By default frames are decoded side by side, one per
                      processor, and a run of fewer frames than processors
                      shares the rest among them; given one of -j and
                      --codec-threads, the other fills the processors, and
                      the two multiplied never exceed them unless both are
                      given
      --max-memory SIZE
                      the most memory the decoding may hold at once, for
                      every thread together: 512M, 4G, ... (default: half
                      the physical memory). Threads wait for memory rather
                      than exceed it; a frame that alone needs more fails
      --force-wemb    hand a stream of another compression (MJPG, ...) to the
                      codec as if it were wemb
      --info          describe the inputs and the codec; decode nothing
  -q, --quiet         no progress bar (it is drawn only when standard error
                      is a terminal)
  -h, --help          this text
Long options also take their value as --frames=10-20.

A damaged frame is reported with its number and skipped; the run goes on.
A dropped frame (an empty AVI chunk) repeats the picture before it, as a
player shows it; one at the start of the run has no picture and is skipped.
The last line on standard error sums up the run.

Exit status: 0 every frame decoded; 1 some frames failed; 2 an input could
not be used (unreadable, neither an AVI file nor a JPEG stream, not wemb, no
frame in the range) or the command line is wrong; 3 the output could not be
written (disk full, closed pipe).
)";
}
