// Progressive frames: when the picture appears, and what a failing scan does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

namespace {

using namespace wemb_test;

struct Scan {
    size_t offset;               // of the SOS marker
    size_t dataStart, dataEnd;   // the entropy-coded data, up to the marker that ends it
    std::vector<uint8_t> ids;    // of the components listed
    int ss, al;
};

// Walks the stream's segments (a reader of its own, independent of the
// codec) and lists the scans; `components` gets the frame's count.
std::vector<Scan> FindScans(const std::vector<uint8_t>& bytes, size_t* components) {
    std::vector<Scan> scans;
    for (size_t at = 2; at + 4 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] != 0xD9;) {
        const uint8_t code = bytes[at + 1];
        const size_t length = (bytes[at + 2] << 8) | bytes[at + 3];
        if (code == 0xC2) *components = bytes[at + 9];
        if (code != 0xDA) {
            at += code == 0xFF ? 1 : 2 + length;  // fill byte or segment
            continue;
        }
        Scan scan{at, at + 2 + length, 0, {}, 0, 0};
        const int count = bytes[at + 4];
        for (int j = 0; j < count; ++j) scan.ids.push_back(bytes[at + 5 + 2 * j]);
        const size_t tail = at + 5 + 2 * count;
        scan.ss = bytes[tail];
        scan.al = bytes[tail + 2] & 15;
        // The data runs to the first marker that is not a stuffed byte, fill or RSTn.
        size_t end = scan.dataStart;
        while (end + 1 < bytes.size() && !(bytes[end] == 0xFF && bytes[end + 1] != 0x00 && bytes[end + 1] != 0xFF &&
                                           (bytes[end + 1] & 0xF8) != 0xD0)) {
            ++end;
        }
        scan.dataEnd = at = end;
        scans.push_back(scan);
    }
    return scans;
}

std::vector<uint8_t> CutBeforeScan(const std::vector<uint8_t>& bytes, const std::vector<Scan>& scans,
                                   size_t kept) {
    if (kept >= scans.size()) return bytes;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + scans[kept].offset);
    cut.insert(cut.end(), {0xFF, 0xD9});
    return cut;
}

void ExpectCloseToReference(const std::vector<uint8_t>& stream, const CodecResult& ours) {
    ReferenceImage ref;
    std::string error;
    ASSERT_TRUE(DecodeReference(stream, ReferenceLayout::kBgrBottomUp, &ref, &error, false)) << error;
    const ImageDifference d = CompareImages(ours.pixels.data(), ref.pixels.data(), ours.width,
                                            ours.height, RowStep24(ours.width));
    EXPECT_LE(d.maxAbs, 3);
    EXPECT_GE(d.psnr, 50.0);
}

const char* const kProgressiveStreams[] = {
    "ycc420_prog_227x149_q85.jpg",        "grey_prog_64x48_q85.jpg",
    "ycc420_prog_succapprox_227x149_q85.jpg", "ycc420_prog_spectral_227x149_q85.jpg",
    "ycc420_prog_dcsplit_64x48_q85.jpg",  "ycc420_prog_dcmixed_33x17_q85.jpg",
    "ycc422_prog_227x149_q85.jpg",        "ycc420_prog_rst1mcu_64x48_q85.jpg",
};

// The picture of a progressive frame shows every coefficient decoded when the
// frame ends, whether or not every scan arrived: cut after any number of
// scans, the frame gives the picture libjpeg-turbo gives of the same scans.
TEST(Progressive, EveryPrefixOfTheScansGivesThePictureOfItsCoefficients) {
    for (const char* name : kProgressiveStreams) {
        std::vector<uint8_t> bytes = Testdata(name);
        size_t components = 0;
        const std::vector<Scan> scans = FindScans(bytes, &components);
        ASSERT_GE(scans.size(), 2u) << name;
        for (size_t kept = 1; kept <= scans.size(); ++kept) {
            SCOPED_TRACE(std::string(name) + ", scans kept: " + std::to_string(kept));
            const std::vector<uint8_t> stream = CutBeforeScan(bytes, scans, kept);
            const CodecResult ours = DecodeWithCodec(stream);
            ASSERT_EQ(ours.status, ICERR_OK);
            EXPECT_FALSE(ours.Untouched());
            ExpectCloseToReference(stream, ours);
        }
    }
}

// Replaces a scan's entropy-coded data by stuffed 0xFF bytes: all one bits,
// which no Huffman code of 16 bits or fewer matches.
std::vector<uint8_t> WithUndecodableScan(const std::vector<uint8_t>& bytes, const Scan& scan) {
    std::vector<uint8_t> damaged = bytes;
    for (size_t i = scan.dataStart; i < scan.dataEnd; ++i) {
        damaged[i] = (i - scan.dataStart) % 2 == 0 && i + 1 < scan.dataEnd ? 0xFF : 0x00;
    }
    return damaged;
}

TEST(Progressive, AFailingScanStillYieldsAPictureAndLaterScansGoOn) {
    std::vector<uint8_t> bytes = Testdata("ycc420_prog_227x149_q85.jpg");
    size_t components = 0;
    const std::vector<Scan> scans = FindScans(bytes, &components);
    ASSERT_GE(scans.size(), 6u);

    // The second scan (an AC scan) cannot be decoded: the picture is made at
    // once from the DC scan, and the later scans are still read, so the final
    // picture holds the luma detail they carry.
    const CodecResult early = DecodeWithCodec(WithUndecodableScan(bytes, scans[1]));
    ASSERT_EQ(early.status, ICERR_OK);
    EXPECT_FALSE(early.Untouched());
    const CodecResult dcOnly = DecodeWithCodec(CutBeforeScan(WithUndecodableScan(bytes, scans[1]), scans, 2));
    ASSERT_EQ(dcOnly.status, ICERR_OK);
    EXPECT_NE(early.pixels, dcOnly.pixels) << "later scans added to the picture";

    // The last scan fails: the picture is what the scans before it hold.
    const size_t last = scans.size() - 1;
    const CodecResult lastFails = DecodeWithCodec(WithUndecodableScan(bytes, scans[last]));
    ASSERT_EQ(lastFails.status, ICERR_OK);
    ASSERT_FALSE(lastFails.Untouched());
    ExpectCloseToReference(CutBeforeScan(bytes, scans, last), lastFails);
}

TEST(Progressive, ALaterFrameHeaderMayRepeatTheGeometryButNotChangeIt) {
    std::vector<uint8_t> bytes = Testdata("grey_prog_64x48_q85.jpg");
    size_t components = 0;
    const std::vector<Scan> scans = FindScans(bytes, &components);
    ASSERT_GE(scans.size(), 3u);
    // The frame header, found again by its marker.
    size_t sof = 0;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC2)) ++sof;
    const size_t sofLength = 2 + ((bytes[sof + 2] << 8) | bytes[sof + 3]);
    for (uint8_t taller : {0, 1}) {
        std::vector<uint8_t> header(bytes.begin() + sof, bytes.begin() + sof + sofLength);
        header[6] += taller;  // Y, low byte
        std::vector<uint8_t> stream = bytes;
        stream.insert(stream.begin() + scans[2].offset, header.begin(), header.end());
        EXPECT_EQ(DecodeWithCodec(stream).status, taller ? ICERR_BADFORMAT : ICERR_OK);
    }
}

}  // namespace
