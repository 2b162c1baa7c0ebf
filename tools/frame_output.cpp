#include "tools/frame_output.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace {

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Numbered(size_t frame, int digits) {
    std::string text = std::to_string(frame);
    if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

// Expands the one integer conversion of a pattern that IsFramePattern accepts.
std::string ExpandPattern(const std::string& target, size_t frame) {
    std::string out;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] != '%') {
            out += target[i];
            continue;
        }
        if (target[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        const bool zeros = target[j] == '0';
        int width = 0;
        while (target[j] >= '0' && target[j] <= '9') width = width * 10 + (target[j++] - '0');
        const std::string number = Numbered(frame, zeros ? width : 0);
        if (!zeros && static_cast<int>(number.size()) < width) out.append(width - number.size(), ' ');
        out += number;
        i = j;  // on the 'd' or 'u'
    }
    return out;
}

}  // namespace

bool IsFramePattern(const std::string& target) {
    int conversions = 0;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] != '%') continue;
        if (i + 1 < target.size() && target[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        int digits = 0;
        while (j < target.size() && target[j] >= '0' && target[j] <= '9') {
            ++j;
            if (++digits > 2) return false;
        }
        if (j >= target.size() || (target[j] != 'd' && target[j] != 'u')) return false;
        ++conversions;
        i = j;
    }
    return conversions == 1;
}

std::string FileExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string extension = path.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string OutputPathFor(const std::string& target, size_t frame, const std::string& stem,
                          bool several, const std::string& extension) {
    if (IsFramePattern(target)) return ExpandPattern(target, frame);
    const bool directory = (!target.empty() && target.back() == '/') || IsDirectory(target);
    if (directory) {
        std::string dir = target;
        if (dir.back() != '/') dir += '/';
        return dir + (stem.empty() ? "frame-" + Numbered(frame, 6) : stem) + extension;
    }
    if (!several) return target;
    // One name for several frames: the frame number goes before the extension.
    const size_t slash = target.find_last_of('/');
    const size_t dot = target.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExtension ? target.substr(0, dot) : target;
    const std::string ending = hasExtension ? target.substr(dot) : extension;
    return base + "-" + (stem.empty() ? Numbered(frame, 6) : stem) + ending;
}

bool MakeParentDirectories(const std::string& path, std::string* error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string directory = path.substr(0, slash);
        if (directory.back() == '/' || IsDirectory(directory)) continue;  // "a//b", or there
        if (mkdir(directory.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(directory))) {
            *error = "cannot create the directory " + directory + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool WriteRawFrame(std::FILE* out, const DecodedFrame& frame, std::string* error) {
    const uint16_t bitCount = frame.format.biBitCount;
    if (bitCount != 24 && bitCount != 32) {
        *error = "a frame of " + std::to_string(bitCount) + " bits a pixel is not raw bgr24 or bgra";
        return false;
    }
    const int32_t width = frame.format.biWidth;
    const int32_t height = std::abs(frame.format.biHeight);
    const size_t rowBytes = static_cast<size_t>(width) * (bitCount / 8);
    const size_t step = (rowBytes + 3) & ~size_t(3);
    if (frame.pixels.size() < step * static_cast<size_t>(height)) {
        *error = "frame buffer smaller than its format";
        return false;
    }
    bool written = true;
    if (step == rowBytes) {  // no padding: the picture in one piece
        const size_t bytes = rowBytes * static_cast<size_t>(height);
        written = std::fwrite(frame.pixels.data(), 1, bytes, out) == bytes;
    } else {
        for (int32_t row = 0; row < height && written; ++row) {
            written = std::fwrite(frame.pixels.data() + step * row, 1, rowBytes, out) == rowBytes;
        }
    }
    // Flushed frame by frame, so that a failure is seen at the frame that met it.
    if (written) written = std::fflush(out) == 0;
    if (!written) {
        *error = errno == EPIPE ? std::string("standard output was closed by its reader")
                                : std::string("cannot write to standard output: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::string RawVideoArguments(int32_t width, int32_t height, uint16_t bitCount, uint32_t rate,
                              uint32_t scale) {
    std::string frameRate = "25";
    if (rate != 0 && scale != 0) {
        const uint32_t divisor = std::gcd(rate, scale);
        frameRate = std::to_string(rate / divisor);
        if (scale != divisor) frameRate += "/" + std::to_string(scale / divisor);
    }
    return std::string("-f rawvideo -pixel_format ") + (bitCount == 32 ? "bgra" : "bgr24") + " -video_size " +
           std::to_string(width) + "x" + std::to_string(height) + " -framerate " + frameRate + " -i -";
}
