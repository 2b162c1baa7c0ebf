#include "support/baseline_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace wemb_test {
namespace {

// Huffman codes for encoding: EHUFCO and EHUFSI of T.81 C.2, indexed by symbol.
struct HuffmanCodes {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> size{};
};

// T.81 Annex C: Figure C.1 (sizes), C.2 (codes) and C.3 (ordering by symbol).
HuffmanCodes BuildCodes(const HuffmanCodeLengths& table) {
    std::vector<int> sizes;
    for (int length = 1; length <= 16; ++length) {
        sizes.insert(sizes.end(), table.counts[length - 1], length);
    }
    HuffmanCodes codes;
    uint32_t code = 0;
    int currentSize = sizes.empty() ? 0 : sizes[0];
    for (size_t k = 0; k < sizes.size(); ++k) {
        while (sizes[k] > currentSize) {
            code <<= 1;
            ++currentSize;
        }
        const uint8_t symbol = table.values[k];
        codes.code[symbol] = static_cast<uint16_t>(code);
        codes.size[symbol] = static_cast<uint8_t>(sizes[k]);
        ++code;
    }
    return codes;
}

// Bit writer for entropy-coded data: most significant bit first, a 0x00 byte
// stuffed after every 0xFF (T.81 F.1.2.3), padding with 1-bits.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void Put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>((byte_ << 1) | ((bits >> i) & 1));
            if (++filled_ == 8) {
                Emit();
            }
        }
    }

    void PadToByte() {
        while (filled_ != 0) {
            Put(1, 1);
        }
    }

private:
    void Emit() {
        out_.push_back(byte_);
        if (byte_ == 0xFF) {
            out_.push_back(0x00);
        }
        byte_ = 0;
        filled_ = 0;
    }

    std::vector<uint8_t>& out_;
    uint8_t byte_ = 0;
    int filled_ = 0;
};

// SSSS of T.81 F.1.2.1: the number of bits of |value|.
int Category(int value) {
    int magnitude = std::abs(value);
    int bits = 0;
    while (magnitude != 0) {
        magnitude >>= 1;
        ++bits;
    }
    return bits;
}

// The additional bits of T.81 F.1.2.1: value itself when positive, value - 1
// (its low `category` bits) when negative.
uint32_t AdditionalBits(int value, int category) {
    const int bits = value < 0 ? value - 1 : value;
    return static_cast<uint32_t>(bits) & ((1u << category) - 1u);
}

// FDCT of T.81 A.3.3 on level-shifted samples, natural order in and out.
std::array<double, 64> ForwardDct(const std::array<double, 64>& samples) {
    std::array<double, 64> out{};
    const double pi = std::acos(-1.0);
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double sum = 0.0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    sum += samples[y * 8 + x] * std::cos((2 * x + 1) * u * pi / 16) *
                           std::cos((2 * y + 1) * v * pi / 16);
                }
            }
            const double cu = u == 0 ? 1.0 / std::sqrt(2.0) : 1.0;
            const double cv = v == 0 ? 1.0 / std::sqrt(2.0) : 1.0;
            out[v * 8 + u] = 0.25 * cu * cv * sum;
        }
    }
    return out;
}

struct ComponentCoder {
    const SamplePlane* plane;
    const QuantValues* quant;
    HuffmanCodes dc;
    HuffmanCodes ac;
    int predictor = 0;
};

// Codes the 8x8 block whose top-left sample is (x0, y0) of the component,
// repeating the plane's last column and row beyond its edge (T.81 A.2.4).
void EncodeBlock(ComponentCoder& c, int32_t x0, int32_t y0, BitWriter& bits) {
    const SamplePlane& p = *c.plane;
    std::array<double, 64> block;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int32_t sx = std::min(x0 + x, p.width - 1);
            const int32_t sy = std::min(y0 + y, p.height - 1);
            block[y * 8 + x] = static_cast<double>(p.At(sx, sy)) - 128.0;
        }
    }
    const std::array<double, 64> dct = ForwardDct(block);
    std::array<int, 64> zz;
    for (int k = 0; k < 64; ++k) {
        const int n = kZigzagToNatural[k];
        zz[k] = static_cast<int>(std::lround(dct[n] / (*c.quant)[n]));
    }

    // DC: difference with the previous block's DC (T.81 F.1.2.1).
    const int diff = zz[0] - c.predictor;
    c.predictor = zz[0];
    const int dcCategory = Category(diff);
    bits.Put(c.dc.code[dcCategory], c.dc.size[dcCategory]);
    bits.Put(AdditionalBits(diff, dcCategory), dcCategory);

    // AC: run lengths of zeros, ZRL for 16 zeros, EOB after the last non-zero.
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        if (zz[k] == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            bits.Put(c.ac.code[0xF0], c.ac.size[0xF0]);
            run -= 16;
        }
        const int category = Category(zz[k]);
        const int symbol = (run << 4) | category;
        bits.Put(c.ac.code[symbol], c.ac.size[symbol]);
        bits.Put(AdditionalBits(zz[k], category), category);
        run = 0;
    }
    if (run > 0) {
        bits.Put(c.ac.code[0x00], c.ac.size[0x00]);
    }
}

}  // namespace

SamplePlane MakePlane(int32_t width, int32_t height, uint8_t h, uint8_t v,
                      const std::function<uint8_t(int32_t x, int32_t y)>& f) {
    SamplePlane p;
    p.width = width;
    p.height = height;
    p.h = h;
    p.v = v;
    p.samples.resize(static_cast<size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            p.samples[static_cast<size_t>(y) * width + x] = f(x, y);
        }
    }
    return p;
}

SamplePlane Downsample(const SamplePlane& full, int fx, int fy, uint8_t h, uint8_t v) {
    const int32_t w = (full.width + fx - 1) / fx;
    const int32_t ht = (full.height + fy - 1) / fy;
    return MakePlane(w, ht, h, v, [&](int32_t x, int32_t y) {
        int sum = 0;
        int count = 0;
        for (int dy = 0; dy < fy; ++dy) {
            for (int dx = 0; dx < fx; ++dx) {
                const int32_t sx = x * fx + dx;
                const int32_t sy = y * fy + dy;
                if (sx < full.width && sy < full.height) {
                    sum += full.At(sx, sy);
                    ++count;
                }
            }
        }
        return static_cast<uint8_t>((sum + count / 2) / count);
    });
}

std::vector<uint8_t> EncodeBaseline(int32_t width, int32_t height,
                                    const std::vector<SamplePlane>& planes,
                                    const BaselineOptions& options) {
    const size_t count = planes.size();
    if (count == 0 || count > 4 || options.quantTables.empty()) {
        return {};  // nothing sensible to encode
    }
    int hMax = 1;
    int vMax = 1;
    for (const SamplePlane& p : planes) {
        hMax = std::max<int>(hMax, p.h);
        vMax = std::max<int>(vMax, p.v);
    }
    const size_t tableCount = options.quantTables.size();
    auto quantIndex = [&](size_t component) -> uint8_t {
        return static_cast<uint8_t>(component == 0 || tableCount == 1 ? 0 : 1);
    };
    auto huffmanIndex = [](size_t component) -> uint8_t { return component == 0 ? 0 : 1; };

    JpegStream s;
    s.Soi();
    if (options.jfif) {
        s.Jfif();
    }
    if (options.adobeTransform >= 0) {
        s.Adobe(static_cast<uint8_t>(options.adobeTransform));
    }
    for (size_t t = 0; t < tableCount; ++t) {
        const QuantValues& q = options.quantTables[t];
        const bool wide = *std::max_element(q.begin(), q.end()) > 255;
        s.Dqt(static_cast<uint8_t>(t), q, wide ? 1 : 0);
    }
    std::vector<FrameComponent> frame;
    std::vector<ScanComponent> scan;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t id = static_cast<uint8_t>(i + 1);
        frame.push_back({id, planes[i].h, planes[i].v, quantIndex(i)});
        scan.push_back({id, huffmanIndex(i), huffmanIndex(i)});
    }
    s.Sof(options.sofCode, static_cast<uint16_t>(width), static_cast<uint16_t>(height), frame);
    s.Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc());
    if (count > 1) {
        s.Dht(kDcClass, 1, AnnexKChrominanceDc()).Dht(kAcClass, 1, AnnexKChrominanceAc());
    }
    if (options.restartInterval != 0) {
        s.Dri(options.restartInterval);
    }
    s.Sos(scan);

    std::vector<ComponentCoder> coders;
    for (size_t i = 0; i < count; ++i) {
        const bool luma = huffmanIndex(i) == 0;
        coders.push_back({&planes[i], &options.quantTables[quantIndex(i)],
                          BuildCodes(luma ? AnnexKLuminanceDc() : AnnexKChrominanceDc()),
                          BuildCodes(luma ? AnnexKLuminanceAc() : AnnexKChrominanceAc())});
    }

    // MCU grid (T.81 A.2): one block per MCU in a single-component scan, else
    // H x V blocks of each component per MCU.
    const bool interleaved = count > 1;
    const int32_t mcusX = interleaved ? (width + 8 * hMax - 1) / (8 * hMax) : (planes[0].width + 7) / 8;
    const int32_t mcusY = interleaved ? (height + 8 * vMax - 1) / (8 * vMax) : (planes[0].height + 7) / 8;
    const int32_t mcuCount = mcusX * mcusY;

    std::vector<uint8_t> data;
    BitWriter bits(data);
    int restartIndex = 0;
    for (int32_t mcu = 0; mcu < mcuCount; ++mcu) {
        const int32_t mx = mcu % mcusX;
        const int32_t my = mcu / mcusX;
        for (ComponentCoder& c : coders) {
            const int bh = interleaved ? c.plane->h : 1;
            const int bv = interleaved ? c.plane->v : 1;
            for (int by = 0; by < bv; ++by) {
                for (int bx = 0; bx < bh; ++bx) {
                    EncodeBlock(c, (mx * bh + bx) * 8, (my * bv + by) * 8, bits);
                }
            }
        }
        const bool intervalEnds = options.restartInterval != 0 && (mcu + 1) % options.restartInterval == 0;
        if (intervalEnds && mcu + 1 < mcuCount) {
            bits.PadToByte();
            data.push_back(0xFF);
            data.push_back(static_cast<uint8_t>(kRst0 + restartIndex));
            restartIndex = (restartIndex + 1) % 8;
            for (ComponentCoder& c : coders) {
                c.predictor = 0;
            }
        }
    }
    bits.PadToByte();
    s.Raw(data).Eoi();
    return s.Bytes();
}

}  // namespace wemb_test
