// Command line of wemb-decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FrameRange {
    int64_t first = 0;   // first frame number, counted from 0
    int64_t last = -1;   // last frame number, inclusive; -1 = to the end

    bool Contains(int64_t frame) const { return frame >= first && (last < 0 || frame <= last); }
};

// The files -o writes.
enum class ImageFormat { Bmp, Png };

struct HostOptions {
    std::vector<std::string> inputs;  // AVI files, JPEG files, or "-" for a JPEG on stdin
    std::string output;               // -o: image file, pattern with %d, or directory
    ImageFormat imageFormat = ImageFormat::Bmp;  // --format, else -o's extension
    bool raw = false;                 // --raw: frames on standard output
    uint16_t rawBitCount = 24;        // --pix-fmt: bgr24 (24) or bgra (32)
    bool rawBottomUp = false;         // --bottom-up: raw rows as a DIB holds them
    bool info = false;                // --info: describe the inputs, decode nothing
    bool forceWemb = false;           // --force-wemb: hand any compression to the codec
    bool quiet = false;               // -q: no progress bar
    bool help = false;
    int threads = 0;                  // -j: frames decoded at once; 0 = the host's choice
    int codecThreads = 0;             // --codec-threads: threads per frame; 0 = the host's choice
    uint64_t maxMemory = 0;           // --max-memory in bytes: 0 = the default budget
    FrameRange range;
};

// Parses argv. False with a message for anything it cannot take.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions* options,
                      std::string* error);

// Parses "N", "A-B", "A-" or "-B" (frame numbers from 0, inclusive).
bool ParseFrameRange(const std::string& text, FrameRange* range);

// Parses a byte count: digits, optionally followed by K, M, G or T (powers
// of 1024, with or without a trailing "iB" or "B"): "512M", "4G", "1500000".
bool ParseByteCount(const std::string& text, uint64_t* bytes);

// The text of --help.
std::string HostUsage();
