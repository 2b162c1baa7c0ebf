// libFuzzer harness for the host's AVI reader and decoding pipeline: the
// input is written to a file in memory (/dev/shm when it exists, else the
// temporary directory), opened with AviReader and every frame it lists is
// read; then the first frames go through wemb-decode's own pipeline (the
// codec's header pass, the memory budget, DriverProc), its stream handed to
// the codec as wemb whatever its compression, under a budget of 16 MiB.
//
// The instruction-set level of the decoding is the input's size modulo 5,
// or WEMB_FUZZ_SIMD_LEVEL (0 AVX2 ... 4 scalar) when that is set.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "primitives/simd.h"
#include "tools/avi_reader.h"
#include "tools/decode_pipeline.h"
#include "tools/frame_source.h"

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

constexpr uint64_t kMemoryBudget = uint64_t(16) << 20;
constexpr size_t kFramesDecoded = 4;
const int32_t kSimdLevels[5] = {SimdAvx2, SimdAvx, SimdSsse3, SimdSse2, SimdScalar};

int32_t PickLevel(size_t size) {
    static const int forced = [] {
        const char* text = std::getenv("WEMB_FUZZ_SIMD_LEVEL");
        return text != nullptr && *text != '\0' ? std::atoi(text) % 5 : -1;
    }();
    return kSimdLevels[forced >= 0 ? forced : size % 5];
}

// The host's decoding of the first frames: every frame is delivered, in
// order, decoded into a buffer of its format's size or failed with a reason.
void DecodeFirstFrames(size_t inputSize) {
    AviVideoSource source;
    std::string error;
    if (!source.Open(Path(), true, &error)) std::abort();  // it opened a moment ago
    std::vector<size_t> indices;
    for (size_t i = 0; i < source.Count() && i < kFramesDecoded; ++i) indices.push_back(i);
    LimitSimdLevel(PickLevel(inputSize));
    size_t next = 0;
    RunDecodePipeline(source, indices, 1, kMemoryBudget, [&](DecodedFrame& frame) {
        if (frame.index != indices[next++]) std::abort();
        if (frame.ok && frame.pixels.size() != frame.format.biSizeImage) std::abort();
        if (!frame.ok && !frame.dropped && frame.error.empty()) std::abort();
        return true;
    });
    if (next != indices.size()) std::abort();
    LimitSimdLevel(SimdAvx2);
}

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
    DecodeFirstFrames(size);
    return 0;
}
