#include "tools/riff_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required for files over 4 GB");

std::string FourccText(uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c <= 0x7E) ? c : '?';
    }
    return text;
}

std::string QuoteFourcc(uint32_t fourcc) { return "'" + FourccText(fourcc) + "'"; }

bool IsPlausibleFourcc(uint32_t fourcc) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = (fourcc >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

void WarningList::Add(std::string message) {
    if (m_messages.size() < kMaxMessages) {
        m_messages.push_back(std::move(message));
        return;
    }
    ++m_dropped;
    std::string summary = std::to_string(m_dropped) + " further warning(s) omitted";
    if (m_dropped == 1) {
        m_messages.push_back(std::move(summary));
    } else {
        m_messages.back() = std::move(summary);
    }
}

void WarningList::Clear() {
    m_messages.clear();
    m_dropped = 0;
}

RiffFile::~RiffFile() { Close(); }

bool RiffFile::Open(const std::string& path, std::string* error) {
    Close();
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "cannot read " + path + ": not a regular file";
        Close();
        return false;
    }
    m_size = static_cast<uint64_t>(info.st_size);
    return true;
}

void RiffFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_size = 0;
}

bool RiffFile::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (m_fd < 0 || !Contains(offset, length)) {
        return false;
    }
    uint8_t* dest = static_cast<uint8_t*>(out);
    while (length > 0) {
        const ssize_t got = ::pread(m_fd, dest, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;  // I/O error, or the file shrank under us
        }
        dest += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
}

namespace {

std::string OverrunMessage(const RiffChunk& chunk, uint64_t end, uint64_t fileSize) {
    return "chunk " + QuoteFourcc(chunk.id) + " at offset " + std::to_string(chunk.offset) +
           " claims " + std::to_string(chunk.size) + " bytes but " +
           (end == fileSize ? "the file" : "its list") + " ends at offset " +
           std::to_string(end) + (end == fileSize ? " (truncated file?)" : "");
}

}  // namespace

void WalkChunks(const RiffFile& file, uint64_t begin, uint64_t end,
                const std::function<bool(const RiffChunk&)>& visit, WarningList* warnings) {
    uint64_t offset = begin;
    while (offset < end && end - offset >= 8) {
        uint8_t header[12];
        if (!file.ReadAt(offset, header, 8)) {
            warnings->Add("cannot read the chunk header at offset " + std::to_string(offset));
            return;
        }
        RiffChunk chunk{offset, ReadLE32(header), ReadLE32(header + 4), 0, false};
        if (!IsPlausibleFourcc(chunk.id)) {
            warnings->Add("unreadable chunk id at offset " + std::to_string(offset) +
                          "; the rest of the enclosing list is skipped");
            return;
        }
        chunk.overruns = chunk.End() > end;
        const bool isContainer = chunk.id == kFourccRiff || chunk.id == kFourccList;
        if (isContainer && chunk.size >= 4 && end - offset >= 12 &&
            file.ReadAt(offset + 8, header + 8, 4)) {
            chunk.listType = ReadLE32(header + 8);
            if (!IsPlausibleFourcc(chunk.listType)) {
                chunk.listType = 0;
            }
        }
        if (isContainer && chunk.listType == 0) {
            warnings->Add("list at offset " + std::to_string(offset) +
                          " has no readable list type; skipped");
        }
        if (chunk.overruns) {
            warnings->Add(OverrunMessage(chunk, end, file.Size()));
        }
        if (!visit(chunk) || chunk.overruns) {
            return;
        }
        offset = chunk.End() + (chunk.size & 1);
    }
}
