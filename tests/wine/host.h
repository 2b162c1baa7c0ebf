// What every check of vfw_host shares: the report that prints the findings,
// the inputs given on the command line, and the stream formats the checks
// hand to the compression manager.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (after windows.h, which they build on)
#include <mmsystem.h>
#include <vfw.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace vfw_host {

// Prints one line per finding, "ok <what>" or "FAIL <what>: <why>", and
// counts them.
class Report {
public:
    // Prints "ok <what>" or "FAIL <what>".
    bool Expect(bool passed, const char* what) { return Expectf(passed, what, "%s", ""); }

    // As Expect, with printf-style details after a failure: "FAIL <what>: <details>".
    __attribute__((format(printf, 4, 5))) bool Expectf(bool passed, const char* what,
                                                       const char* detailFormat, ...) {
        if (passed) {
            std::printf("ok %s\n", what);
            ++passed_;
        } else {
            va_list details;
            va_start(details, detailFormat);
            char text[512];
            std::vsnprintf(text, sizeof(text), detailFormat, details);
            va_end(details);
            std::printf("FAIL %s%s%s\n", what, text[0] != '\0' ? ": " : "", text);
            ++failed_;
        }
        std::fflush(stdout);
        return passed;
    }

    // Compares two results of ICSendMessage and friends.
    bool ExpectResult(LRESULT actual, LRESULT expected, const char* what) {
        return Expectf(actual == expected, what, "got %lld, want %lld",
                       static_cast<long long>(actual), static_cast<long long>(expected));
    }

    // A line of information that is neither a pass nor a failure.
    __attribute__((format(printf, 2, 3))) void Note(const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        std::printf("# ");
        std::vprintf(format, arguments);
        std::printf("\n");
        va_end(arguments);
        std::fflush(stdout);
    }

    int passed() const { return passed_; }
    int failed() const { return failed_; }

private:
    int passed_ = 0;
    int failed_ = 0;
};

// The command line:
//   vfw_host [--frame FRAME.jpg EXPECTED.bmp] [--clip CLIP.avi EXPECTED-DIR]
//            [--no-pictures]
// --frame names one JPEG frame and the picture the Linux host decoded from
// it; --clip names an AVI file of wemb video and the directory holding the
// Linux host's picture of each frame (frame-000000.bmp, ...). The picture
// checks fail when their inputs are missing, so that a wrong command line
// cannot pass unnoticed, unless --no-pictures says they are not wanted.
struct Inputs {
    std::string frameJpeg;
    std::string frameBmp;
    std::string clipAvi;
    std::string clipFrames;
    bool noPictures = false;
};

// Reads a whole file; false when it cannot be read.
inline bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    BYTE chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

const DWORD kWemb = mmioFOURCC('w', 'e', 'm', 'b');

inline BITMAPINFOHEADER WembFormat(LONG width, LONG height) {
    BITMAPINFOHEADER format = {};
    format.biSize = sizeof(format);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = kWemb;
    return format;
}

inline BITMAPINFOHEADER RgbFormat(LONG width, LONG height, WORD bitCount) {
    BITMAPINFOHEADER format = {};
    format.biSize = sizeof(format);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = bitCount;
    format.biCompression = BI_RGB;
    return format;
}

// An open codec instance, closed when it goes out of scope.
class Codec {
public:
    Codec() : handle_(ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS)) {}
    ~Codec() {
        if (handle_ != nullptr) ICClose(handle_);
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    HIC handle() const { return handle_; }

    // Reports and returns whether the open succeeded; checks that need the
    // codec start with it.
    bool Opened(Report& report, const char* what) const {
        return report.Expectf(handle_ != nullptr, what, "ICOpen(vidc, wemb) returned null");
    }

private:
    HIC handle_;
};

// Bytes per row of a 24-bit DIB: three per pixel, padded to a multiple of 4.
inline size_t RowStep24(LONG width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

}  // namespace vfw_host
