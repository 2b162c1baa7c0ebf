#include "tools/frame_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/driver.h"
#include "tools/codec_session.h"
#include "tools/jpeg_probe.h"

namespace {

constexpr size_t kMaxJpegBytes = size_t(1) << 30;

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    const bool fromStdin = path == "-";
    std::FILE* file = fromStdin ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    bool tooLarge = false;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        if (bytes->size() + got > kMaxJpegBytes) {
            tooLarge = true;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    if (!fromStdin) std::fclose(file);
    if (tooLarge) {
        *error = (fromStdin ? std::string("standard input") : path) + " is larger than 1 GB";
        return false;
    }
    if (failed) {
        *error = "cannot read " + (fromStdin ? std::string("standard input") : path);
        return false;
    }
    return true;
}

bool AviVideoSource::Open(const std::string& path, bool forceWemb, std::string* error) {
    if (!m_reader.Open(path, error)) return false;
    m_path = path;
    m_format = m_reader.VideoFormat();
    if (forceWemb) m_format.biCompression = kWembFourcc;
    return true;
}

bool AviVideoSource::Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
                          std::string* error) const {
    *format = m_format;
    return m_reader.ReadFrame(index, bytes, error);
}

bool AviVideoSource::FrameRate(uint32_t* rate, uint32_t* scale) const {
    const AviFrameRate stream = m_reader.FrameRate();
    *rate = stream.rate;
    *scale = stream.scale;
    return stream.rate != 0 && stream.scale != 0;
}

std::string AviVideoSource::Label(size_t index) const {
    return m_path + ": frame " + std::to_string(index);
}

JpegFileSource::JpegFileSource(std::vector<std::string> paths,
                               std::shared_ptr<const std::vector<uint8_t>> stdinBytes)
    : m_paths(std::move(paths)), m_stdin(std::move(stdinBytes)) {}

bool JpegFileSource::Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
                          std::string* error) const {
    const std::string& path = m_paths[index];
    if (path == "-") {
        if (m_stdin == nullptr) {
            *error = "standard input was not read";
            return false;
        }
        *bytes = *m_stdin;
    } else if (!ReadWholeFile(path, bytes, error)) {
        return false;
    }
    if (bytes->empty()) {
        *error = "empty file";
        return false;
    }
    int32_t width = 0, height = 0;
    if (!ProbeJpegSize(bytes->data(), bytes->size(), &width, &height)) {
        *error = "no JPEG frame header found";
        return false;
    }
    // The format is the host's business: a frame of its own size. A frame
    // header with no lines (height given later by DNL) cannot be described.
    if (width <= 0 || height <= 0) {
        *error = "the JPEG frame header gives a size of " + std::to_string(width) + " x " +
                 std::to_string(height);
        return false;
    }
    *format = WembFormat(width, height);
    return true;
}

std::string JpegFileSource::Label(size_t index) const {
    return m_paths[index] == "-" ? "standard input" : m_paths[index];
}

std::string JpegFileSource::Stem(size_t index) const {
    if (m_paths[index] == "-") return "stdin";
    std::string name = BaseName(m_paths[index]);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}
