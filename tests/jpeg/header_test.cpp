// The header pass: marker search, frame and scan headers, DRI, APP14, the
// sampling mode, the colour model and the MCU geometry.
#include <gtest/gtest.h>

#include <vector>

#include "jpeg/decoder.h"
#include "support/decoder_inspector.h"
#include "support/jpeg_stream.h"

namespace {

using namespace wemb_test;

struct Header {
    DecoderStatus status;
    int32_t width = -1, height = -1, components = -1, colorModel = -1, samplingMode = -1;
};

Header Parse(CJPEGDecoder& decoder, const std::vector<uint8_t>& bytes) {
    Header h{DecOk};
    decoder.AttachInput(bytes.data(), static_cast<int32_t>(bytes.size()));
    h.status = decoder.ParseHeaders(&h.width, &h.height, &h.components, &h.colorModel,
                                    &h.samplingMode);
    return h;
}

Header Parse(const std::vector<uint8_t>& bytes) {
    CJPEGDecoder decoder;
    return Parse(decoder, bytes);
}

// Tables enough for any scan of the tests.
JpegStream& Tables(JpegStream& s) {
    return s.Dqt(0, kAnnexKLuminanceQuant)
        .Dht(kDcClass, 0, AnnexKLuminanceDc())
        .Dht(kAcClass, 0, AnnexKLuminanceAc());
}

const std::vector<FrameComponent> kGrey = {{1, 1, 1, 0}};
const std::vector<FrameComponent> kYcc420 = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
const std::vector<ScanComponent> kGreyScan = {{1, 0, 0}};
const std::vector<ScanComponent> kYccScan = {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}};

std::vector<uint8_t> Frame(uint8_t sof, int w, int h, const std::vector<FrameComponent>& comps,
                           const std::vector<ScanComponent>& scan) {
    JpegStream s;
    s.Soi();
    Tables(s).Sof(sof, w, h, comps).Sos(scan).Raw({0x00, 0x00}).Eoi();
    return s.Bytes();
}

TEST(MarkerSearch, FindsMarkersPastFillBytesAndStuffedPairs) {
    JpegStream s;
    s.Fill(3).Soi().Raw({0xFF, 0x00, 0x12});
    Tables(s).Fill(2).Sof0(16, 8, kGrey).Rst(3).Sos(kGreyScan).Eoi();
    const Header h = Parse(s.Bytes());
    EXPECT_EQ(h.status, DecOk);
    EXPECT_EQ(h.width, 16);
    EXPECT_EQ(h.height, 8);
}

TEST(MarkerSearch, EndOfDataIsReported) {
    EXPECT_EQ(Parse({}).status, DecErrEndOfData);
    EXPECT_EQ(Parse({0x00, 0x12, 0x34}).status, DecErrEndOfData) << "no marker at all";
    EXPECT_EQ(Parse({0xFF, 0xD8, 0x00, 0xFF}).status, DecErrEndOfData) << "ends on 0xFF";
    EXPECT_EQ(Parse({0xFF, 0xD8, 0xFF, 0xFF}).status, DecErrEndOfData) << "ends on fill";
    EXPECT_EQ(Parse({0xFF, 0xD8, 0xFF, 0x00}).status, DecErrEndOfData) << "ends on a stuffed pair";
    JpegStream noScan;
    Tables(noScan.Soi()).Sof0(16, 8, kGrey);
    EXPECT_EQ(Parse(noScan.Bytes()).status, DecErrEndOfData) << "neither SOS nor EOI";
}

TEST(MarkerSearch, SegmentsArePassedOverByTheirLength) {
    JpegStream s;
    s.Soi().Com(std::vector<uint8_t>{}).Com(std::vector<uint8_t>{0xFF, 0xD9, 0xFF, 0xDA, 0xFF, 0x00, 0xFF, 0xFF});
    s.Jfif().App(1, {'E', 'x', 'i', 'f', 0, 0}).App(15, {1, 2, 3});
    Tables(s).Sof0(16, 8, kYcc420).Sos(kYccScan).Eoi();
    const Header h = Parse(s.Bytes());
    EXPECT_EQ(h.status, DecOk);
    EXPECT_EQ(h.colorModel, ColorYCbCr) << "JFIF does not change the model";
}

TEST(MarkerSearch, SegmentLengthsThatRunPastTheDataEndTheData) {
    JpegStream s;
    s.Soi().WithLength(0x4000).Com(std::vector<uint8_t>{1, 2, 3});
    EXPECT_EQ(Parse(s.Bytes()).status, DecErrEndOfData);
    JpegStream shortTail;
    shortTail.Soi().Raw({0xFF, 0xFE, 0x00});  // length cut after one byte
    EXPECT_EQ(Parse(shortTail.Bytes()).status, DecErrEndOfData);
    JpegStream tiny;
    tiny.Soi().WithLength(1).Com(std::vector<uint8_t>{}).Eoi();
    EXPECT_EQ(Parse(tiny.Bytes()).status, DecErrBadLength) << "a length below 2 cannot count itself";
}

TEST(MarkerLoop, EoiBeforeAnyScanEndsTheHeaderPassAndTheDataPassFindsNothing) {
    JpegStream s;
    Tables(s.Soi()).Sof0(40, 24, kGrey).Eoi();
    CJPEGDecoder decoder;
    const Header h = Parse(decoder, s.Bytes());
    ASSERT_EQ(h.status, DecOk);
    EXPECT_EQ(h.width, 40);
    EXPECT_EQ(h.height, 24);
    std::vector<uint8_t> out(40 * 3 * 24, 0x11);
    decoder.AttachOutput(out.data(), 40, 120, 24, 3, ColorBGR);
    EXPECT_EQ(decoder.DecodeImage(), DecErrEndOfData);
    EXPECT_EQ(out, std::vector<uint8_t>(40 * 3 * 24, 0x11));
}

TEST(MarkerLoop, HeaderPassStopsOnTheByteBeforeTheScan) {
    const std::vector<uint8_t> bytes = Frame(kSof0, 16, 8, kGrey, kGreyScan);
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, bytes).status, DecOk);
    const int32_t position = DecoderInspector(decoder).Position();
    ASSERT_GE(position, 0);
    EXPECT_EQ(bytes[position], 0xFF);
    EXPECT_EQ(bytes[position + 1], kSos);
}

TEST(MarkerLoop, UnsupportedCodingProcessesAreRefusedAnywhere) {
    for (uint8_t code : {0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
        JpegStream s;
        s.Soi().Com("x").Sof(code, 16, 8, kGrey).Eoi();
        EXPECT_EQ(Parse(s.Bytes()).status, DecErrUnsupported) << std::hex << int(code);
    }
    JpegStream late;
    Tables(late.Soi()).Sof(kSof3, 8, 8, kGrey).Sof0(16, 8, kGrey).Sos(kGreyScan).Eoi();
    EXPECT_EQ(Parse(late.Bytes()).status, DecErrUnsupported);
}

TEST(FrameHeader, RefusalsComeInTheDocumentedOrder) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        DecoderStatus expected;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, JpegStream& s, DecoderStatus expected) {
        cases.push_back({what, s.Bytes(), expected});
    };
    JpegStream p12, nf5, lf18, h0, v0, grey22, nf0, w0, h0size, twoSub;
    p12.Soi().Sof(kSof0, 16, 8, kGrey, 12).Eoi();
    add("precision 12", p12, DecErrUnsupported);
    // Five components with a length that is also wrong: the count is tested first.
    nf5.Soi().WithLength(8).Sof0(16, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}}).Eoi();
    add("Nf 5", nf5, DecErrBadFrameComponents);
    lf18.Soi().WithLength(18).Sof0(16, 8, kYcc420).Eoi();
    add("Lf 18 for three components", lf18, DecErrBadLength);
    h0.Soi().Sof0(16, 8, {{1, 0, 1, 0}}).Eoi();
    add("H = 0", h0, DecErrBadFrameComponents);
    v0.Soi().Sof0(16, 8, {{1, 1, 1, 0}, {2, 1, 0, 0}, {3, 1, 1, 0}}).Eoi();
    add("V = 0", v0, DecErrBadFrameComponents);
    grey22.Soi().Sof0(16, 8, {{1, 2, 2, 0}}).Eoi();
    add("grey 2x2", grey22, DecErrBadGreySampling);
    nf0.Soi().Sof0(16, 8, {}).Eoi();
    add("Nf 0", nf0, DecErrBadFrameComponents);
    w0.Soi().Sof0(0, 8, kGrey).Eoi();
    add("X = 0", w0, DecErrUnsupported);
    h0size.Soi().Sof0(16, 0, kGrey).Eoi();
    add("Y = 0 (DNL)", h0size, DecErrUnsupported);
    twoSub.Soi().Sof0(16, 8, {{1, 2, 1, 0}, {2, 1, 1, 0}}).Eoi();
    add("two components, one subsampled", twoSub, DecErrUnsupported);
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.bytes).status, c.expected) << c.what;
    }
}

TEST(FrameHeader, TruncatedFrameHeadersEndTheData) {
    JpegStream s;
    s.Soi().Sof0(227, 149, kYcc420);
    const std::vector<uint8_t>& full = s.Bytes();
    for (size_t cut = 3; cut < full.size(); ++cut) {
        const std::vector<uint8_t> prefix(full.begin(), full.begin() + cut);
        EXPECT_EQ(Parse(prefix).status, DecErrEndOfData) << "cut at " << cut;
    }
}

TEST(FrameHeader, SamplingModesAndUpsamplingFactors) {
    struct Case {
        std::vector<FrameComponent> comps;
        int32_t mode;
        int32_t hUpsample[4];
        int32_t vUpsample[4];
    };
    const Case cases[] = {
        {kGrey, SamplingFull, {1}, {1}},
        {{{1, 1, 1, 0}, {2, 1, 1, 0}}, SamplingFull, {1, 1}, {1, 1}},
        {{{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, SamplingFull, {1, 1, 1}, {1, 1, 1}},
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
        std::vector<ScanComponent> scan;
        for (const FrameComponent& f : c.comps) scan.push_back({f.id, 0, 0});
        CJPEGDecoder decoder;
        const Header h = Parse(decoder, Frame(kSof0, 33, 17, c.comps, scan));
        ASSERT_EQ(h.status, DecOk) << c.comps.size() << " components";
        EXPECT_EQ(h.samplingMode, c.mode);
        EXPECT_EQ(h.components, static_cast<int32_t>(c.comps.size()));
        DecoderInspector inspect(decoder);
        for (size_t i = 0; i < c.comps.size(); ++i) {
            EXPECT_EQ(inspect.Component(i)->m_hUpsample, c.hUpsample[i]) << "component " << i;
            EXPECT_EQ(inspect.Component(i)->m_vUpsample, c.vUpsample[i]) << "component " << i;
        }
    }
}

TEST(FrameHeader, ComponentFieldsAreKept) {
    CJPEGDecoder decoder;
    const std::vector<FrameComponent> comps = {{7, 2, 2, 0}, {9, 1, 1, 1}, {200, 1, 1, 250}};
    ASSERT_EQ(Parse(decoder, Frame(kSof2, 64, 48, comps, {{200, 3, 2}})).status, DecOk);
    DecoderInspector inspect(decoder);
    EXPECT_EQ(inspect.Component(2)->m_componentId, 200);
    EXPECT_EQ(inspect.Component(2)->m_quantTableId, 250) << "any selector byte is kept";
    EXPECT_EQ(inspect.Component(2)->m_dcTableId, 3);
    EXPECT_EQ(inspect.Component(2)->m_acTableId, 2);
    EXPECT_EQ(inspect.Component(2)->m_frameIndex, 2);
    EXPECT_EQ(inspect.ScanComponent(), 2);
    EXPECT_EQ(inspect.Progressive(), 1);
}

TEST(FrameHeader, FramesTooLargeForTheBuffersAreRefused) {
    // The whole-frame buffers of a progressive 65535 x 65535 frame would be
    // far beyond 2 GB; a grey 50000 x 50000 one needs 2.5 GB for its samples.
    EXPECT_EQ(Parse(Frame(kSof2, 65535, 65535, kYcc420, kYccScan)).status, DecErrUnsupported);
    EXPECT_EQ(Parse(Frame(kSof2, 50000, 50000, kGrey, kGreyScan)).status, DecErrUnsupported);
    // The coefficients take one block per 8x8 grey MCU: 8000 x 8000 fits.
    EXPECT_EQ(Parse(Frame(kSof2, 8000, 8000, kGrey, kGreyScan)).status, DecOk);
    // A sequential frame keeps one MCU row: any size fits.
    const Header h = Parse(Frame(kSof0, 65535, 65535, kYcc420, kYccScan));
    EXPECT_EQ(h.status, DecOk);
    EXPECT_EQ(h.width, 65535);
}

TEST(ScanHeader, Refusals) {
    JpegStream before;
    Tables(before.Soi()).Sos(kGreyScan).Sof0(8, 8, kGrey).Eoi();
    EXPECT_EQ(Parse(before.Bytes()).status, DecErrUnknownComponent) << "scan before the frame";

    EXPECT_EQ(Parse(Frame(kSof0, 16, 8, kYcc420, {{1, 0, 0}, {2, 0, 0}, {9, 0, 0}})).status,
              DecErrUnknownComponent);
    EXPECT_EQ(Parse(Frame(kSof0, 16, 8, kYcc420, {{1, 0, 0}})).status, DecErrUnsupported)
        << "a sequential frame must interleave every component";
    EXPECT_EQ(Parse(Frame(kSof2, 16, 8, kYcc420, {{1, 0, 0}})).status, DecOk);

    JpegStream ns0, ns5, badLength;
    Tables(ns0.Soi()).Sof0(8, 8, kGrey).Sos({}).Eoi();
    EXPECT_EQ(Parse(ns0.Bytes()).status, DecErrBadScanComponentCount);
    Tables(ns5.Soi()).Sof2(8, 8, kGrey).Sos({{1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}}).Eoi();
    EXPECT_EQ(Parse(ns5.Bytes()).status, DecErrBadScanComponentCount);
    Tables(badLength.Soi()).Sof0(8, 8, kGrey).WithLength(9).Sos(kGreyScan).Eoi();
    EXPECT_EQ(Parse(badLength.Bytes()).status, DecErrBadLength);
}

TEST(ScanHeader, ScanParametersAreRead) {
    CJPEGDecoder decoder;
    JpegStream s;
    Tables(s.Soi()).Sof2(16, 8, kYcc420).Sos({{3, 1, 2}}, 5, 17, 2, 1).Eoi();
    ASSERT_EQ(Parse(decoder, s.Bytes()).status, DecOk);
    DecoderInspector inspect(decoder);
    EXPECT_EQ(inspect.Ss(), 5);
    EXPECT_EQ(inspect.Se(), 17);
    EXPECT_EQ(inspect.Ah(), 2);
    EXPECT_EQ(inspect.Al(), 1);
    EXPECT_EQ(inspect.ScanComponent(), 2);
}

TEST(ColorModel, FollowsTheComponentCountAndTheAdobeTransform) {
    struct Case {
        int transform;  // -1: no APP14
        std::vector<FrameComponent> comps;
        int32_t model;
    };
    const std::vector<FrameComponent> four = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}};
    const std::vector<FrameComponent> three = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
    const std::vector<FrameComponent> two = {{1, 1, 1, 0}, {2, 1, 1, 0}};
    const Case cases[] = {
        {-1, kGrey, ColorGrey},       {-1, three, ColorYCbCr},    {-1, four, ColorUnknown},
        {-1, two, ColorUnknown},      {0, kGrey, ColorGrey},      {0, three, ColorRGB},
        {0, four, ColorCMYK},         {0, two, ColorUnknown},     {1, kGrey, ColorYCbCr},
        {1, four, ColorYCbCr},        {2, three, ColorYCCK},      {2, kGrey, ColorYCCK},
        {3, three, ColorUnknown},     {255, four, ColorUnknown},
    };
    for (const Case& c : cases) {
        JpegStream s;
        s.Soi();
        if (c.transform >= 0) s.Adobe(static_cast<uint8_t>(c.transform));
        std::vector<ScanComponent> scan;
        for (const FrameComponent& f : c.comps) scan.push_back({f.id, 0, 0});
        Tables(s).Sof0(16, 8, c.comps).Sos(scan).Eoi();
        const Header h = Parse(s.Bytes());
        ASSERT_EQ(h.status, DecOk);
        EXPECT_EQ(h.colorModel, c.model) << "transform " << c.transform << ", " << c.comps.size() << " components";
    }
}

TEST(ColorModel, AnAdobeSegmentTooShortIsNotAdobe) {
    JpegStream s;
    // Length 13: 11 bytes after the length, one short of the Adobe fields.
    s.Soi().App(14, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0});
    Tables(s).Sof0(16, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}).Sos(kYccScan).Eoi();
    CJPEGDecoder decoder;
    const Header h = Parse(decoder, s.Bytes());
    ASSERT_EQ(h.status, DecOk);
    EXPECT_EQ(h.colorModel, ColorYCbCr);
    EXPECT_EQ(DecoderInspector(decoder).HasAdobe(), 0);

    JpegStream cut;
    cut.Soi().Raw({0xFF, 0xEE, 0x00, 0x10, 'A', 'd', 'o', 'b', 'e', 0});  // segment runs out
    EXPECT_EQ(Parse(cut.Bytes()).status, DecErrEndOfData);
}

TEST(RestartInterval, DriIsReadAndCheckedForLength) {
    JpegStream s;
    Tables(s.Soi()).Dri(7).Sof0(16, 8, kGrey).Sos(kGreyScan).Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()).status, DecOk);
    EXPECT_EQ(DecoderInspector(decoder).RestartInterval(), 7);

    JpegStream five;
    five.Soi().Segment(kDri, {0, 7, 0}).Eoi();
    EXPECT_EQ(Parse(five.Bytes()).status, DecErrBadLength);
}

TEST(Geometry, FollowsTheSamplingModeAndTheFrameSize) {
    struct Case {
        uint8_t sof;
        int w, h;
        std::vector<FrameComponent> comps;
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
        std::vector<ScanComponent> scan;
        for (const FrameComponent& f : c.comps) scan.push_back({f.id, 0, 0});
        CJPEGDecoder decoder;
        ASSERT_EQ(Parse(decoder, Frame(c.sof, c.w, c.h, c.comps, scan)).status, DecOk);
        DecoderInspector inspect(decoder);
        EXPECT_EQ(inspect.McusPerRow(), c.mcusPerRow) << c.w << "x" << c.h;
        EXPECT_EQ(inspect.PaddedWidth(), c.paddedWidth) << c.w << "x" << c.h;
        EXPECT_EQ(inspect.PadRight(), c.padRight) << c.w << "x" << c.h;
        EXPECT_EQ(inspect.McuRows(), c.mcuRows) << c.w << "x" << c.h;
        EXPECT_EQ(inspect.PadBottom(), c.padBottom) << c.w << "x" << c.h;
        EXPECT_EQ(inspect.BufferRows(), c.bufferRows) << c.w << "x" << c.h;
    }
}

TEST(Lifetime, DestroyingAnUnusedDecoderReleasesNothing) {
    CJPEGDecoder decoder;
    DecoderInspector inspect(decoder);
    EXPECT_EQ(inspect.BlocksPerMcu(), 1);
    EXPECT_EQ(inspect.Component(0), nullptr);
    EXPECT_EQ(inspect.QuantTable(0), nullptr);
}

TEST(Lifetime, DecodeImageWithoutHeadersOrOutputFails) {
    CJPEGDecoder fresh;
    EXPECT_EQ(fresh.DecodeImage(), DecErrFailed) << "no geometry yet";

    const std::vector<uint8_t> bytes = Frame(kSof0, 16, 8, kGrey, kGreyScan);
    std::vector<uint8_t> out(64 * 8);
    CJPEGDecoder noOutput;
    ASSERT_EQ(Parse(noOutput, bytes).status, DecOk);
    EXPECT_EQ(noOutput.DecodeImage(), DecErrFailed);

    CJPEGDecoder tooWide;
    ASSERT_EQ(Parse(tooWide, bytes).status, DecOk);
    tooWide.AttachOutput(out.data(), 17, 64, 8, 3, ColorBGR);
    EXPECT_EQ(tooWide.DecodeImage(), DecErrFailed) << "a destination wider than the frame";

    CJPEGDecoder narrowRows;
    ASSERT_EQ(Parse(narrowRows, bytes).status, DecOk);
    narrowRows.AttachOutput(out.data(), 16, 47, 8, 3, ColorBGR);
    EXPECT_EQ(narrowRows.DecodeImage(), DecErrFailed) << "rows of 16 BGR pixels need 48 bytes";
}

TEST(Allocation, EveryFailedAllocationOfTheHeaderPassIsReported) {
    JpegStream s;
    Tables(s.Soi()).Sof0(16, 16, kYcc420).Sos(kYccScan).Eoi();
    for (int32_t n = 1; n < 12; ++n) {
        CJPEGDecoder decoder;
        FailAllocationAfter(n);
        const Header h = Parse(decoder, s.Bytes());
        FailAllocationAfter(0);
        EXPECT_TRUE(h.status == DecErrFailed || h.status == DecOk) << "failure " << n;
    }
}

}  // namespace
