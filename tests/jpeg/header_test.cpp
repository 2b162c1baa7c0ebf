// The header pass: marker search, frame and scan headers, DRI, APP14, the
// sampling mode, the colour model and the MCU geometry.
#include <gtest/gtest.h>

#include <vector>

#include "jpeg/decoder.h"
#include "support/decoder_inspector.h"
#include "support/failing_heap.h"
#include "support/jpeg_stream.h"

namespace {

using namespace wemb_test;
using Bytes = std::vector<uint8_t>;

struct Header {
    DecoderStatus status;
    int32_t width = -1, height = -1, components = -1, colorModel = -1, samplingMode = -1;
};

Header Parse(CJPEGDecoder& decoder, const Bytes& bytes) {
    Header h{DecOk};
    decoder.AttachInput(bytes.data(), static_cast<int32_t>(bytes.size()));
    h.status = decoder.ParseHeaders(&h.width, &h.height, &h.components, &h.colorModel, &h.samplingMode);
    return h;
}

Header Parse(const Bytes& bytes) {
    CJPEGDecoder decoder;
    return Parse(decoder, bytes);
}

// SOI and tables enough for any scan of the tests.
JpegStream Start() {
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc());
    return s;
}

const std::vector<FrameComponent> kGrey = {{1, 1, 1, 0}};
const std::vector<FrameComponent> kYcc444 = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
const std::vector<FrameComponent> kYcc420 = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
const std::vector<ScanComponent> kGreyScan = {{1, 0, 0}};

std::vector<ScanComponent> ScanOf(const std::vector<FrameComponent>& components) {
    std::vector<ScanComponent> scan;
    for (const FrameComponent& f : components) scan.push_back({f.id, 0, 0});
    return scan;
}

// A frame whose scan lists every component.
Bytes Frame(uint8_t sof, int w, int h, const std::vector<FrameComponent>& components) {
    return Start().Sof(sof, w, h, components).Sos(ScanOf(components)).Raw({0x00, 0x00}).Eoi().Bytes();
}

TEST(MarkerSearch, HeadersAreFoundPastFillStuffingAndOtherSegments) {
    JpegStream s;
    s.Fill(3).Soi().Raw({0xFF, 0x00, 0x12}).Com(Bytes{}).Com(Bytes{0xFF, 0xD9, 0xFF, 0xDA, 0xFF, 0x00, 0xFF, 0xFF});
    s.Jfif().App(1, {'E', 'x', 'i', 'f', 0, 0}).App(15, {1, 2, 3});
    s.Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc());
    s.Fill(2).Sof0(16, 8, kYcc420).Rst(3).Sos(ScanOf(kYcc420)).Eoi();
    CJPEGDecoder decoder;
    const Header h = Parse(decoder, s.Bytes());
    EXPECT_EQ(h.status, DecOk);
    EXPECT_EQ(h.width, 16);
    EXPECT_EQ(h.height, 8);
    EXPECT_EQ(h.colorModel, ColorYCbCr) << "JFIF does not change the model";
    // The header pass stops on the scan's marker, where the data pass begins.
    const int32_t position = DecoderInspector(decoder).Position();
    ASSERT_GE(position, 0);
    EXPECT_EQ(s.Bytes()[position], 0xFF);
    EXPECT_EQ(s.Bytes()[position + 1], kSos);
}

TEST(MarkerSearch, MalformedHeadersGiveTheirStatus) {
    struct Case {
        const char* what;
        Bytes bytes;
        DecoderStatus expected;
    };
    const std::vector<FrameComponent> five = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}};
    std::vector<Case> cases = {
        {"empty", {}, DecErrEndOfData},
        {"no marker", {0x00, 0x12, 0x34}, DecErrEndOfData},
        {"ends on 0xFF", {0xFF, 0xD8, 0x00, 0xFF}, DecErrEndOfData},
        {"ends on fill", {0xFF, 0xD8, 0xFF, 0xFF}, DecErrEndOfData},
        {"ends on a stuffed pair", {0xFF, 0xD8, 0xFF, 0x00}, DecErrEndOfData},
        {"neither SOS nor EOI", Start().Sof0(16, 8, kGrey).Bytes(), DecErrEndOfData},
        {"length past the end", JpegStream().Soi().WithLength(0x4000).Com(Bytes{1, 2, 3}).Bytes(), DecErrEndOfData},
        {"length cut", {0xFF, 0xD8, 0xFF, 0xFE, 0x00}, DecErrEndOfData},
        {"length 1", JpegStream().Soi().WithLength(1).Com(Bytes{}).Eoi().Bytes(), DecErrBadLength},
        {"Adobe segment cut", {0xFF, 0xD8, 0xFF, 0xEE, 0x00, 0x10, 'A', 'd', 'o', 'b', 'e', 0}, DecErrEndOfData},
        {"DRI of 5 bytes", JpegStream().Soi().Segment(kDri, {0, 7, 0}).Eoi().Bytes(), DecErrBadLength},
        {"SOF3 before SOF0", Start().Sof(kSof3, 8, 8, kGrey).Sof0(16, 8, kGrey).Sos(kGreyScan).Eoi().Bytes(),
         DecErrUnsupported},
        // Frame headers, in the order their fields are checked.
        {"precision 12", JpegStream().Soi().Sof(kSof0, 16, 8, kGrey, 12).Eoi().Bytes(), DecErrUnsupported},
        {"Nf 5 with a wrong length", JpegStream().Soi().WithLength(8).Sof0(16, 8, five).Eoi().Bytes(),
         DecErrBadFrameComponents},
        {"Lf 18 for three components", JpegStream().Soi().WithLength(18).Sof0(16, 8, kYcc420).Eoi().Bytes(),
         DecErrBadLength},
        {"H = 0", JpegStream().Soi().Sof0(16, 8, {{1, 0, 1, 0}}).Eoi().Bytes(), DecErrBadFrameComponents},
        {"V = 0", JpegStream().Soi().Sof0(16, 8, {{1, 1, 1, 0}, {2, 1, 0, 0}, {3, 1, 1, 0}}).Eoi().Bytes(),
         DecErrBadFrameComponents},
        {"grey 2x2", JpegStream().Soi().Sof0(16, 8, {{1, 2, 2, 0}}).Eoi().Bytes(), DecErrBadGreySampling},
        {"Nf 0", JpegStream().Soi().Sof0(16, 8, {}).Eoi().Bytes(), DecErrBadFrameComponents},
        {"X = 0", JpegStream().Soi().Sof0(0, 8, kGrey).Eoi().Bytes(), DecErrUnsupported},
        {"Y = 0 (DNL)", JpegStream().Soi().Sof0(16, 0, kGrey).Eoi().Bytes(), DecErrUnsupported},
        {"two components, one subsampled", JpegStream().Soi().Sof0(16, 8, {{1, 2, 1, 0}, {2, 1, 1, 0}}).Eoi().Bytes(),
         DecErrUnsupported},
        // Whole-frame buffers of a progressive 65535 x 65535 frame would be far
        // beyond 2 GB; a grey 50000 x 50000 one needs 2.5 GB for its samples.
        // 8000 x 8000 grey fits, and a sequential frame of any size, as it keeps
        // one MCU row.
        {"progressive 65535 x 65535", Frame(kSof2, 65535, 65535, kYcc420), DecErrUnsupported},
        {"progressive grey 50000 x 50000", Frame(kSof2, 50000, 50000, kGrey), DecErrUnsupported},
        {"progressive grey 8000 x 8000", Frame(kSof2, 8000, 8000, kGrey), DecOk},
        {"sequential 65535 x 65535", Frame(kSof0, 65535, 65535, kYcc420), DecOk},
        // Scan headers.
        {"scan before the frame", Start().Sos(kGreyScan).Sof0(8, 8, kGrey).Eoi().Bytes(), DecErrUnknownComponent},
        {"scan of an unknown component", Start().Sof0(16, 8, kYcc420).Sos({{1, 0, 0}, {2, 0, 0}, {9, 0, 0}}).Eoi().Bytes(),
         DecErrUnknownComponent},
        {"sequential scan of one of three", Start().Sof0(16, 8, kYcc420).Sos(kGreyScan).Eoi().Bytes(), DecErrUnsupported},
        {"progressive scan of one of three", Start().Sof2(16, 8, kYcc420).Sos(kGreyScan).Eoi().Bytes(), DecOk},
        {"Ns 0", Start().Sof0(8, 8, kGrey).Sos({}).Eoi().Bytes(), DecErrBadScanComponentCount},
        {"Ns 5", Start().Sof2(8, 8, kGrey).Sos({{1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}}).Eoi().Bytes(),
         DecErrBadScanComponentCount},
        {"Ls too large", Start().Sof0(8, 8, kGrey).WithLength(9).Sos(kGreyScan).Eoi().Bytes(), DecErrBadLength},
    };
    for (uint8_t code : {0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
        cases.push_back({"lossless, hierarchical or arithmetic coding",
                         JpegStream().Soi().Com("x").Sof(code, 16, 8, kGrey).Eoi().Bytes(), DecErrUnsupported});
    }
    const Bytes frameHeader = JpegStream().Soi().Sof0(227, 149, kYcc420).Bytes();
    for (size_t cut = 3; cut < frameHeader.size(); ++cut) {
        cases.push_back({"frame header cut", Bytes(frameHeader.begin(), frameHeader.begin() + cut), DecErrEndOfData});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.bytes).status, c.expected) << c.what << " (" << c.bytes.size() << " bytes)";
    }
}

TEST(MarkerSearch, EoiBeforeAnyScanEndsTheHeaderPassAndTheDataPassFindsNothing) {
    CJPEGDecoder decoder;
    const Header h = Parse(decoder, Start().Sof0(40, 24, kGrey).Eoi().Bytes());
    ASSERT_EQ(h.status, DecOk);
    EXPECT_EQ(h.width, 40);
    EXPECT_EQ(h.height, 24);
    std::vector<uint8_t> out(40 * 3 * 24, 0x11);
    decoder.AttachOutput(out.data(), 40, 120, 24, 3, ColorBGR);
    EXPECT_EQ(decoder.DecodeImage(), DecErrEndOfData);
    EXPECT_EQ(out, std::vector<uint8_t>(40 * 3 * 24, 0x11));
}

TEST(FrameHeader, SamplingModesAndUpsamplingFactors) {
    struct Case {
        std::vector<FrameComponent> components;
        int32_t mode;
        int32_t hUpsample[4];
        int32_t vUpsample[4];
    };
    const Case cases[] = {
        {kGrey, SamplingFull, {1}, {1}},
        {{{1, 1, 1, 0}, {2, 1, 1, 0}}, SamplingFull, {1, 1}, {1, 1}},
        {kYcc444, SamplingFull, {1, 1, 1}, {1, 1, 1}},
        {{{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, SamplingHalfH, {1, 2, 2}, {1, 1, 1}},
        {kYcc420, SamplingHalfHV, {1, 2, 2}, {1, 2, 2}},
        {{{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 2, 1, 0}}, SamplingHalfH, {1, 2, 2, 1}, {1, 1, 1, 1}},
        {{{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 2, 2, 0}}, SamplingHalfHV, {1, 2, 2, 1}, {1, 2, 2, 1}},
        {{{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}}, SamplingFull, {1, 1, 1, 1}, {1, 1, 1, 1}},
        // Any mode but full resolution doubles the width of components 1 and 2.
        {{{1, 1, 1, 0}, {2, 2, 1, 0}, {3, 1, 1, 0}}, SamplingUnsupported, {1, 2, 2}, {1, 1, 1}},
        {{{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}}, SamplingUnsupported, {1, 2, 2, 1}, {1, 1, 1, 1}},
        {{{1, 1, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, SamplingUnsupported, {1, 2, 2}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        CJPEGDecoder decoder;
        const Header h = Parse(decoder, Frame(kSof0, 33, 17, c.components));
        ASSERT_EQ(h.status, DecOk) << c.components.size() << " components";
        EXPECT_EQ(h.samplingMode, c.mode);
        EXPECT_EQ(h.components, static_cast<int32_t>(c.components.size()));
        DecoderInspector inspect(decoder);
        for (size_t i = 0; i < c.components.size(); ++i) {
            EXPECT_EQ(inspect.Component(i)->m_hUpsample, c.hUpsample[i]) << "component " << i;
            EXPECT_EQ(inspect.Component(i)->m_vUpsample, c.vUpsample[i]) << "component " << i;
        }
    }
}

TEST(ColorModel, FollowsTheComponentCountAndTheAdobeTransform) {
    struct Case {
        int transform;  // -1: no APP14; -2: an APP14 one byte too short to hold one
        std::vector<FrameComponent> components;
        int32_t model;
    };
    const std::vector<FrameComponent> four = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}};
    const std::vector<FrameComponent> two = {{1, 1, 1, 0}, {2, 1, 1, 0}};
    const Case cases[] = {
        {-1, kGrey, ColorGrey},      {-1, kYcc444, ColorYCbCr}, {-1, four, ColorUnknown},
        {-1, two, ColorUnknown},     {0, kGrey, ColorGrey},     {0, kYcc444, ColorRGB},
        {0, four, ColorCMYK},        {0, two, ColorUnknown},    {1, kGrey, ColorYCbCr},
        {1, four, ColorYCbCr},       {2, kYcc444, ColorYCCK},   {2, kGrey, ColorYCCK},
        {3, kYcc444, ColorUnknown},  {255, four, ColorUnknown}, {-2, kYcc444, ColorYCbCr},
    };
    for (const Case& c : cases) {
        JpegStream s = Start();
        if (c.transform >= 0) s.Adobe(static_cast<uint8_t>(c.transform));
        if (c.transform == -2) s.App(14, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0});
        const Header h = Parse(s.Sof0(16, 8, c.components).Sos(ScanOf(c.components)).Eoi().Bytes());
        ASSERT_EQ(h.status, DecOk);
        EXPECT_EQ(h.colorModel, c.model) << "transform " << c.transform << ", " << c.components.size() << " components";
    }
}

TEST(Geometry, FollowsTheSamplingModeAndTheFrameSize) {
    struct Case {
        uint8_t sof;
        int w, h;
        std::vector<FrameComponent> components;
        int32_t mcusPerRow, paddedWidth, padRight, mcuRows, padBottom, bufferRows;
    };
    const std::vector<FrameComponent> ycc422 = {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
    const Case cases[] = {
        {kSof0, 17, 9, kGrey, 3, 24, 7, 2, 7, 8},
        {kSof2, 100, 100, kYcc420, 7, 112, 12, 7, 12, 112},
        {kSof0, 17, 300, ycc422, 2, 32, 15, 38, 4, 8},
        {kSof0, 16, 16, kYcc420, 1, 16, 0, 1, 0, 16},
        {kSof0, 1, 1, kGrey, 1, 8, 7, 1, 7, 8},
    };
    for (const Case& c : cases) {
        CJPEGDecoder decoder;
        ASSERT_EQ(Parse(decoder, Frame(c.sof, c.w, c.h, c.components)).status, DecOk);
        DecoderInspector inspect(decoder);
        const std::vector<int32_t> expected = {c.mcusPerRow, c.paddedWidth, c.padRight, c.mcuRows, c.padBottom, c.bufferRows};
        EXPECT_EQ(std::vector<int32_t>({inspect.McusPerRow(), inspect.PaddedWidth(), inspect.PadRight(),
                                        inspect.McuRows(), inspect.PadBottom(), inspect.BufferRows()}),
                  expected)
            << c.w << "x" << c.h;
    }
}

TEST(Lifetime, DecodeImageWithoutHeadersOrOutputFails) {
    CJPEGDecoder fresh;
    EXPECT_EQ(fresh.DecodeImage(), DecErrFailed) << "no geometry yet";
    const Bytes bytes = Frame(kSof0, 16, 8, kGrey);
    std::vector<uint8_t> out(64 * 8);
    struct Output {
        const char* what;
        int32_t width, step;  // width 0: none attached
    };
    for (Output o : {Output{"no destination", 0, 0}, Output{"a destination wider than the frame", 17, 64},
                     Output{"rows of 16 BGR pixels need 48 bytes", 16, 47}}) {
        CJPEGDecoder decoder;
        ASSERT_EQ(Parse(decoder, bytes).status, DecOk);
        if (o.width != 0) decoder.AttachOutput(out.data(), o.width, o.step, 8, 3, ColorBGR);
        EXPECT_EQ(decoder.DecodeImage(), DecErrFailed) << o.what;
    }
}

TEST(Allocation, EveryFailedAllocationOfTheHeaderPassIsReported) {
    const Bytes bytes = Frame(kSof0, 16, 16, kYcc420);
    for (int32_t n = 1; n < 12; ++n) {
        CJPEGDecoder decoder;
        FailAllocationAfter(n);
        const Header h = Parse(decoder, bytes);
        FailAllocationAfter(0);
        EXPECT_TRUE(h.status == DecErrFailed || h.status == DecOk) << "failure " << n;
    }
}

}  // namespace
