// Progressive frames: when the picture appears, and what a failing scan does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/reference_decoder.h"

namespace {

using namespace wemb_test;

struct Scan {
    size_t offset;              // of the SOS marker
    size_t dataStart;           // first byte of the entropy-coded data
    size_t dataEnd;             // the marker that ends it
    std::vector<int> components;  // frame positions listed
    int ss, se, ah, al;
};

// Walks the stream's segments (a reader of its own, independent of the
// codec) and lists the scans.
std::vector<Scan> FindScans(const std::vector<uint8_t>& bytes, std::vector<int>* frameIds) {
    std::vector<Scan> scans;
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xFF) return {};
        const uint8_t code = bytes[at + 1];
        if (code == 0xFF) {
            ++at;
            continue;
        }
        if (code == 0xD9) break;
        const size_t length = (bytes[at + 2] << 8) | bytes[at + 3];
        if (code == 0xC2) {
            for (int i = 0; i < bytes[at + 9]; ++i) frameIds->push_back(bytes[at + 10 + 3 * i]);
        }
        if (code != 0xDA) {
            at += 2 + length;
            continue;
        }
        Scan scan;
        scan.offset = at;
        const int count = bytes[at + 4];
        for (int j = 0; j < count; ++j) {
            const uint8_t id = bytes[at + 5 + 2 * j];
            for (size_t i = 0; i < frameIds->size(); ++i) {
                if ((*frameIds)[i] == id) scan.components.push_back(static_cast<int>(i));
            }
        }
        const size_t tail = at + 5 + 2 * count;
        scan.ss = bytes[tail];
        scan.se = bytes[tail + 1];
        scan.ah = bytes[tail + 2] >> 4;
        scan.al = bytes[tail + 2] & 15;
        scan.dataStart = at + 2 + length;
        // The data runs to the first marker that is not a stuffed byte or RSTn.
        size_t end = scan.dataStart;
        while (end + 1 < bytes.size() &&
               !(bytes[end] == 0xFF && bytes[end + 1] != 0x00 && bytes[end + 1] != 0xFF &&
                 (bytes[end + 1] < 0xD0 || bytes[end + 1] > 0xD7))) {
            ++end;
        }
        scan.dataEnd = end;
        scans.push_back(scan);
        at = end;
    }
    return scans;
}

// Whether the scans up to `count` hold the DC coefficients at full precision
// for every component and, for every component, an AC scan at full precision.
bool PictureComplete(const std::vector<Scan>& scans, size_t count, size_t components) {
    std::vector<bool> dc(components, false), ac(components, false);
    for (size_t k = 0; k < count; ++k) {
        const Scan& scan = scans[k];
        if (scan.al != 0) continue;
        const bool dcScan = scan.ss == 0 || scan.se == 0;
        if (dcScan) {
            for (int c : scan.components) dc[c] = true;
        } else {
            ac[scan.components.back()] = true;
        }
    }
    for (size_t c = 0; c < components; ++c) {
        if (!dc[c] || !ac[c]) return false;
    }
    return true;
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

TEST(Progressive, ThePictureAppearsOnceEveryCoefficientHasArrived) {
    for (const char* name : kProgressiveStreams) {
        std::vector<uint8_t> bytes = Testdata(name);
        std::vector<int> ids;
        const std::vector<Scan> scans = FindScans(bytes, &ids);
        ASSERT_GE(scans.size(), 2u) << name;
        bool appeared = false;
        for (size_t kept = 1; kept <= scans.size(); ++kept) {
            SCOPED_TRACE(std::string(name) + ", scans kept: " + std::to_string(kept));
            const std::vector<uint8_t> stream = CutBeforeScan(bytes, scans, kept);
            const CodecResult ours = DecodeWithCodec(stream);
            ASSERT_EQ(ours.status, ICERR_OK);
            const bool complete = PictureComplete(scans, kept, ids.size());
            EXPECT_EQ(!ours.Untouched(), complete);
            if (complete) ExpectCloseToReference(stream, ours);
            appeared = appeared || complete;
        }
        EXPECT_TRUE(appeared) << name;
    }
}

// Replaces a scan's entropy-coded data by stuffed 0xFF bytes: all one bits,
// which no Huffman code of 16 bits or fewer matches.
std::vector<uint8_t> WithUndecodableScan(const std::vector<uint8_t>& bytes, const Scan& scan) {
    std::vector<uint8_t> damaged = bytes;
    for (size_t i = scan.dataStart; i + 1 < scan.dataEnd; i += 2) {
        damaged[i] = 0xFF;
        damaged[i + 1] = 0x00;
    }
    if ((scan.dataEnd - scan.dataStart) % 2) damaged[scan.dataEnd - 1] = 0x00;
    return damaged;
}

TEST(Progressive, AFailingScanStillYieldsAPictureAndLaterScansGoOn) {
    std::vector<uint8_t> bytes = Testdata("ycc420_prog_227x149_q85.jpg");
    std::vector<int> ids;
    const std::vector<Scan> scans = FindScans(bytes, &ids);
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
    std::vector<int> ids;
    const std::vector<Scan> scans = FindScans(bytes, &ids);
    ASSERT_GE(scans.size(), 3u);
    // The frame header, found again by its marker.
    size_t sof = 0;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC2)) ++sof;
    const size_t sofLength = 2 + ((bytes[sof + 2] << 8) | bytes[sof + 3]);
    const std::vector<uint8_t> header(bytes.begin() + sof, bytes.begin() + sof + sofLength);

    std::vector<uint8_t> repeated = bytes;
    repeated.insert(repeated.begin() + scans[2].offset, header.begin(), header.end());
    EXPECT_EQ(DecodeWithCodec(repeated).status, ICERR_OK);

    std::vector<uint8_t> taller = header;
    taller[6] += 1;  // Y, low byte
    std::vector<uint8_t> changed = bytes;
    changed.insert(changed.begin() + scans[2].offset, taller.begin(), taller.end());
    EXPECT_EQ(DecodeWithCodec(changed).status, ICERR_BADFORMAT);
}

}  // namespace
