// Writes the seed corpora of the two harnesses.
//
//   wemb_fuzz_seeds TESTDATA_DIR SAMPLE_AVI DECODE_DIR AVI_DIR
//
// DECODE_DIR receives every TESTDATA_DIR/*.jpg behind a selector byte and an
// instruction-set byte (see decode_fuzzer.cpp), cycling through the
// destination models, sizes, row paddings and instruction sets, and a few hand-made streams of layouts testdata/
// lacks (two components; restart intervals in a refinement scan). AVI_DIR receives small AVI files of each layout
// the tests' AVI builder makes, with tiny JPEG frames, and the first 16 KiB
// of SAMPLE_AVI (its headers and first frames; the index at its end is cut
// off, so the reader falls back on walking the movi list).
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/avi_builder.h"
#include "support/jpeg_stream.h"

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    std::fclose(file);
    return true;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<std::string> JpegNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Streams of all-zero coefficients whose tables hold one 1-bit code each, so
// that every block costs one bit per table: small, valid, and easy for the
// fuzzer to stretch.
std::vector<std::vector<uint8_t>> HandMadeStreams() {
    using namespace wemb_test;
    const HuffmanCodeLengths oneCode = {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00}};
    const std::vector<FrameComponent> two = {{1, 1, 1, 0}, {2, 1, 1, 0}};
    std::vector<std::vector<uint8_t>> streams;

    JpegStream sequential;  // 16 x 16, two components: 8 blocks, 16 bits
    sequential.Soi().Dqt(0, UniformQuant(2)).Dht(kDcClass, 0, oneCode).Dht(kAcClass, 0, oneCode);
    sequential.Sof0(16, 16, two).Sos({{1, 0, 0}, {2, 0, 0}}).Raw({0x00, 0x00}).Eoi();
    streams.push_back(sequential.Bytes());

    JpegStream progressive;  // DC of both, then each component's AC with a refinement
    progressive.Soi().Dqt(0, UniformQuant(2)).Dht(kDcClass, 0, oneCode).Dht(kAcClass, 0, oneCode);
    progressive.Sof2(16, 16, two).Dri(1);
    progressive.Sos({{1, 0, 0}, {2, 0, 0}}, 0, 0).Raw({0x00}).Rst(0).Raw({0x00}).Rst(1);
    progressive.Raw({0x00}).Rst(2).Raw({0x00}).Eoi();
    streams.push_back(progressive.Bytes());

    JpegStream refined;  // grey 16 x 8: DC, AC at Al = 1, AC refinement to Al = 0
    refined.Soi().Dqt(0, UniformQuant(2)).Dht(kDcClass, 0, oneCode).Dht(kAcClass, 0, oneCode);
    refined.Sof2(16, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}, 0, 0).Raw({0x00});
    refined.Sos({{1, 0, 0}}, 1, 63, 0, 1).Raw({0x00});
    refined.Dri(1).Sos({{1, 0, 0}}, 1, 63, 1, 0).Raw({0x00}).Rst(0).Raw({0x00}).Eoi();
    streams.push_back(refined.Bytes());
    return streams;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s TESTDATA_DIR SAMPLE_AVI DECODE_DIR AVI_DIR\n", argv[0]);
        return 2;
    }
    const std::string testdata = argv[1], sample = argv[2], decodeDir = argv[3], aviDir = argv[4];

    // Decode seeds; the selector's top bit (allocation failures) stays clear.
    const std::vector<std::string> names = JpegNames(testdata);
    std::vector<uint8_t> smallest;
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<uint8_t> jpeg;
        if (!ReadFile(testdata + "/" + names[i], &jpeg)) return 1;
        std::vector<uint8_t> seed = {static_cast<uint8_t>((i * 37) & 0x7F),
                                     static_cast<uint8_t>(i % 5)};
        seed.insert(seed.end(), jpeg.begin(), jpeg.end());
        if (!WriteFile(decodeDir + "/" + names[i], seed)) return 1;
        if (smallest.empty() || jpeg.size() < smallest.size()) smallest = jpeg;
    }
    const std::vector<std::vector<uint8_t>> handMade = HandMadeStreams();
    for (size_t i = 0; i < handMade.size(); ++i) {
        std::vector<uint8_t> seed = {static_cast<uint8_t>(i * 3 + 1), static_cast<uint8_t>(i)};
        seed.insert(seed.end(), handMade[i].begin(), handMade[i].end());
        if (!WriteFile(decodeDir + "/hand_made_" + std::to_string(i) + ".jpg", seed)) return 1;
    }
    if (smallest.empty()) {
        std::fprintf(stderr, "no JPEG files in %s\n", testdata.c_str());
        return 1;
    }

    // AVI seeds: two frames of the smallest test stream and a dropped one.
    using wemb_test::AviOptions;
    using wemb_test::IndexKind;
    struct Layout {
        const char* name;
        IndexKind index;
        bool audio;
        int recDepth;
        bool junk;
        size_t framesPerRiff;
    };
    const Layout layouts[] = {
        {"idx1_relative", IndexKind::Idx1Relative, false, 0, false, 0},
        {"idx1_absolute", IndexKind::Idx1Absolute, false, 0, true, 0},
        {"no_index", IndexKind::None, false, 0, false, 0},
        {"audio_rec", IndexKind::Idx1Relative, true, 2, true, 0},
        {"opendml", IndexKind::OpenDml, false, 0, false, 2},
        {"opendml_audio", IndexKind::OpenDml, true, 1, true, 1},
        {"avix_idx1", IndexKind::Idx1Relative, false, 0, false, 2},
    };
    for (const Layout& layout : layouts) {
        AviOptions options;
        options.frames = {smallest, {}, smallest};
        options.index = layout.index;
        options.audio = layout.audio;
        options.recDepth = layout.recDepth;
        options.junk = layout.junk;
        options.framesPerRiff = layout.framesPerRiff;
        options.width = 1;
        options.height = 1;
        if (!WriteFile(aviDir + "/" + layout.name + ".avi", wemb_test::BuildAvi(options).Bytes())) {
            return 1;
        }
    }
    std::vector<uint8_t> head;
    if (ReadFile(sample, &head)) {
        head.resize(std::min<size_t>(head.size(), 16384));
        if (!WriteFile(aviDir + "/sample_head.avi", head)) return 1;
    }
    return 0;
}
