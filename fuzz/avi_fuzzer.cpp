// libFuzzer harness for the host's AVI reader: the input is written to a
// file in memory (/dev/shm when it exists, else the temporary directory),
// opened with AviReader and every frame it lists is read.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/avi_reader.h"

namespace {

std::string ScratchPath() {
    const std::string name = "/wemb_avi_fuzz_" + std::to_string(::getpid()) + ".avi";
    if (::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm" + name;
    }
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + name;
}

const std::string& Path() {
    static const std::string path = ScratchPath();
    return path;
}

void RemoveScratch() { ::unlink(Path().c_str()); }

bool WriteScratch(const uint8_t* data, size_t size) {
    const int fd = ::open(Path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    while (ok && size > 0) {
        const ssize_t written = ::write(fd, data, size);
        ok = written > 0;
        if (ok) {
            data += written;
            size -= static_cast<size_t>(written);
        }
    }
    return ::close(fd) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteScratch(data, size)) {
        std::abort();  // the harness itself failed, not the reader
    }
    AviReader reader;
    std::string error;
    if (!reader.Open(Path(), &error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    // Everything the host asks of an open file.
    (void)reader.FrameRate();
    (void)reader.Warnings();
    (void)reader.OpenDmlTotalFrames();
    if (reader.VideoFormat().biWidth <= 0) std::abort();  // Open refuses such a format

    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < reader.FrameCount(); ++i) {
        const AviFrame& frame = reader.Frame(i);
        if (reader.ReadFrame(i, &bytes, &error)) {
            if (bytes.size() != frame.size) std::abort();  // exactly the payload
        } else if (error.empty()) {
            std::abort();
        }
    }
    if (reader.ReadFrame(reader.FrameCount(), &bytes, &error)) {
        std::abort();  // past the last frame
    }
    return 0;
}
