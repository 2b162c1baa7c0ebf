// Damaged streams: every test stream cut short at every offset and with
// single bytes changed, decoded through DriverProc and through the decoder
// with every destination colour model. Under AddressSanitizer and
// UndefinedBehaviorSanitizer these runs are the proof that no input makes
// the codec read or write outside a buffer; here they check the status.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

namespace {

using namespace wemb_test;

// Every prefix of every stream goes through the decoder itself. Through
// DriverProc, which adds only the format checks and the mirror, the cuts are
// every offset in the first kDenseBytes (where the headers and the start of
// the scans lie), then about kSparseCuts more spread over the rest.
constexpr size_t kDenseBytes = 400;
constexpr size_t kSparseCuts = 80;
constexpr int kCorruptionsPerStream = 120;

bool IsDecoderStatus(DecoderStatus status) { return status <= DecOk && status >= DecErrBadFrameComponents; }

TEST(DamageSweep, EveryPrefixFailsCleanly) {
    for (const std::string& name : ListTestdata()) {
        const std::vector<uint8_t> bytes = Testdata(name);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(ProbeJpegSize(bytes.data(), bytes.size(), &width, &height)) << name;
        const size_t stride = std::max<size_t>(1, (std::max(bytes.size(), kDenseBytes) - kDenseBytes) / kSparseCuts);
        for (size_t cut = 0; cut + 1 < bytes.size(); ++cut) {
            const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + cut);
            // Without its EOI no stream can succeed.
            const DecoderStatus direct = DecodeWithDecoder(prefix, cut % 2 ? ColorRGB : ColorCMYK, 4).status;
            ASSERT_TRUE(direct < DecOk && IsDecoderStatus(direct)) << name << " cut at " << cut;
            if (cut < kDenseBytes || cut % stride == 0) {
                ASSERT_EQ(DecodeWithCodec(prefix, width, height).status, ICERR_BADFORMAT) << name << " cut at " << cut;
            }
        }
    }
}

TEST(DamageSweep, ChangedBytesGiveAStatusNeverAFault) {
    std::mt19937 random(20261207);
    const int32_t models[] = {ColorUnknown, ColorGrey, ColorRGB, ColorBGR, ColorYCbCr, ColorCMYK};
    for (const std::string& name : ListTestdata()) {
        const std::vector<uint8_t> bytes = Testdata(name);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(ProbeJpegSize(bytes.data(), bytes.size(), &width, &height)) << name;
        std::uniform_int_distribution<size_t> anywhere(0, bytes.size() - 1);
        std::uniform_int_distribution<int> anyByte(0, 255);
        for (int i = 0; i < kCorruptionsPerStream; ++i) {
            std::vector<uint8_t> damaged = bytes;
            const size_t at = anywhere(random);
            // Half of the changes flip one bit, half write a byte: 0xFF
            // often, since it starts markers.
            if (i % 2 == 0) {
                damaged[at] ^= static_cast<uint8_t>(1u << (i / 2 % 8));
            } else {
                damaged[at] = i % 3 == 0 ? 0xFF : static_cast<uint8_t>(anyByte(random));
            }
            const LRESULT status = DecodeWithCodec(damaged, width, height).status;
            ASSERT_TRUE(status == ICERR_OK || status == ICERR_BADFORMAT) << name << " byte " << at;
            ASSERT_TRUE(IsDecoderStatus(DecodeWithDecoder(damaged, models[i % 6], 4).status)) << name << " byte " << at;
        }
    }
}

TEST(DamageSweep, GarbageAfterTheHeadersGivesAStatus) {
    // The headers of a real stream followed by random bytes in place of the
    // entropy-coded data, so that markers, stuffing and codes come in every
    // combination.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (const char* name : {"ycc420_227x149_q85.jpg", "ycc420_prog_227x149_q85.jpg",
                             "ycc422_rst2row_227x149_q85.jpg", "grey_prog_rst3mcu_33x17_q85.jpg"}) {
        std::vector<uint8_t> bytes = Testdata(name);
        size_t scan = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
                scan = i + 2 + ((bytes[i + 2] << 8) | bytes[i + 3]);
                break;
            }
        }
        ASSERT_GT(scan, 0u) << name;
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + scan);
            const size_t length = 16 + trial * 37;
            for (size_t k = 0; k < length; ++k) {
                // Dense in 0xFF so that marker and stuffing paths are hit.
                damaged.push_back(anyByte(random) < 64 ? 0xFF : static_cast<uint8_t>(anyByte(random)));
            }
            if (trial % 2) damaged.insert(damaged.end(), {0xFF, 0xD9});
            const LRESULT status = DecodeWithCodec(damaged).status;
            ASSERT_TRUE(status == ICERR_OK || status == ICERR_BADFORMAT) << name << " trial " << trial;
        }
    }
}

}  // namespace
