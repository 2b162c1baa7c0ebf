#include "tools/input_kind.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/riff_file.h"

namespace {

constexpr uint8_t kRiff[4] = {'R', 'I', 'F', 'F'};

std::string HexBytes(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string ByteCount(size_t size) { return std::to_string(size) + (size == 1 ? " byte" : " bytes"); }

}  // namespace

InputKind ClassifyInput(const uint8_t* head, size_t size, std::string* what) {
    if (size == 0) {
        *what = "an empty file";
        return InputKind::Unusable;
    }
    const size_t seen = size < kInputHeadBytes ? size : kInputHeadBytes;
    // Every RIFF file starts with 'RIFF', its size and its form type.
    if (std::memcmp(head, kRiff, seen < 4 ? seen : 4) == 0) {
        if (size < kInputHeadBytes) {
            *what = "only " + ByteCount(size) + ", too short to tell what it holds (an AVI file "
                    "starts with a 12-byte RIFF header)";
            return InputKind::Unusable;
        }
        const uint32_t form = ReadLE32(head + 8);
        if (form == ReadLE32(reinterpret_cast<const uint8_t*>("AVI "))) return InputKind::Avi;
        *what = "a RIFF file of form " + QuoteFourcc(form) + ", not an AVI file";
        return InputKind::Unusable;
    }
    if (size >= 2 && head[0] == 0xFF && head[1] == 0xD8) return InputKind::Jpeg;
    *what = "neither an AVI file nor a JPEG stream (it begins with " + HexBytes(head, seen) + ")";
    return InputKind::Unusable;
}

InputKind ClassifyFile(const std::string& path, std::string* what) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *what = std::string("cannot open: ") + std::strerror(errno);
        return InputKind::Unusable;
    }
    uint8_t head[kInputHeadBytes] = {};
    const size_t got = std::fread(head, 1, sizeof(head), file);
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (failed) {
        *what = std::string("cannot read: ") + std::strerror(readError);
        return InputKind::Unusable;
    }
    return ClassifyInput(head, got, what);
}
