#include "tools/host_options.h"

#include <cerrno>
#include <cstdlib>

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

}  // namespace

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

bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options,
                      std::string* error) {
    HostOptions parsed;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
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
        } else if (arg == "--raw") {
            parsed.raw = true;
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
    }
    *options = parsed;
    return true;
}

std::string HostUsage() {
    return R"(usage: wemb-decode [options] INPUT...

Decodes wemb video through the wemb codec, exactly as a Video for Windows
player would: every frame goes through the codec's DriverProc and comes back
as a 24-bit bottom-up BGR bitmap.

Inputs:
  FILE.avi            an AVI file whose video stream is wemb (plain AVI or
                      OpenDML, with or without an index)
  FILE.jpg ...        JPEG frames, each decoded at its own size
  -                   one JPEG frame read from standard input

Output (choose one; with neither, frames are decoded and counted only):
  -o, --output PATH   write BMP files. PATH is a file name for a single frame,
                      a pattern with a printf number (frames/%05d.bmp), or a
                      directory (ends with / or exists): DIR/frame-000000.bmp,
                      or DIR/NAME.bmp for JPEG inputs. A plain file name with
                      several frames gets the frame number before .bmp.
      --raw           write the frames to standard output as raw bgr24, rows
                      bottom-up without padding. To play them:
                        wemb-decode --raw clip.avi | ffplay -f rawvideo \
                          -pixel_format bgr24 -video_size 512x288 \
                          -framerate 25 -vf vflip -
                      or re-encode: ... | ffmpeg -f rawvideo -pixel_format bgr24
                          -video_size 512x288 -framerate 25 -i - -vf vflip out.mp4

Options:
  -f, --frames RANGE  decode only frames N, A-B, A- or -B (numbered from 0)
  -j, --threads N     decode on N threads (default: one per core); output
                      stays in frame order
      --force-wemb    hand a stream of another compression (MJPG, ...) to the
                      codec as if it were wemb
      --info          describe the inputs and the codec; decode nothing
  -q, --quiet         no progress bar
  -h, --help          this text

A damaged frame is reported with its number and skipped; the run goes on.
Exit status: 0 when every frame decoded, 1 when any frame failed, 2 when an
input could not be used at all.
)";
}
