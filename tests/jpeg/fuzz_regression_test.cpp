// Streams found by fuzzing (fuzz/decode_fuzzer.cpp) that cost far more than
// their size should allow. The originals are in fuzz/regressions/; the
// streams here are hand-made equivalents small enough to read.
//
// The bounds are on the work the decoder asks of the primitives
// (support/primitive_counters.h) and on the heap it takes, never on time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "primitives/memory.h"
#include "support/codec_decode.h"
#include "support/jpeg_stream.h"
#include "support/primitive_counters.h"

namespace {

using namespace wemb_test;

// Huffman tables of one 1-bit code each: "0" is a DC difference of 0, or an
// AC EOB, so a block of all-zero coefficients costs one bit per table.
const HuffmanCodeLengths kOneCode = {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00}};

struct Decoded : DecoderResult {
    PrimitiveCounts counts;
};

// Decodes into a ColorGrey destination, counting the primitives' calls.
Decoded DecodeGrey(const std::vector<uint8_t>& bytes) {
    Decoded decoded;
    ResetPrimitiveCounts();
    static_cast<DecoderResult&>(decoded) = DecodeWithDecoder(bytes, ColorGrey, 1);
    decoded.counts = CurrentPrimitiveCounts();
    return decoded;
}

// A complete 64 x 64 grey progressive frame, every coefficient zero: a DC
// scan and an AC scan of 64 one-bit blocks each (8 zero bytes), then
// `failingScans` DC scans without any data, each of which fails at its first
// block because the next marker follows at once.
std::vector<uint8_t> ProgressiveWithFailingScans(int failingScans) {
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, kOneCode).Dht(kAcClass, 0, kOneCode).Sof2(64, 64, {{1, 1, 1, 0}});
    const std::vector<uint8_t> zeroBits(8, 0x00);
    s.Sos({{1, 0, 0}}, 0, 0).Raw(zeroBits);
    s.Sos({{1, 0, 0}}, 1, 63).Raw(zeroBits);
    for (int i = 0; i < failingScans; ++i) s.Sos({{1, 0, 0}}, 0, 0);
    return s.Eoi().Bytes();
}

// Finding: every scan of a progressive frame that failed, and every scan after
// the frame was complete, rebuilt the whole picture (dequantisation, inverse
// DCT, up-sampling, conversion). A scan header is 10 bytes, so a stream of a
// few kilobytes cost thousands of full-frame rebuilds: 50 KB of such scans on
// a 2048 x 2048 frame took 24 s in a release build (fuzz/regressions/
// progressive_rebuild_per_scan.jpg). The picture only needs building once,
// when the frame ends.
TEST(FuzzRegression, ProgressiveRebuildsDoNotGrowWithTheNumberOfScans) {
    const Decoded few = DecodeGrey(ProgressiveWithFailingScans(2));
    const Decoded many = DecodeGrey(ProgressiveWithFailingScans(200));
    ASSERT_EQ(few.status, DecOk);
    ASSERT_EQ(many.status, DecOk);
    // All coefficients zero: every sample is the level shift, 128.
    EXPECT_EQ(std::count(many.pixels.begin(), many.pixels.end(), 128), 64 * 64);
    EXPECT_EQ(many.pixels, few.pixels);
    EXPECT_GE(few.counts.reconstructBlockCalls, 64) << "the picture is built at least once";
    EXPECT_EQ(many.counts.reconstructBlockCalls, few.counts.reconstructBlockCalls)
        << "198 more failing scans rebuilt the 64-block frame "
        << (many.counts.reconstructBlockCalls - few.counts.reconstructBlockCalls) / 64
        << " more times";
}

// Finding: every AC scan visits every block of its component, also when one
// EOB run of up to 32767 blocks covers them all in two bytes; with no scan
// failing and no AC scan at Al = 0 the frame was never rebuilt, yet 4000 such
// scans of 12 bytes on a 1920 x 1080 grey frame took 4.5 s in a release build
// (fuzz/regressions/progressive_ac_scan_flood.jpg). No frame needs that many
// scans: each of at most 4 components has one DC and 63 AC coefficients,
// each sent at most 14 times (a first pass at Al <= 13 and one refinement per
// bit), so 4 x 64 x 14 = 3584 scans send everything a frame can hold; any
// scan beyond that repeats one. The block decoders' work must stay within
// that many scans.
TEST(FuzzRegression, ProgressiveScansBeyondAnyUsefulNumberAreNotDecoded) {
    constexpr int kMeaningfulScans = 4 * 64 * 14;
    constexpr int kScans = 4000;
    constexpr int kBlocks = 64;  // a 64 x 64 grey frame
    // AC table of one code, "0": EOBRUN with 6 extra bits (T.81 G.1.2.2), so
    // the byte 0x00 is an EOB run of 2^6 = 64 blocks, the whole component.
    const HuffmanCodeLengths eobRun64 = {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x60}};
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kAcClass, 0, eobRun64).Sof2(64, 64, {{1, 1, 1, 0}});
    for (int i = 0; i < kScans; ++i) {
        s.Sos({{1, 0, 0}}, 1, 63, 0, 1).Raw({0x00});  // first AC pass at Al = 1
    }
    const Decoded d = DecodeGrey(s.Eoi().Bytes());
    EXPECT_LE(d.counts.progressiveAcBlockCalls, int64_t{kMeaningfulScans} * kBlocks);
}

// Heap bytes at the peak of decoding a 1024-pixel-wide progressive frame of
// `height` rows whose one DC scan has no data (its buffers are allocated,
// then the scan fails and the picture is built from zero coefficients).
int64_t PeakOfProgressiveFrame(const std::vector<FrameComponent>& components, int height) {
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, kOneCode).Sof2(1024, height, components);
    std::vector<ScanComponent> scan;
    for (const FrameComponent& f : components) scan.push_back({f.id, 0, 0});
    s.Sos(scan, 0, 0).Eoi();
    const int64_t before = ReadHeapStatistics().bytesInUse;
    ResetHeapPeak();
    EXPECT_EQ(DecodeGrey(s.Bytes()).status, DecOk);
    return ReadHeapStatistics().peakBytes - before;
}

// Finding: a progressive frame reserved 20 blocks (2560 bytes) of
// coefficients per MCU whatever its layout, where it uses N = the sum of
// H x V over its components: 20 times too much for a grey frame, more than 3
// times for 4:2:0. A 140-byte stream declaring a 2048 x 2048 grey frame made
// the decoder allocate and zero 168 MB before reading any data
// (fuzz/regressions/progressive_coefficient_reserve.jpg).
//
// Per pixel of the frame, the coefficients take 2 bytes (64 of 16 bits per
// 64 pixels) for each full-resolution component and a quarter of that for
// each 4:2:0 chroma component; every component of a progressive frame keeps
// two full-size planes of a byte per pixel (its samples, and the plane it is
// reconstructed into). The heap a frame takes grows with its height by that
// much per pixel, plus a little for the planes' border columns.
TEST(FuzzRegression, ProgressiveMemoryGrowsWithTheFrameByItsCoefficientsAndPlanes) {
    struct Case {
        const char* name;
        std::vector<FrameComponent> components;
        double coefficientBytesPerPixel;
    };
    const Case cases[] = {{"grey", {{1, 1, 1, 0}}, 2.0}, {"4:2:0", {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 3.0}};
    for (const Case& c : cases) {
        const double extraPixels = 1024.0 * 1024.0;
        const int64_t growth = PeakOfProgressiveFrame(c.components, 1024 + 64) - PeakOfProgressiveFrame(c.components, 64);
        const double planeBytesPerPixel = 2.0 * static_cast<double>(c.components.size());
        const double borderSlack = 0.05;  // border columns of the planes
        EXPECT_LE(static_cast<double>(growth) / extraPixels, c.coefficientBytesPerPixel + planeBytesPerPixel + borderSlack)
            << c.name;
    }
}

}  // namespace
